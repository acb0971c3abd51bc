#pragma once

#include "PageModel.h"
#include "StartProgress.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

class ConnectorController;

// What the start page reads.
struct StartInput {
    StartProgress progress;
    qsizetype pairings = 0;
    bool cliBusy = false;

    static StartInput of(const ConnectorController& controller);
};

// The start page as data.
struct StartModel {
    using Step = StartProgress::Step;

    struct Node {
        QString title;
        QString subtitle;
        QString status;
        bool fine = false;
        QString accessibleLabel;
        bool operator==(const Node&) const = default;
    };
    enum class Marker { done, current, later };
    struct StepRow {
        Step step = Step::engine;
        int number = 1;
        QString title;
        Marker marker = Marker::later;
        std::optional<QString> detail; // the second line; absent for the current step
        QString accessibleLabel;
        bool operator==(const StepRow&) const = default;
    };
    struct EngineLine {
        QString title;
        QString summary;
        bool usable = false;
        bool operator==(const EngineLine&) const = default;
    };
    enum class Action { none, findAgain, openDownloadPage, openSenvik };
    struct Help {
        Step step = Step::engine;
        QString text;
        std::optional<QString> state; // the bridge's state while looking for tools
        QList<EngineLine> engines;
        std::optional<QString> note; // above the button
        Action action = Action::none;
        QString actionTitle;
        bool prominent = false;
        bool actionEnabled = true;
        bool operator==(const Help&) const = default;
    };

    QList<Node> nodes;        // three
    QList<StepRow> steps;     // three, in step order
    std::optional<Help> help; // for the current step only
    bool complete = false;    // the completion card

    bool operator==(const StartModel&) const = default;

    static StartModel from(const StartInput& input);
};

// The fixed texts of the start page.
namespace StartTexts {
inline const QString introStrong = QStringLiteral("三样东西连起来，Agent 才干得了活。");
inline const QString introRest = QStringLiteral("连接器在中间，自己不带 AI。");
inline const QString doneTitle = QStringLiteral("都接好了。开第一家公司");
inline const QString doneText =
    QStringLiteral("在 Orvane 的「我的 "
                   "Agent」里招第一个岗位：写周报的助理、记账员、家里管家。要你定的事会变成一张卡，在手机和"
                   "手表上点一下就继续。");
inline const QString openSenvik = QStringLiteral("打开 Orvane");
inline const QString phoneTitle = QStringLiteral("手机上还没有 Orvane？");
inline const QString phoneText = QStringLiteral(
    "用手机相机扫一下，到下载页：iPhone 走 TestFlight，安卓下安装包。装好后用同一个账号登录。");
inline const QString qrLabel = QStringLiteral("去下载页的二维码");
} // namespace StartTexts
