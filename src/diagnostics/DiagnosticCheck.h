#pragma once

#include <QString>

// One line of the diagnostics list: what was looked at, how it stands, and what to do about it.
struct DiagnosticCheck {
    // In this order: a list sorted by level puts the good lines first.
    enum class Level { pass, warn, fail };

    QString id; // stable, also the line's identity in lists
    QString title;
    Level level = Level::pass;
    QString detail;

    bool operator==(const DiagnosticCheck&) const = default;
};
