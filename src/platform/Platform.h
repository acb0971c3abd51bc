#pragma once

#include "BackgroundService.h"
#include "CodeSigning.h"
#include "Workspace.h"

#include <QString>
#include <nlohmann/json.hpp>

#include <memory>
#include <optional>
#include <utility>

// A background item that workers may still be using when the controller is gone (a service-manager call
// can outlast the quit): they hold it through this. The application hands over shared ownership; a caller
// whose item outlives every worker (a test's fake) may hand a plain reference.
struct SharedService {
    template <typename T> SharedService(std::shared_ptr<T> owned) : ptr(std::move(owned)) {}
    SharedService(BackgroundService& outlivesWorkers)
        : ptr(std::shared_ptr<BackgroundService>(), &outlivesWorkers) {}
    std::shared_ptr<BackgroundService> ptr;
};

// The operating-system services the controller works with, handed over at construction so that tests inject
// fakes and the application the real implementations.
struct Platform {
    SharedService service;           // the bridge's background item (agent property list)
    SharedService statusItemService; // the status-bar login item (menu-bar property list)
    const nlohmann::json& info;      // the application's Info dictionary (Bundle::mainInfo() in the app)

    // Left out where a caller never needs them: the system's own are used then.
    std::shared_ptr<Workspace> workspace = nullptr;       // finding, launching and revealing apps and files
    std::shared_ptr<const CodeSigning> signing = nullptr; // companion apps' signatures
    std::optional<QString> bundlePath = std::nullopt;     // the running application's bundle
};
