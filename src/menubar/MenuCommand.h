#pragma once

#include <QString>

// What an action row of the status menu does when chosen. The status item turns each into a controller
// operation or a window page.
struct MenuCommand {
    enum class Case {
        updateCli, // payload: an executor tool id such as "codex"
        startBridge,
        checkConnectorUpdate,
        installConnectorUpdate,
        installConnectorUpdateNow,
        cancelConnectorUpdateWait,
        checkCli,
        openSenvik,
        openStart,
        openOverview,
        openDiagnostics,
        quit,
    };

    Case which = Case::quit;
    QString toolId; // only for updateCli; empty otherwise

    MenuCommand() = default;
    MenuCommand(Case c) : which(c) {}

    static MenuCommand updateCli(QString toolId) {
        MenuCommand command(Case::updateCli);
        command.toolId = std::move(toolId);
        return command;
    }

    // The tool id takes part only for updateCli.
    bool operator==(const MenuCommand& other) const {
        return which == other.which && (which != Case::updateCli || toolId == other.toolId);
    }
};
