#pragma once

#include "BackgroundService.h"

#include <optional>

// A background item whose status the test sets; registration outcomes are scripted.
class FakeBackgroundService : public BackgroundService {
public:
    Status current = Status::notRegistered;
    Status afterRegister = Status::enabled;
    std::optional<QString> registerError;
    std::optional<QString> unregisterError;
    int registerCalls = 0;
    int unregisterCalls = 0;
    int settingsOpened = 0;

    Status status() const override { return current; }
    void registerItem() override {
        ++registerCalls;
        current = afterRegister;
        if (registerError)
            throw Failure(*registerError);
    }
    QCoro::Task<void> unregister() override {
        unregisterNow();
        co_return;
    }
    void unregisterNow() override {
        ++unregisterCalls;
        if (unregisterError)
            throw Failure(*unregisterError);
        current = Status::notRegistered;
    }
    void openSystemSettingsLoginItems() override { ++settingsOpened; }
};
