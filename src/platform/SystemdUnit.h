#pragma once

#include <QString>

// Names of the systemd --user units that carry the connector's background items on Linux. The unit is named
// after the item's service-manager label, so every part (generation, enable, kickstart) agrees on one name.
namespace SystemdUnit {

inline QString forLabel(const QString& label) {
    return label + QStringLiteral(".service");
}

} // namespace SystemdUnit
