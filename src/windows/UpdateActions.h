#pragma once

#include "Async.h"

#include <type_traits>
#include <utility>

// The connector update's buttons. The operations belong to the update pipeline; they are called when the
// controller offers them, so the page builds on its own and picks them up as soon as they exist.
namespace UpdateActions {

template <typename C> void checkForUpdates(C& controller) {
    if constexpr (requires { controller.checkForUpdates(true); }) {
        using R = decltype(controller.checkForUpdates(true));
        if constexpr (std::is_void_v<R>)
            controller.checkForUpdates(true);
        else
            Async::spawn(controller.checkForUpdates(true), "connector update check");
    }
}

template <typename C> void requestInstall(C& controller) {
    if constexpr (requires { controller.requestInstall(); })
        controller.requestInstall();
}

template <typename C> void installNow(C& controller) {
    if constexpr (requires { controller.installNow(); })
        controller.installNow();
}

template <typename C> void cancelInstallWait(C& controller) {
    if constexpr (requires { controller.cancelInstallWait(); })
        controller.cancelInstallWait();
}

} // namespace UpdateActions
