#pragma once

#include "ConnectorController.h"

#include <functional>
#include <utility>
#include <vector>

// The tests' way to put the controller into a state without driving every action that leads there.
struct ControllerTestAccess {
    static void background(ConnectorController& c, Background v) { c.storeBackground(std::move(v)); }
    static void bridge(ConnectorController& c, std::optional<BridgeStatus> v) { c.storeBridge(std::move(v)); }
    static void engines(ConnectorController& c, QList<Engine> v) { c.storeEngines(std::move(v)); }
    static void cliTools(ConnectorController& c, QList<CliTool> v) { c.storeCliTools(std::move(v)); }
    static void cliBusy(ConnectorController& c, bool v) { c.storeCliBusy(v); }
    static void cliActivity(ConnectorController& c, std::optional<CliActivity> v) {
        c.storeCliActivity(std::move(v));
    }
    static void notice(ConnectorController& c, std::optional<QString> v) { c.storeNotice(std::move(v)); }
    static void uninstalling(ConnectorController& c, bool v) { c.storeUninstalling(v); }
    static void update(ConnectorController& c, UpdateState v) { c.storeUpdate(std::move(v)); }
    static void waitsToInstall(ConnectorController& c, bool v) { c.storeWaitsToInstall(v); }
    static void strell(ConnectorController& c, std::optional<StrellStatus> v) { c.storeStrell(std::move(v)); }
    static auto parseStatus(const nlohmann::json& status) { return ConnectorController::parseStatus(status); }
    // Window pages.
    static void cliAvailable(ConnectorController& c, bool v) { c.storeCliAvailable(v); }
    static void cliMessage(ConnectorController& c, std::optional<QString> v) {
        c.storeCliMessage(std::move(v));
    }
    static void pairings(ConnectorController& c, QList<Pairing> v) { c.storePairings(std::move(v)); }
    // Settings cards.
    static void strellBusy(ConnectorController& c, bool v) { c.storeStrellBusy(v); }
    static void strellMessage(ConnectorController& c, QString v) { c.storeStrellMessage(v); }
    static void strellError(ConnectorController& c, bool v) { c.storeStrellError(v); }
    static void sessionHooksBusy(ConnectorController& c, bool v) { c.storeSessionHooksBusy(v); }
    static void sessionHooksMessage(ConnectorController& c, QString v) { c.storeSessionHooksMessage(v); }
    // Diagnostics and uninstall.
    static void statusItemAtLogin(ConnectorController& c, BackgroundService::Status v) {
        c.storeStatusItemAtLogin(v);
    }
    static void lastRefresh(ConnectorController& c, std::optional<QDateTime> v) {
        c.storeLastRefresh(std::move(v));
    }
    static void sessionHooks(ConnectorController& c, std::optional<SessionHooksStatus> v) {
        c.storeSessionHooks(std::move(v));
    }
    // Legacy rename.
    static QCoro::Task<void> renameBundle(ConnectorController& c, QString from, QString to) {
        return c.renameBundle(std::move(from), std::move(to));
    }

    // Every observable field's store function, by field name, each storing the field's current value again.
    // Taken from the controller's own list of observable fields, so a field added there is checked too.
    static std::vector<std::pair<const char*, std::function<void(ConnectorController&)>>> restoreEach() {
        using C = ConnectorController;
#define CONNECTOR_RESTORE(Type, name, Name) {#name, [](C& c) { c.store##Name(c.name()); }},
        return {CONNECTOR_OBSERVABLE_FIELDS(CONNECTOR_RESTORE)};
#undef CONNECTOR_RESTORE
    }
};
