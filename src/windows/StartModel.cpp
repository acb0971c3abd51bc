#include "StartModel.h"

#include "ConnectorController.h"

StartInput StartInput::of(const ConnectorController& controller) {
    return {controller.startProgress(), controller.pairings().size(), controller.cliBusy()};
}

namespace {

QString readyTitles(const StartProgress& p) {
    QStringList titles;
    for (const Engine& engine : p.readyEngines())
        titles << engine.title;
    return titles.join(QStringLiteral("、")) + QStringLiteral(" 能用");
}

StartModel::Node node(QString title, QString subtitle, QString status, bool fine) {
    StartModel::Node n{std::move(title), std::move(subtitle), std::move(status), fine, {}};
    n.accessibleLabel = n.title + QStringLiteral("，") + n.subtitle + QStringLiteral("，") + n.status;
    return n;
}

QString stepTitle(StartProgress::Step step) {
    switch (step) {
    case StartProgress::Step::engine:
        return QStringLiteral("这台 Mac 上的执行工具");
    case StartProgress::Step::app:
        return QStringLiteral("这台 Mac 上装 Orvane");
    case StartProgress::Step::link:
        return QStringLiteral("Orvane 连上连接器");
    }
    return {};
}

QString doneText(StartProgress::Step step, const StartInput& in) {
    switch (step) {
    case StartProgress::Step::engine:
        return readyTitles(in.progress);
    case StartProgress::Step::app:
        return QStringLiteral("装好了");
    case StartProgress::Step::link:
        return QStringLiteral("已连上 ") + QString::number(in.pairings) + QStringLiteral(" 个");
    }
    return {};
}

StartModel::Help helpFor(StartProgress::Step step, const StartInput& in) {
    StartModel::Help h;
    h.step = step;
    const StartProgress& p = in.progress;
    switch (step) {
    case StartProgress::Step::engine:
        h.text = QStringLiteral(
            "岗位靠 Codex、Claude Code 或 EvoX 干活，有一个能用就够。它们用的是你自己的账号和订阅。");
        if (!p.bridgeRunning)
            h.state = QStringLiteral("桥接没在运行，查不了。到「概览」看一下。");
        else if (p.engines.isEmpty())
            h.state = QStringLiteral("正在找…");
        for (const Engine& engine : p.engines)
            h.engines << StartModel::EngineLine{engine.title, engine.summary, engine.usable};
        if (p.bridgeRunning && !p.engines.isEmpty()) {
            h.note = QStringLiteral("装好或登录好一个以后，点「再找一遍」。怎么登录见「诊断」页。");
            h.action = StartModel::Action::findAgain;
            h.actionTitle = QStringLiteral("再找一遍");
            h.actionEnabled = !in.cliBusy;
        }
        break;
    case StartProgress::Step::app:
        h.text = QStringLiteral(
            "现在连接器靠这台 Mac 上的 Orvane 和你的手机来回。Mac 版走 TestFlight：下载页上有步骤，"
            "装好后登录。");
        h.action = StartModel::Action::openDownloadPage;
        h.actionTitle = QStringLiteral("去下载页装 Orvane");
        h.prominent = true;
        break;
    case StartProgress::Step::link:
        h.text = QStringLiteral("在 Orvane 里打开「我的 Agent」，会自动连上，不用终端，也不用连接码。");
        h.action = StartModel::Action::openSenvik;
        h.actionTitle = StartTexts::openSenvik;
        h.prominent = true;
        break;
    }
    return h;
}

} // namespace

StartModel StartModel::from(const StartInput& in) {
    const StartProgress& p = in.progress;
    StartModel m;
    const bool hasReady = !p.readyEngines().isEmpty();
    m.nodes << node(QStringLiteral("Orvane"), QStringLiteral("你在手机、手表、Mac 上交代、拍板"),
                    p.paired ? QStringLiteral("已连上") : QStringLiteral("还没连上"), p.paired)
            << node(QStringLiteral("这台 Mac 的连接器"), QStringLiteral("接话、排活、守规矩"),
                    QStringLiteral("已装好"), true)
            << node(QStringLiteral("执行工具"), QStringLiteral("真正干活的，用你自己的账号"),
                    hasReady ? readyTitles(p) : QStringLiteral("还没有能用的"), hasReady);

    const std::optional<Step> current = p.current();
    for (Step step : StartProgress::allSteps) {
        StepRow row;
        row.step = step;
        row.number = int(step);
        row.title = stepTitle(step);
        QString state;
        if (p.done(step)) {
            row.marker = Marker::done;
            row.detail = doneText(step, in);
            state = QStringLiteral("做完了，") + *row.detail;
        } else if (current == step) {
            row.marker = Marker::current;
            state = QStringLiteral("现在做");
        } else {
            row.marker = Marker::later;
            row.detail = QStringLiteral("先做上一步");
            state = *row.detail;
        }
        row.accessibleLabel = QStringLiteral("第 ") + QString::number(row.number) + QStringLiteral(" 步，") +
                              row.title + QStringLiteral("，") + state;
        m.steps << row;
    }
    if (current)
        m.help = helpFor(*current, in);
    m.complete = !current;
    return m;
}
