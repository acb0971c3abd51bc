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
    static void strellBusy(ConnectorController& c, bool v) { c.storeStrellBusy(v); }
    static QCoro::Task<void> renameBundle(ConnectorController& c, QString from, QString to) {
        return c.renameBundle(std::move(from), std::move(to));
    }

    // Every observable field's store function, by field name, each storing the field's current value again.
    static std::vector<std::pair<const char*, std::function<void(ConnectorController&)>>> restoreEach() {
        using C = ConnectorController;
        return {
            {"background", [](C& c) { c.storeBackground(c.background()); }},
            {"statusItemAtLogin", [](C& c) { c.storeStatusItemAtLogin(c.statusItemAtLogin()); }},
            {"bridge", [](C& c) { c.storeBridge(c.bridge()); }},
            {"engines", [](C& c) { c.storeEngines(c.engines()); }},
            {"cliTools", [](C& c) { c.storeCliTools(c.cliTools()); }},
            {"cliBusy", [](C& c) { c.storeCliBusy(c.cliBusy()); }},
            {"cliMessage", [](C& c) { c.storeCliMessage(c.cliMessage()); }},
            {"cliAvailable", [](C& c) { c.storeCliAvailable(c.cliAvailable()); }},
            {"cliActivity", [](C& c) { c.storeCliActivity(c.cliActivity()); }},
            {"cliResult", [](C& c) { c.storeCliResult(c.cliResult()); }},
            {"pairings", [](C& c) { c.storePairings(c.pairings()); }},
            {"notice", [](C& c) { c.storeNotice(c.notice()); }},
            {"uninstalling", [](C& c) { c.storeUninstalling(c.uninstalling()); }},
            {"update", [](C& c) { c.storeUpdate(c.update()); }},
            {"waitsToInstall", [](C& c) { c.storeWaitsToInstall(c.waitsToInstall()); }},
            {"lastRefresh", [](C& c) { c.storeLastRefresh(c.lastRefresh()); }},
            {"strell", [](C& c) { c.storeStrell(c.strell()); }},
            {"strellBusy", [](C& c) { c.storeStrellBusy(c.strellBusy()); }},
            {"strellMessage", [](C& c) { c.storeStrellMessage(c.strellMessage()); }},
            {"strellError", [](C& c) { c.storeStrellError(c.strellError()); }},
            {"sessionHooks", [](C& c) { c.storeSessionHooks(c.sessionHooks()); }},
            {"sessionHooksBusy", [](C& c) { c.storeSessionHooksBusy(c.sessionHooksBusy()); }},
            {"sessionHooksMessage", [](C& c) { c.storeSessionHooksMessage(c.sessionHooksMessage()); }},
        };
    }
};
