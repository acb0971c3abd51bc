#pragma once

#include "ConnectorController.h"
#include "ControllerTestAccess.h"
#include "FakeBackgroundService.h"
#include "FakeWorkspace.h"

#include <memory>

// A controller for page tests: fake background items, a fixed Info dictionary, a fake workspace. Its state is
// set through ControllerTestAccess. `C` may be a controller subclass that records actions.
template <typename C> struct BasicPageFixture {
    FakeBackgroundService service;
    FakeBackgroundService statusItem;
    nlohmann::json info = {{"CFBundleShortVersionString", "1.4.0"}, {"CFBundleVersion", "27"}};
    std::shared_ptr<FakeWorkspace> workspace = std::make_shared<FakeWorkspace>();
    C controller{Platform{service, statusItem, info, workspace}};
};
using PageFixture = BasicPageFixture<ConnectorController>;
