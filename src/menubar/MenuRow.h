#pragma once

#include "MenuCommand.h"

#include <QString>

#include <optional>
#include <type_traits>
#include <variant>

// One line of the status menu, computed from a snapshot; the renderer compares rows by id.
struct MenuRow {
    struct Style {
        // stays: choosing the row runs its command while the menu stays open.
        struct Action {
            MenuCommand command;
            bool stays = false;
            bool operator==(const Action&) const = default;
        };
        struct Title {
            bool operator==(const Title&) const = default;
        };
        struct Section {
            bool operator==(const Section&) const = default;
        };
        struct Separator {
            bool operator==(const Separator&) const = default;
        };
        struct Info {
            bool operator==(const Info&) const = default;
        };
        struct Note {
            bool operator==(const Note&) const = default;
        };
        struct Progress {
            bool operator==(const Progress&) const = default;
        };

        using Value = std::variant<Action, Title, Section, Separator, Info, Note, Progress>;
        Value value = Info{};

        Style() = default;
        template <typename Case, typename = std::enable_if_t<std::is_constructible_v<Value, Case>>>
        Style(Case c) : value(std::move(c)) {}

        static Style action(MenuCommand command, bool stays) { return Action{std::move(command), stays}; }

        bool operator==(const Style&) const = default;

        template <typename Case> bool is() const { return std::holds_alternative<Case>(value); }
        template <typename Case> const Case* as() const { return std::get_if<Case>(&value); }
    };

    QString id;
    Style style;
    QString title;
    bool enabled = true;
    std::optional<QString> toolTip;
    int indent = 0;

    bool operator==(const MenuRow&) const = default;

    // Decides whether the menu's structure changed: "title", "section", "separator", "info", "note", "action"
    // for an ordinary item, "stays" for a row drawn as a custom row (an action that keeps the menu open, or
    // a progress line).
    QString kind() const;

    static MenuRow separator(QString id);
};
