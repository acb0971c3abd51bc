#pragma once

#include <QString>
#include <QUrl>

#include <optional>

// A pairing link from a companion app that passed validation:
// senvik-connector://pair?app=<bundle id>&state=<state>&path=<app location>
struct PairRequest {
    QString bundleID;              // one of the companion apps' identifiers; also the scheme of our answer
    std::optional<QString> appURL; // the requesting app's bundle as a directory (ends in "/"), when given
    QString state;                 // the app's own token, handed back unchanged

    bool operator==(const PairRequest&) const = default;

    // The request in `link`, or nothing when the link is not an acceptable pairing link. Works on the link's
    // original text: scheme and host must match exactly, and a parsed QUrl has already lower-cased both.
    static std::optional<PairRequest> from(const QString& link);

    // The answer for this request: <bundle id>://agent-connector?port=<port>&ticket=<ticket>&state=<state>,
    // percent-encoded. Invalid when no valid link results.
    QUrl ticketLink(qint64 port, const QString& ticket) const;

    // Where the requesting app lies, as a plain path (no trailing slash), when the link named it.
    std::optional<QString> appPath() const;
};
