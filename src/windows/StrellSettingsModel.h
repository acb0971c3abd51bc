#pragma once

#include "StrellStatus.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

class ConnectorController;

// The rules of the "Strell 单岗位（试验）" card: its edit state (a local copy of the bridge's routing
// setting) and everything it shows, computed from that state and the controller's gateway fields. Pure: no
// widgets.
class StrellSettingsModel {
public:
    // The controller's fields the card reads.
    struct Inputs {
        std::optional<StrellStatus> strell;
        bool strellBusy = false;
        std::optional<QString> strellMessage;
        bool strellError = false;
        bool running = false;

        static Inputs from(const ConnectorController& controller);
    };

    struct RoleOption {
        QString title;
        QString tag; // the role path stored in the draft when chosen
        bool operator==(const RoleOption&) const = default;
    };

    struct ResultLine {
        QString text;
        bool orange = false;
        bool operator==(const ResultLine&) const = default;
    };

    // One rendering of the card.
    struct View {
        bool hasStatus = false;
        QString absentLine; // without a status: the only line shown

        bool disabled = false;  // the whole column, while the gateway is busy here or in the bridge
        QString current;        // the setting in force, from the bridge's report (not from the draft)
        bool gatewayOn = false; // the mode picker's value
        bool showsGatewayFields = false;
        bool hasRoles = false;
        QList<RoleOption> roleOptions;
        int roleIndex = -1; // the option whose tag is the draft's role
        QString origin;
        QString model;
        QStringList warnings; // orange, in order
        bool checkEnabled = false;
        bool reloadEnabled = false;
        bool saveEnabled = false;
        bool spinner = false;
        std::optional<ResultLine> result;
    };

    // The edit state.
    const StrellDraft& draft() const { return draft_; }
    qint64 revision() const { return revision_; }
    bool edited() const { return edited_; }
    bool confirmsSave() const { return confirmsSave_; }

    // Takes the bridge's setting as the new draft and forgets the edit; nothing without a status.
    void reload(const std::optional<StrellStatus>& strell);

    // Call on every change of the controller: reloads when the bridge's revision changed (also from or to
    // absent), unless the user is editing, so an unsaved edit is never overwritten.
    void follow(const std::optional<StrellStatus>& strell);
    // The card appeared: reload and note the revision it was loaded from.
    void appear(const std::optional<StrellStatus>& strell);

    // Edits through the controls; each marks the draft edited only when the value really changes.
    void setEnabled(bool value);
    void setRole(const QString& value);
    void setOrigin(const QString& value);
    void setModel(const QString& value);

    // The save button's action and the alert's end.
    void askToSave() { confirmsSave_ = true; }
    void closeConfirmation() { confirmsSave_ = false; }

    View view(const Inputs& inputs) const;

    // The save confirmation's texts for the current draft.
    static QString confirmationTitle();
    QString confirmationMessage() const;

    static QString modeTitle(bool gatewayOn);
    static QString noRolesText();
    static QString gatewayNote();
    static QString routeNote();

private:
    template <typename T> void edit(T& field, const T& value) {
        if (field == value)
            return;
        field = value;
        edited_ = true;
    }

    StrellDraft draft_;
    qint64 revision_ = -1; // -1: nothing loaded yet
    bool edited_ = false;
    bool confirmsSave_ = false;
    bool seenAny_ = false;
    std::optional<qint64> seenRevision_; // absent: the last status seen was absent
};
