#pragma once

#include "DiagnosticCheck.h"
#include "PageModel.h"

#include <QDateTime>
#include <QList>
#include <QString>

#include <optional>

class ConnectorController;

// What the diagnostics page shows, as a pure function of the controller, the checks and the page's own flag.
struct DiagnosticsModel {
    struct Row {
        QString id;
        QString symbol; // system symbol name
        Tone tone = Tone::green;
        QString title;
        QString detail;
        bool operator==(const Row&) const = default;
    };

    QList<Row> rows;
    bool showsStartBridge = false;    // "启动桥接"
    QString copyTitle;                // "复制诊断信息", or "已复制" just after a copy
    std::optional<QString> lastCheck; // "上次检查 …" once a refresh has finished
    bool operator==(const DiagnosticsModel&) const = default;

    static DiagnosticsModel from(const ConnectorController& controller, const QList<DiagnosticCheck>& checks,
                                 bool copied);
    static Row row(const DiagnosticCheck& check);

    static inline const QString recheck = QStringLiteral("重新检查");
    static inline const QString startBridge = QStringLiteral("启动桥接");
    static inline const QString copy = QStringLiteral("复制诊断信息");
    static inline const QString copiedTitle = QStringLiteral("已复制");
    static inline const QString showLog = QStringLiteral("查看日志");
    static inline const QString note =
        QStringLiteral("复制出来的诊断信息里没有令牌和连接票，主目录写成 ~，账号只留末 6 位。");
};
