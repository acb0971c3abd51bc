#include "SessionHooksModel.h"

#include <gtest/gtest.h>

namespace {

using Target = SessionHooksStatus::Target;

TEST(SessionHooksModel, WithoutAReportOnlyTheUpdateHint) {
    const SessionHooksModel model = SessionHooksModel::make(std::nullopt, false, QStringLiteral("没改成：x"));
    const QString hint = QStringLiteral("当前桥接还不支持「外面的会话」：请先更新连接器。");
    EXPECT_EQ(model, (SessionHooksModel{false, hint, false, false, QStringList(), std::nullopt}));
}

TEST(SessionHooksModel, ALinePerToolThenTheFixedLinesThenTheNote) {
    const QStringList fixed = {
        QStringLiteral(
            "· 只报事件、时刻、工具种类和个数、这一轮最后回答的第一行；提示词、代码、命令、路径不出这台 "
            "Mac。"),
        QStringLiteral("· 别的钩子一条不动；关掉开关或卸载连接器时，这几条原样拿走。")};
    const std::vector<std::tuple<SessionHooksStatus, QStringList, bool>> cases = {
        {{Target{true, true, "P", 4, {}}, Target{false, false, "Q", 0, {}}, {}},
         {QStringLiteral("· Claude Code：在 P 加了 4 条钩子"), QStringLiteral("· Codex：没加钩子，Q 没改动")},
         true},
        {{Target{false, false, "P", 0, {}}, Target{true, true, "Q", 3, QStringLiteral("只读")}, {}},
         {QStringLiteral("· Claude Code：没加钩子，P 没改动"), QStringLiteral("· Codex：只读")},
         true},
        {{Target{true, false, "/u/s.json", 5, {}}, Target{}, QStringLiteral("附注")},
         {QStringLiteral("· Claude Code：在 /u/s.json 加了 5 条钩子（是旧位置的，桥接重启后换成现在的）"),
          QStringLiteral("· Codex：没加钩子， 没改动")},
         true},
        {{},
         {QStringLiteral("· Claude Code：没加钩子， 没改动"), QStringLiteral("· Codex：没加钩子， 没改动")},
         false},
    };
    for (const auto& [hooks, toolLines, on] : cases) {
        for (const bool busy : {false, true}) {
            const SessionHooksModel model = SessionHooksModel::make(hooks, busy, QStringLiteral("打开了"));
            const QStringList note =
                hooks.note ? QStringList{QStringLiteral("· ") + *hooks.note} : QStringList{};
            EXPECT_EQ(model, (SessionHooksModel{
                                 true, {}, on, !busy, toolLines + fixed + note, QStringLiteral("打开了")}));
        }
    }
    EXPECT_EQ(
        SessionHooksModel::explanation(),
        QStringLiteral("你在这台 Mac 上开的每个会话，第一句话发出时都会报到：随口一问只记一条会话（7 "
                       "天没下文自己消失），动了项目里的文件或开了合并申请才开一件事。报到时只送开在哪个目录"
                       "、话里的事项编号、第一句话的头 30 个字；提示词全文、代码、命令不出这台 "
                       "Mac。后两样能在公司的「规则/"
                       "会话.md」里关掉。关着这个开关时外面照样能改卡，只是看不到在办、等你点允许这些。"));
}

} // namespace
