#include "UpdateFeed.h"

#include <limits>

namespace UpdateFeed {

std::optional<QUrl> feedURL(const nlohmann::json& info, const std::optional<QString>& override) {
    QString text;
    if (override && !override->isEmpty()) {
        text = *override;
    } else if (info.is_object()) {
        auto it = info.find("SenvikUpdateFeedURL");
        if (it != info.end() && it->is_string())
            text = QString::fromStdString(it->get<std::string>());
    }
    if (text.isEmpty())
        return std::nullopt;
    const QUrl url(text, QUrl::StrictMode);
    if (!url.isValid())
        return std::nullopt;
    return url;
}

std::optional<qint64> parseBuildNumber(const QString& text) {
    qsizetype i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == QLatin1Char('+') || text[i] == QLatin1Char('-'))) {
        negative = text[i] == QLatin1Char('-');
        ++i;
    }
    if (i == text.size())
        return std::nullopt;
    // Accumulate negatively so that the most negative value still fits.
    qint64 value = 0;
    constexpr qint64 lowest = std::numeric_limits<qint64>::min();
    for (; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c < u'0' || c > u'9')
            return std::nullopt;
        const int digit = c - u'0';
        if (value < (lowest + digit) / 10)
            return std::nullopt;
        value = value * 10 - digit;
    }
    if (!negative) {
        if (value == lowest)
            return std::nullopt;
        value = -value;
    }
    return value;
}

qint64 buildNumber(const nlohmann::json& info) {
    if (!info.is_object())
        return 0;
    auto it = info.find("CFBundleVersion");
    if (it == info.end() || !it->is_string())
        return 0;
    return parseBuildNumber(QString::fromStdString(it->get<std::string>())).value_or(0);
}

} // namespace UpdateFeed
