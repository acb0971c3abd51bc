#pragma once

#include "UpdateInfo.h"

#include <QDateTime>
#include <QString>

#include <optional>
#include <variant>

// Where the self-update stands; the menu, the window, the health summary and the diagnostics read it.
struct UpdateState {
    struct Idle {
        std::optional<QDateTime> lastChecked; // last check that found this build up to date, since launch
        bool operator==(const Idle&) const = default;
    };
    struct Downloading {
        UpdateInfo info;
        qint64 received = 0;
        std::optional<qint64> total;
        bool operator==(const Downloading&) const = default;
    };
    struct Verifying {
        UpdateInfo info;
        bool operator==(const Verifying&) const = default;
    };
    struct Ready {
        UpdateInfo info;
        QString staged; // local path of the verified copy of the new application
        bool operator==(const Ready&) const = default;
    };
    struct Installing {
        UpdateInfo info;
        bool operator==(const Installing&) const = default;
    };
    struct Failed {
        QString text; // shown as it is
        bool operator==(const Failed&) const = default;
    };
    struct NotConfigured {
        bool operator==(const NotConfigured&) const = default;
    };
    struct Checking {
        bool operator==(const Checking&) const = default;
    };

    using Value =
        std::variant<Idle, Downloading, Verifying, Ready, Installing, Failed, NotConfigured, Checking>;
    Value value = Idle{};

    UpdateState() = default;
    template <typename Case, typename = std::enable_if_t<std::is_constructible_v<Value, Case>>>
    UpdateState(Case c) : value(std::move(c)) {}

    bool operator==(const UpdateState&) const = default;

    template <typename Case> bool is() const { return std::holds_alternative<Case>(value); }
    template <typename Case> const Case* as() const { return std::get_if<Case>(&value); }

    // One line about work under way (checking, downloading, verifying, installing); absent otherwise.
    std::optional<QString> activity() const;

    // "已下 12 MB", or "45%（12/27 MB）" when the total is known. Decimal megabytes.
    static QString progress(qint64 received, std::optional<qint64> total);

    // The pipeline holds a download or a staged copy, or is working on one.
    bool inFlight() const;

    // Download progress for a bar, 0…1; only while downloading with a known total.
    std::optional<double> fraction() const;

    // The health point a ready update makes; absent in every other case. The setting decides the ending.
    std::optional<QString> attention(bool autoInstall) const;
    std::optional<QString> attention() const; // with ConnectorSettings::autoInstallUpdates()
};
