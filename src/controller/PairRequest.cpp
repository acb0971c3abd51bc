#include "PairRequest.h"

#include "ConnectorPaths.h"

#include <QDir>
#include <QUrlQuery>

namespace {

// The first query item named `name`: nothing when there is none or it has no value ("name" without "=").
std::optional<QString> firstValue(const QList<std::pair<QString, QString>>& items, const QString& name) {
    for (const auto& [key, value] : items) {
        if (key == name)
            return value.isNull() ? std::nullopt : std::optional<QString>(value);
    }
    return std::nullopt;
}

bool acceptableState(const QString& state) {
    if (state.size() < 16 || state.size() > 128)
        return false;
    for (const QChar c : state) {
        const char16_t u = c.unicode();
        const bool ok = (u >= u'a' && u <= u'z') || (u >= u'A' && u <= u'Z') || (u >= u'0' && u <= u'9') ||
                        u == u'-' || u == u'_';
        if (!ok)
            return false;
    }
    return true;
}

// The host as written in the link's text (between "//" and the first of "/", "?", "#", without user
// information and port), for the case-sensitive comparison QUrl cannot make any more.
QString writtenHost(const QString& link, qsizetype afterScheme) {
    if (link.mid(afterScheme, 2) != QStringLiteral("//"))
        return {};
    const qsizetype start = afterScheme + 2;
    qsizetype end = start;
    while (end < link.size() && link[end] != QLatin1Char('/') && link[end] != QLatin1Char('?') &&
           link[end] != QLatin1Char('#'))
        ++end;
    QString authority = link.mid(start, end - start);
    if (const qsizetype at = authority.lastIndexOf(QLatin1Char('@')); at >= 0)
        authority = authority.mid(at + 1);
    if (const qsizetype colon = authority.indexOf(QLatin1Char(':')); colon >= 0)
        authority.truncate(colon);
    return authority;
}

} // namespace

std::optional<PairRequest> PairRequest::from(const QString& link) {
    const qsizetype colon = link.indexOf(QLatin1Char(':'));
    if (colon <= 0 || link.left(colon) != ConnectorPaths::scheme)
        return std::nullopt;
    if (writtenHost(link, colon + 1) != QStringLiteral("pair"))
        return std::nullopt;
    const QUrl url(link, QUrl::StrictMode);
    if (!url.isValid() || url.host() != QStringLiteral("pair") || !url.hasQuery())
        return std::nullopt;

    const QList<std::pair<QString, QString>> items = QUrlQuery(url).queryItems(QUrl::FullyDecoded);
    const std::optional<QString> app = firstValue(items, QStringLiteral("app"));
    if (!app || !ConnectorPaths::senvikApps.contains(*app))
        return std::nullopt;
    const std::optional<QString> state = firstValue(items, QStringLiteral("state"));
    if (!state || !acceptableState(*state))
        return std::nullopt;

    PairRequest request;
    request.bundleID = *app;
    request.state = *state;
    // An empty "path" names no place at all; the system's own location of the app is used then.
    if (const std::optional<QString> path = firstValue(items, QStringLiteral("path"));
        path && !path->isEmpty()) {
        QString directory = QDir::isAbsolutePath(*path) ? *path : QDir::current().absoluteFilePath(*path);
        if (!directory.endsWith(QLatin1Char('/')))
            directory += QLatin1Char('/');
        request.appURL = directory;
    }
    return request;
}

std::optional<QString> PairRequest::appPath() const {
    if (!appURL)
        return std::nullopt;
    return QDir::cleanPath(*appURL);
}

QUrl PairRequest::ticketLink(qint64 port, const QString& ticket) const {
    QUrl link;
    link.setScheme(bundleID);
    link.setHost(QStringLiteral("agent-connector"));
    QUrlQuery query;
    query.addQueryItem(QStringLiteral("port"), QString::number(port));
    query.addQueryItem(QStringLiteral("ticket"), ticket);
    query.addQueryItem(QStringLiteral("state"), state);
    link.setQuery(query);
    return link;
}
