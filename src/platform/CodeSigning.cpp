#include "CodeSigning.h"

void SigningKeyring::add(const QString& team, const QByteArray& publicKey) {
    if (publicKey.size() == 32)
        keys_.emplace(team, publicKey);
}

QList<QByteArray> SigningKeyring::keysFor(const QString& team) const {
    QList<QByteArray> result;
    const auto [first, last] = keys_.equal_range(team);
    for (auto it = first; it != last; ++it)
        result << it->second;
    return result;
}
