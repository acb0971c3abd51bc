#pragma once

#include "BackgroundService.h"

#include <nlohmann/json.hpp>

// The operating-system services the controller works with, handed over at construction so that tests inject
// fakes and the application the real implementations. Everything referred to outlives the controller.
struct Platform {
    BackgroundService& service;           // the bridge's background item (agent property list)
    BackgroundService& statusItemService; // the status-bar login item (menu-bar property list)
    const nlohmann::json& info;           // the application's Info dictionary (Bundle::mainInfo() in the app)
};
