#include "CodeSigning.h"

#include <stdexcept>
#include <string>

void SigningKeyring::add(const QString& team, const QByteArray& publicKey) {
    if (publicKey.size() != 32)
        throw std::invalid_argument("the signing key of team " + team.toStdString() + " has " +
                                    std::to_string(publicKey.size()) + " bytes instead of 32");
    keys_.emplace(team, publicKey);
}

QList<QByteArray> SigningKeyring::keysFor(const QString& team) const {
    QList<QByteArray> result;
    const auto [first, last] = keys_.equal_range(team);
    for (auto it = first; it != last; ++it)
        result << it->second;
    return result;
}
