#pragma once

#include "BackgroundService.h"
#include "CodeSigning.h"
#include "Workspace.h"

#include <QString>
#include <nlohmann/json.hpp>

#include <memory>
#include <optional>

// The operating-system services the controller works with, handed over at construction so that tests inject
// fakes and the application the real implementations. Everything referred to outlives the controller.
struct Platform {
    BackgroundService& service;           // the bridge's background item (agent property list)
    BackgroundService& statusItemService; // the status-bar login item (menu-bar property list)
    const nlohmann::json& info;           // the application's Info dictionary (Bundle::mainInfo() in the app)

    // Left out where a caller never needs them: the system's own are used then.
    std::shared_ptr<Workspace> workspace = nullptr;       // finding, launching and revealing apps and files
    std::shared_ptr<const CodeSigning> signing = nullptr; // companion apps' signatures
    std::optional<QString> bundlePath = std::nullopt;     // the running application's bundle
};
