#pragma once

#include "Controls.h"

#include <QAbstractButton>
#include <QAbstractScrollArea>
#include <QCoreApplication>
#include <QDir>
#include <QEvent>
#include <QImage>
#include <QLabel>
#include <QLayout>
#include <QList>
#include <QPushButton>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <cstdlib>
#include <string>

// Page and card screenshots: rendered offscreen and written as <dir>/<name>.png, where <dir> is
// $CONNECTOR_SCREENS_DIR or else the build folder's screens/.
namespace Screens {

inline QString dir() {
    if (const char* set = std::getenv("CONNECTOR_SCREENS_DIR"); set && *set)
        return QString::fromLocal8Bit(set);
    return QStringLiteral(CONNECTOR_SCREENS_DEFAULT_DIR);
}

// Lays `widget` out at its own size and renders it at twice the density, so texts can be read in the PNG.
inline QImage render(QWidget& widget) {
    // Shown without a screen, so layouts and scroll areas settle exactly as in the window.
    if (!widget.isVisible()) {
        widget.setAttribute(Qt::WA_DontShowOnScreen);
        widget.show();
    }
    // A changed text re-lays out its card, which then asks its page for room: each step is a posted event of
    // its own, so settle every layout, innermost first, a few rounds over.
    for (int round = 0; round < 3; ++round) {
        const QList<QLayout*> layouts = widget.findChildren<QLayout*>();
        for (auto it = layouts.rbegin(); it != layouts.rend(); ++it)
            (*it)->activate();
        if (!widget.parentWidget())
            widget.adjustSize();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
        QCoreApplication::processEvents();
    }
    QImage image(widget.size() * 2, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(2);
    image.fill(widget.palette().color(QPalette::Window));
    widget.render(&image);
    return image;
}

// Writes the image of `widget` as `name`.png; returns the path written, or an empty text on failure.
inline QString write(QWidget& widget, const QString& name) {
    const QString folder = dir();
    QDir().mkpath(folder);
    const QString path = folder + QLatin1Char('/') + name + QStringLiteral(".png");
    return render(widget).save(path) ? path : QString();
}

// What a user would see as broken in `top` as laid out now: a label or button whose text needs more room than
// it has (wrapping labels: more height), two visible siblings on top of each other, a widget reaching out of
// its parent (a scroll area's content excepted), a button not made in the house style.
inline QStringList layoutProblems(QWidget& top) {
    QStringList problems;
    auto name = [](const QWidget* w) { // labels and buttons by their text
        return QString::fromLatin1(w->metaObject()->className()) + " \"" + w->property("text").toString() +
               '"';
    };
    for (QWidget* w : top.findChildren<QWidget*>()) {
        if (!w->isVisibleTo(&top) || w->isWindow())
            continue;
        const auto* label = qobject_cast<QLabel*>(w);
        const QSize needs = w->sizeHint();
        const bool wraps = label && label->wordWrap();
        if (((label && !label->text().isEmpty()) || qobject_cast<QAbstractButton*>(w)) &&
            (wraps ? label->heightForWidth(w->width()) > w->height()
                   : needs.width() > w->width() || needs.height() > w->height()))
            problems << name(w) + QStringLiteral(" clipped: needs %1 px, has %2 px")
                                      .arg(wraps ? label->heightForWidth(w->width()) : needs.width())
                                      .arg(wraps ? w->height() : w->width());
        if (const auto* push = qobject_cast<QPushButton*>(w);
            push && !push->isCheckable() && !push->property(Controls::buttonStyleProperty).isValid())
            problems << name(w) + QStringLiteral(" not in the house button style");
        QWidget* parent = w->parentWidget();
        const auto* scrollArea = qobject_cast<QAbstractScrollArea*>(parent->parentWidget());
        if (!(scrollArea && scrollArea->viewport() == parent) && !parent->rect().contains(w->geometry()))
            problems << name(w) + QStringLiteral(" outside its parent ") + name(parent);
        for (QObject* other : parent->children()) {
            if (other == w)
                break; // each pair once
            auto* sibling = qobject_cast<QWidget*>(other);
            if (sibling && sibling->isVisibleTo(&top) && !sibling->isWindow() &&
                sibling->geometry().intersects(w->geometry()))
                problems << name(w) + QStringLiteral(" overlaps ") + name(sibling);
        }
    }
    return problems;
}

// Lays `widget` out, writes its picture as `name`.png and returns the layout's problems (and a failed write),
// one a line; empty when there are none.
inline std::string check(QWidget& widget, const QString& name) {
    const bool written = !write(widget, name).isEmpty();
    QStringList problems = layoutProblems(widget);
    if (!written)
        problems << QStringLiteral("no picture written for ") + name;
    return problems.join(QLatin1Char('\n')).toStdString();
}

} // namespace Screens
