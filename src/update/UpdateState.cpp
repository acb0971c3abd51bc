#include "UpdateState.h"

#include "ConnectorSettings.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

QString megabytes(qint64 bytes) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.0f", static_cast<double>(bytes) / 1'000'000.0);
    return QString::fromLatin1(buffer);
}

} // namespace

QString UpdateState::progress(qint64 received, std::optional<qint64> total) {
    if (!total || *total < 1)
        return QStringLiteral("已下 ") + megabytes(received) + QStringLiteral(" MB");
    const double percent =
        std::min(100.0, std::floor(static_cast<double>(received) / static_cast<double>(*total) * 100.0));
    return QString::number(static_cast<qint64>(percent)) + QStringLiteral("%（") + megabytes(received) +
           QLatin1Char('/') + megabytes(*total) + QStringLiteral(" MB）");
}

std::optional<QString> UpdateState::activity() const {
    if (is<Checking>())
        return QStringLiteral("正在检查连接器更新…");
    if (const auto* d = as<Downloading>())
        return QStringLiteral("正在下载新版 ") + QString::number(d->info.build) + QStringLiteral(" · ") +
               progress(d->received, d->total);
    if (const auto* v = as<Verifying>())
        return QStringLiteral("正在核对新版 ") + QString::number(v->info.build) +
               QStringLiteral(" 的签名和公证…");
    if (const auto* i = as<Installing>())
        return QStringLiteral("正在换上新版 ") + QString::number(i->info.build) +
               QStringLiteral("，马上重开…");
    return std::nullopt;
}

bool UpdateState::inFlight() const {
    return is<Checking>() || is<Downloading>() || is<Verifying>() || is<Ready>() || is<Installing>();
}

std::optional<double> UpdateState::fraction() const {
    const auto* d = as<Downloading>();
    if (!d || !d->total || *d->total <= 0)
        return std::nullopt;
    return std::min(static_cast<double>(d->received) / static_cast<double>(*d->total), 1.0);
}

std::optional<QString> UpdateState::attention(bool autoInstall) const {
    const auto* r = as<Ready>();
    if (!r)
        return std::nullopt;
    return QStringLiteral("连接器新版本 ") + r->info.label() + QStringLiteral(" 已下好") +
           (autoInstall ? QStringLiteral("，岗位都跑完后自动换上") : QStringLiteral("，可以更新"));
}

std::optional<QString> UpdateState::attention() const {
    if (!is<Ready>())
        return std::nullopt;
    return attention(ConnectorSettings::autoInstallUpdates());
}
