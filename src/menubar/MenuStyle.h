#pragma once

#include <QProxyStyle>

// Draws the menu's plain items, section headers and separators on the custom rows' grid: every text starts
// at the rows' leading inset, a section header is a secondary-coloured heading without a rule of its own (the
// separator before it already draws one), the highlight is the rows' rounded one, and a note's text has the
// secondary label colour.
class MenuStyle : public QProxyStyle {
    Q_OBJECT

public:
    MenuStyle();

    void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget = nullptr) const override;
    QSize sizeFromContents(ContentsType type, const QStyleOption* option, const QSize& size,
                           const QWidget* widget = nullptr) const override;

    // An item carrying this property as true draws its text in the secondary label colour (note rows).
    static const char* const secondaryTextProperty;
};
