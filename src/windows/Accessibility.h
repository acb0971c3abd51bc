#pragma once

#include <QAccessible>

class QWidget;

// What assistive technology reads of the window beyond Qt's defaults.
namespace Accessibility {

// Shows `widget` to screen readers as one element of `role` named by its accessible name: its child widgets
// (labels, a drawn step marker) are not exposed on their own, so each is read once, in one piece.
void oneElement(QWidget* widget, QAccessible::Role role = QAccessible::StaticText);

} // namespace Accessibility
