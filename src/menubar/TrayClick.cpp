#include "TrayClick.h"

namespace TrayClick {

Action onClick(Tray tray, Button button, bool startCompleted) {
    if (button != Button::left)
        return Nothing{};
    if (tray == Tray::embedded)
        return PopUpMenu{};
    return ShowWindow{startCompleted ? WindowPage::overview : WindowPage::start};
}

} // namespace TrayClick
