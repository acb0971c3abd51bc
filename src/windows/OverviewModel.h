#pragma once

#include "ControllerTypes.h"
#include "Health.h"
#include "PageModel.h"
#include "UpdateState.h"

#include <QDateTime>
#include <QList>
#include <QString>

#include <optional>

class ConnectorController;

// Everything the overview page reads, copied out of the controller and the settings, so the page's rules can
// be computed and tested without a window.
struct OverviewInput {
    Health health;
    Background background;
    std::optional<BridgeStatus> bridge;
    QList<Engine> engines;
    qsizetype enginesNotListed = 0;
    QList<Pairing> pairings;
    QList<CliTool> cliTools;
    bool cliAvailable = false;
    bool cliBusy = false;
    std::optional<QString> cliMessage;
    UpdateState update;
    bool waitsToInstall = false;
    QString updateWaitLine;
    std::optional<QString> notice;
    bool updatedThisLaunch = false;
    QString version;
    bool autoInstallUpdates = false;

    bool running() const { return bridge.has_value(); }
    qint64 openRuns() const { return bridge ? bridge->openRuns : 0; }

    static OverviewInput of(const ConnectorController& controller);
};

// The overview page as data: which rows, texts, buttons and enabled flags it shows.
struct OverviewModel {
    struct Callout {
        enum class Button { none, openLoginItems, startBridge };
        Tone tone =
            Tone::orange; // the callout's colour; secondary grey texts are drawn in the primary colour
        QString symbol;
        QStringList lines;
        Button button = Button::none;
        QString buttonTitle;
        bool operator==(const Callout&) const = default;
    };
    struct Row {
        QString symbol;
        QString title;
        QString detail;
        bool ok = false;
        bool operator==(const Row&) const = default;
    };
    struct PairingRow {
        Pairing pairing;
        QString label;
        QString detail;
        bool operator==(const PairingRow&) const = default;
    };
    struct ToolRow {
        CliTool tool;
        QString heading; // title, a space, the version or "版本未知"
        QString message;
        std::optional<QString> models; // "<n> 个模型"
        bool hasUpdateButton = false;
        bool updateEnabled = false;
        bool operator==(const ToolRow&) const = default;
    };
    struct Tools {
        QList<ToolRow> rows;
        std::optional<QString> unavailable; // why the tool commands cannot run
        bool buttonsEnabled = false;        // the whole row of buttons
        bool refreshEnabled = false;        // "刷新模型清单" in addition
        bool busy = false;                  // the small indeterminate indicator
        std::optional<QString> message;
        std::optional<QString> openRunsNote;
        bool operator==(const Tools&) const = default;
    };
    struct UpdateControl {
        enum class Kind { none, checkButton, spinner, progressBar, waitButtons, installButton };
        Kind kind = Kind::none;
        std::optional<double> fraction; // the bar's value, 0…1 (progressBar only)
        QString installHelp;            // the help text of "更新" (installButton only)
        bool operator==(const UpdateControl&) const = default;
    };

    std::optional<Callout> callout;
    QList<Row> status;                 // card "运行状态"
    std::optional<QString> noPairings; // card "已连接的 Orvane" without pairings
    QList<PairingRow> pairings;
    Tools tools;         // card "执行工具更新（Codex、Claude Code、EvoX）"
    QString versionLine; // "Orvane 连接器 " + version
    QString updateLine;
    UpdateControl updateControl;
    std::optional<QString> notice;

    bool operator==(const OverviewModel&) const = default;

    static OverviewModel from(const OverviewInput& input);

    // The update line alone; `idle` times shown in the locale's short time style.
    static QString updateLineFor(const OverviewInput& input);
    static UpdateControl updateControlFor(const OverviewInput& input);
};

// The confirmation before an executor tool is updated.
struct ToolUpdateConfirmation {
    QString title;
    QString message;
    QString confirm; // "更新 " + the tool's title
    QString cancel;

    static ToolUpdateConfirmation of(const CliTool& tool);
};

// The card titles and fixed texts of the overview page.
namespace OverviewTexts {
inline const QString statusCard = QStringLiteral("运行状态");
inline const QString pairingsCard = QStringLiteral("已连接的 Orvane");
inline const QString toolsCard = QStringLiteral("执行工具更新（Codex、Claude Code、EvoX）");
inline const QString updateCard = QStringLiteral("Orvane 连接器更新（含桥接）");
inline const QString disconnect = QStringLiteral("断开");
inline const QString update = QStringLiteral("更新");
inline const QString checkTools = QStringLiteral("检查执行工具更新");
inline const QString refreshModels = QStringLiteral("刷新模型清单");
inline const QString checkConnector = QStringLiteral("检查连接器更新");
inline const QString cancelWait = QStringLiteral("取消等待");
inline const QString installNow = QStringLiteral("现在就换");
inline const QString installNowHelp =
    QStringLiteral("打断正在跑的几轮，马上换上；桥接起来后给它们补排一轮接着办");
} // namespace OverviewTexts
