#include "ConnectorController.h"

#include "UpdateFeed.h"
#include "UpdateGate.h"

QString Health::title() const {
    if (is<Normal>())
        return QStringLiteral("一切正常");
    if (is<Stopped>())
        return QStringLiteral("桥接没在运行");
    return QStringLiteral("有 ") + QString::number(std::get<Attention>(value).points.size()) +
           QStringLiteral(" 项要你看一下");
}

Health ConnectorController::health() const {
    static const QString approval = QStringLiteral("要在系统设置里允许「Orvane 连接器」在后台运行");

    if (uninstalling_)
        return Health::Stopped{QStringLiteral("正在卸载")};
    if (background_.is<Background::WrongLocation>())
        return Health::Stopped{QStringLiteral("先把「Orvane 连接器」拖进「应用程序」，再从那里打开")};
    if (!bridge_) {
        if (const auto* failed = background_.as<Background::Failed>())
            return Health::Stopped{QStringLiteral("后台运行没开成：") + failed->text};
        if (background_.is<Background::RequiresApproval>())
            return Health::Stopped{approval};
        return Health::Stopped{
            QStringLiteral("桥接没在运行：刚开机或刚装好要等几秒；一直这样就点「启动桥接」")};
    }

    QStringList points;
    if (background_.is<Background::RequiresApproval>())
        points << approval;

    if (!engines_.isEmpty()) {
        bool anyUsable = false;
        QStringList titles;
        for (const Engine& engine : engines_) {
            anyUsable = anyUsable || engine.usable;
            titles << engine.title;
        }
        if (!anyUsable)
            points << QStringLiteral("执行工具（") + titles.join(QStringLiteral("、")) +
                          QStringLiteral("）都不能用");
    }

    if (const std::optional<QString> attention = update_.attention()) {
        const auto* ready = update_.as<UpdateState::Ready>();
        if (waitsToInstall_ && ready)
            points << QStringLiteral("连接器新版 ") + QString::number(ready->info.build) +
                          QStringLiteral("：") + updateWaitLine();
        else
            points << *attention;
    }

    if (strell_ && strell_->draft.enabled && strell_->problem)
        points << QStringLiteral("Strell 验证岗位不可用，其他岗位保持直连");

    for (const CliTool& tool : cliTools_)
        if (tool.updateAvailable)
            points << QStringLiteral("执行工具 ") + engineTitle(tool.id) + QStringLiteral(" 有新版本 ") +
                          tool.latestVersion.value_or(QString());

    if (points.isEmpty())
        return Health::Normal{};
    return Health::Attention{points};
}

QString ConnectorController::version(const nlohmann::json& info) {
    const auto textOf = [&info](const char* key) {
        if (info.is_object()) {
            auto it = info.find(key);
            if (it != info.end() && it->is_string())
                return QString::fromStdString(it->get<std::string>());
        }
        return QStringLiteral("?");
    };
    return textOf("CFBundleShortVersionString") + QStringLiteral("（") + textOf("CFBundleVersion") +
           QStringLiteral("）");
}

QString ConnectorController::version() const {
    return version(info_);
}
