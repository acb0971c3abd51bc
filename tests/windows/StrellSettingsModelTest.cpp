#include "StrellSettingsModel.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>

namespace {

using Model = StrellSettingsModel;

StrellStatus status(qint64 revision = 3, bool enabled = false, const QString& role = {}) {
    return StrellStatus{
        revision, true, false, true, StrellDraft{enabled, role}, {{"r/a", "甲"}, {"r/b", "乙"}}, {}};
}
Model::Inputs in(std::optional<StrellStatus> s, bool running = true) {
    return Model::Inputs{std::move(s), false, std::nullopt, false, running};
}

TEST(StrellSettingsModel, WithoutAStatusOneLineSaysWhy) {
    EXPECT_EQ(Model().view(in({}, false)).absentLine,
              QStringLiteral("桥接没在运行，连接后可查看和更改路线。"));
    EXPECT_EQ(Model().view(in({})).absentLine,
              QStringLiteral("当前桥接还不支持界面网关设置，请先更新连接器。"));
}

TEST(StrellSettingsModel, TheCurrentLineAndTheRolePickerWithARemovedRole) {
    const QString gone = QStringLiteral("岗位已不存在");
    const std::vector<std::tuple<StrellStatus, QString, QStringList, int>> cases = {
        {status(),
         QStringLiteral("当前：所有岗位原生直连"),
         {"甲 · r/a", "乙 · r/b"},
         0}, // starts on the first
        {status(3, true, "r/b"), QStringLiteral("当前：乙 使用 Strell"), {"甲 · r/a", "乙 · r/b"}, 1},
        {status(3, true, "r/x"), QStringLiteral("当前：r/x 使用 Strell"), {gone, "甲 · r/a", "乙 · r/b"}, 0},
    };
    for (const auto& [s, current, titles, index] : cases) {
        Model model;
        model.reload(s);
        model.setEnabled(true);
        const Model::View v = model.view(in(s));
        QStringList shown;
        for (const auto& option : v.roleOptions)
            shown << option.title;
        EXPECT_EQ(std::tie(v.current, shown, v.roleIndex), std::tie(current, titles, index));
        EXPECT_EQ(v.roleOptions.value(index).tag, model.draft().role);
    }
}

// Steps: S/D choose Strell/direct, a/f re-enter the loaded role/model, m/o clear model/origin, B busy here,
// b busy in the bridge, E not editable, I not idle, R saved elsewhere (revision 4), N never loaded.
TEST(StrellSettingsModel, ButtonsAndWarnings) {
    const std::vector<std::tuple<const char*, bool, bool, bool, int>> cases = {
        // check, reload, save, warnings
        {"", false, true, false, 0},   {"S", true, true, true, 0},     {"SD", false, true, true, 0},
        {"af", false, true, false, 0}, {"Sm", true, true, false, 0},   {"So", true, true, false, 0},
        {"mo", false, true, true, 0},  {"SB", false, false, false, 0}, {"Sb", false, false, false, 0},
        {"SE", true, true, false, 1},  {"SI", true, true, false, 1},   {"SR", true, true, true, 1},
        {"NSa", true, true, false, 1},
    };
    using I = Model::Inputs;
    const std::map<char, std::function<void(Model&, I&)>> apply = {
        {'S', [](Model& m, I&) { m.setEnabled(true); }},
        {'D', [](Model& m, I&) { m.setEnabled(false); }},
        {'a', [](Model& m, I&) { m.setRole("r/a"); }},
        {'f', [](Model& m, I&) { m.setModel("fixture/validation-model"); }},
        {'m', [](Model& m, I&) { m.setModel({}); }},
        {'o', [](Model& m, I&) { m.setOrigin({}); }},
        {'B', [](Model&, I& i) { i.strellBusy = true; }},
        {'b', [](Model&, I& i) { i.strell->busy = true; }},
        {'E', [](Model&, I& i) { i.strell->editable = false; }},
        {'I', [](Model&, I& i) { i.strell->idle = false; }},
        {'R', [](Model&, I& i) { i.strell->revision = 4; }},
        {'N', [](Model& m, I&) { m = Model(); }},
    };
    for (const auto& [steps, check, reload, save, warnings] : cases) {
        Model model;
        I i = in(status());
        model.reload(i.strell);
        for (const char step : std::string_view(steps))
            apply.at(step)(model, i);
        const Model::View v = model.view(i);
        EXPECT_EQ(
            std::make_tuple(v.checkEnabled, v.reloadEnabled, v.saveEnabled, v.warnings.size(), v.disabled),
            std::make_tuple(check, reload, save, qsizetype(warnings), !reload))
            << steps;
    }
    StrellStatus s = status(4);
    s.editable = s.idle = false;
    Model model;
    model.reload(status(3));
    model.setEnabled(true);
    EXPECT_EQ(
        model.view(in(s)).warnings,
        (QStringList{"启动参数或手动桥接正在管理路线；使用连接器托管模式后可在此保存。连接检查仍可使用。",
                     "有 Agent 工作或执行工具更新未结束，完成后才能保存切换。",
                     "设置已在其他窗口更改，请重新载入后保存。"}));
    EXPECT_EQ(model.confirmationMessage(),
              "仅所选岗位从下一轮起使用 Strell 和此固定模型；原生直连会话与设置保留。");
    model.setEnabled(false);
    EXPECT_EQ(model.confirmationMessage(), "恢复原生直连，继续各岗位原来的直连会话；网关会话保留。");
}

TEST(StrellSettingsModel, ARevisionChangeReloadsOnlyWhileNothingIsEdited) {
    Model model;
    model.appear(status(3));
    model.follow(status(4, true, "r/b"));
    EXPECT_EQ(std::make_pair(model.revision(), model.draft().role),
              std::make_pair(qint64(4), QStringLiteral("r/b")));
    model.setModel("x/y");
    model.follow(status(5));
    model.follow(std::nullopt);
    EXPECT_EQ(std::make_pair(model.revision(), model.draft().model),
              std::make_pair(qint64(4), QStringLiteral("x/y")));
    model.reload(status(5)); // "重新载入"
    model.follow(std::nullopt);
    model.follow(status(5, true, "r/a"));
    EXPECT_TRUE(model.draft().enabled && !model.edited()) << "back from absent is a change";
}

TEST(StrellSettingsModel, TheProblemOutranksTheMessage) {
    using R = Model::ResultLine;
    const std::vector<std::tuple<const char*, const char*, bool, std::optional<R>>> cases = {
        {nullptr, nullptr, false, {}},
        {nullptr, "已恢复原生直连。", false, R{"已恢复原生直连。", false}},
        {nullptr, "桥接没在运行", true, R{"桥接没在运行", true}},
        {"网关离线", "已恢复原生直连。", false, R{"网关离线", true}}};
    for (const auto& [problem, message, error, result] : cases) {
        Model::Inputs i = in(status());
        i.strell->problem = problem ? std::optional<QString>(problem) : std::nullopt;
        i.strellMessage = message ? std::optional<QString>(message) : std::nullopt;
        i.strellError = error;
        EXPECT_EQ(Model().view(i).result, result);
    }
}

} // namespace
