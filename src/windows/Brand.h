#pragma once

#include <QColor>
#include <QFont>
#include <QPalette>
#include <QStringList>

#include "PageModel.h"

// The window's colours and type. The accent tints the whole window and marks what is fine; the other colours
// are the platform's fixed system colours, so every desktop shows the same picture.
namespace Brand {

inline const QColor accent = QColor::fromRgb(240, 138, 93); // #F08A5D
inline const QColor green = QColor::fromRgb(52, 199, 89);
inline const QColor orange = QColor::fromRgb(255, 149, 0);
inline const QColor red = QColor::fromRgb(255, 59, 48);
inline const QColor secondary = QColor::fromRgb(128, 128, 133); // secondary text and grey marks
inline const QColor primaryText = QColor::fromRgb(29, 29, 31);  // primary text on light backgrounds
inline const QColor controlBackground = QColor::fromRgb(255, 255, 255);
inline const QColor windowBackground = QColor::fromRgb(236, 236, 236);
inline const QColor separator = QColor::fromRgba(qRgba(0, 0, 0, 38));

// `color` with its alpha multiplied by `opacity`.
inline QColor withOpacity(QColor color, qreal opacity) {
    color.setAlphaF(color.alphaF() * opacity);
    return color;
}

// The type family, first found first: Noto Sans CJK has real bold and semibold Chinese glyphs, so one line
// keeps one weight; WenQuanYi Micro Hei (one weight) is the usual alternative; else the desktop's default.
inline QStringList families() {
    return {QStringLiteral("Noto Sans CJK SC"), QStringLiteral("WenQuanYi Micro Hei")};
}

// The application's default font (menus, check boxes, fields) in the window's family.
inline QFont applicationFont(QFont base) {
    base.setFamilies(families());
    return base;
}

// The system font at `size` points. Sizes are logical pixels, as on the Mac, so the measures hold on every
// desktop whatever its font DPI.
inline QFont font(int size, QFont::Weight weight = QFont::Normal) {
    QFont f;
    f.setFamilies(families());
    f.setPixelSize(size);
    f.setWeight(weight);
    return f;
}

// The window's palette: light, with the accent as highlight so selected segments and default buttons share
// it.
inline QPalette palette() {
    QPalette p;
    p.setColor(QPalette::Window, windowBackground);
    p.setColor(QPalette::Base, controlBackground);
    p.setColor(QPalette::AlternateBase, windowBackground);
    p.setColor(QPalette::WindowText, primaryText);
    p.setColor(QPalette::Text, primaryText);
    p.setColor(QPalette::ButtonText, primaryText);
    p.setColor(QPalette::Button, QColor::fromRgb(250, 250, 250));
    p.setColor(QPalette::Highlight, accent);
    p.setColor(QPalette::HighlightedText, Qt::white);
    p.setColor(QPalette::PlaceholderText, secondary);
    p.setColor(QPalette::Disabled, QPalette::WindowText, withOpacity(primaryText, 0.35));
    p.setColor(QPalette::Disabled, QPalette::Text, withOpacity(primaryText, 0.35));
    p.setColor(QPalette::Disabled, QPalette::ButtonText, withOpacity(primaryText, 0.35));
    return p;
}

// The colour of a page model's tone.
inline QColor color(Tone tone) {
    switch (tone) {
    case Tone::primary:
        return primaryText;
    case Tone::secondary:
        return secondary;
    case Tone::accent:
        return accent;
    case Tone::green:
        return green;
    case Tone::orange:
        return orange;
    case Tone::red:
        return red;
    }
    return primaryText;
}

} // namespace Brand
