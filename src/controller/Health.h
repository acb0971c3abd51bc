#pragma once

#include <QString>
#include <QStringList>

#include <type_traits>
#include <variant>

// The state of the bridge's background item.
struct Background {
    struct Failed {
        QString text; // the system's description, or one of our fixed texts
        bool operator==(const Failed&) const = default;
    };
    struct Checking {
        bool operator==(const Checking&) const = default;
    };
    struct Enabled {
        bool operator==(const Enabled&) const = default;
    };
    struct RequiresApproval {
        bool operator==(const RequiresApproval&) const = default;
    };
    // Running from a disk image or the system's quarantine copy, where no background item can be registered.
    struct WrongLocation {
        bool operator==(const WrongLocation&) const = default;
    };

    using Value = std::variant<Failed, Checking, Enabled, RequiresApproval, WrongLocation>;
    Value value = Checking{};

    Background() = default;
    template <typename Case, typename = std::enable_if_t<std::is_constructible_v<Value, Case>>>
    Background(Case c) : value(std::move(c)) {}

    bool operator==(const Background&) const = default;

    template <typename Case> bool is() const { return std::holds_alternative<Case>(value); }
    template <typename Case> const Case* as() const { return std::get_if<Case>(&value); }
};

// Everything the connector knows, reduced to one verdict.
struct Health {
    struct Attention {
        QStringList points; // at least one
        bool operator==(const Attention&) const = default;
    };
    struct Stopped {
        QString reason;
        bool operator==(const Stopped&) const = default;
    };
    struct Normal {
        bool operator==(const Normal&) const = default;
    };

    using Value = std::variant<Attention, Stopped, Normal>;
    Value value = Normal{};

    Health() = default;
    template <typename Case, typename = std::enable_if_t<std::is_constructible_v<Value, Case>>>
    Health(Case c) : value(std::move(c)) {}

    bool operator==(const Health&) const = default;

    template <typename Case> bool is() const { return std::holds_alternative<Case>(value); }
    template <typename Case> const Case* as() const { return std::get_if<Case>(&value); }

    // "一切正常", "桥接没在运行", "有 N 项要你看一下"
    QString title() const;
};
