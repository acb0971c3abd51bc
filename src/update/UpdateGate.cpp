#include "UpdateGate.h"

namespace UpdateGate {

Click click(qint64 openRuns, bool cliBusy) {
    return (openRuns > 0 || cliBusy) ? Click::wait : Click::installNow;
}

bool installsNow(bool autoInstall, bool waiting, qint64 openRuns, bool menuOpen, bool cliBusy) {
    return (autoInstall || waiting) && openRuns == 0 && !menuOpen && !cliBusy;
}

QString waitLine(qint64 openRuns, bool cliBusy, bool menuOpen) {
    if (openRuns >= 1)
        return QStringLiteral("等 ") + QString::number(openRuns) + QStringLiteral(" 个岗位这一轮办完就换上");
    if (cliBusy)
        return QStringLiteral("等执行工具忙完就换上");
    if (menuOpen)
        return QStringLiteral("关上菜单就换上");
    return QStringLiteral("马上换上");
}

} // namespace UpdateGate
