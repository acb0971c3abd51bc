#include "StatusMenuRenderer.h"
#include "MenuRowView.h"

#include "RunTask.h"

#include <QMenu>
#include <QWidgetAction>
#include <gtest/gtest.h>

namespace {

using S = MenuRow::Style;
using C = MenuCommand::Case;

MenuRow row(QString id, S style, QString title, bool enabled = true) {
    MenuRow r;
    r.id = std::move(id);
    r.style = std::move(style);
    r.title = std::move(title);
    r.enabled = enabled;
    return r;
}

QList<MenuRow> menuRows() {
    return {
        row("health", S::Title{}, "Orvane 连接器 · 一切正常"),
        MenuRow::separator("after-health"),
        row("bridge", S::Info{}, "桥接　在运行"),
        row("connector-section", S::Section{}, "Orvane 连接器（含桥接）"),
        row("connector-update", S::action(C::checkConnectorUpdate, true), "检查连接器更新"),
        row("cli-check", S::action(C::checkCli, true), "检查执行工具更新", false),
        row("cli-result", S::Note{}, "检查完了"),
        row("open-window", S::action(C::openOverview, false), "打开连接器窗口…"),
        row("diagnostics", S::action(C::openDiagnostics, false), "诊断…", false),
        row("quit", S::action(C::quit, false), "退出状态栏图标"),
    };
}

qsizetype indexOf(const QList<MenuRow>& rows, const QString& id) {
    for (qsizetype i = 0; i < rows.size(); ++i)
        if (rows[i].id == id)
            return i;
    return -1;
}

MenuRowView* viewOf(QAction* item) {
    auto* widgetItem = qobject_cast<QWidgetAction*>(item);
    return widgetItem ? qobject_cast<MenuRowView*>(widgetItem->defaultWidget()) : nullptr;
}

class Renderer : public ::testing::Test {
protected:
    QList<MenuCommand> performed;
    StatusMenuRenderer renderer{[this](const MenuCommand& c) { performed << c; }};
    QMenu menu;
    QList<MenuRow> rows = menuRows();

    QAction* item(const QString& id) { return menu.actions().value(indexOf(renderer.rows(), id)); }
};

TEST_F(Renderer, TheSameRowsTwiceTouchNoItem) {
    renderer.render(rows, menu);
    const QList<QAction*> before = menu.actions();
    const qint64 created = renderer.itemsCreated(), configured = renderer.itemsConfigured();
    EXPECT_EQ(created, rows.size());
    renderer.render(rows, menu);
    EXPECT_EQ(renderer.itemsCreated(), created);
    EXPECT_EQ(renderer.itemsConfigured(), configured);
    EXPECT_EQ(menu.actions(), before);
}

TEST_F(Renderer, ATitleTurningIntoProgressKeepsItsItemAndViewAndSpinsOnlyWhileShown) {
    renderer.render(rows, menu);
    QAction* update = item("connector-update");
    MenuRowView* view = viewOf(update);
    ASSERT_NE(view, nullptr);
    menu.popup(QPoint(0, 0));
    ASSERT_TRUE(TestSupport::spinUntil([&] { return view->isVisible(); }));
    EXPECT_FALSE(view->spinning());

    const qint64 configured = renderer.itemsConfigured();
    rows[indexOf(rows, "connector-update")] = row("connector-update", S::Progress{}, "正在检查连接器更新…");
    renderer.render(rows, menu);
    EXPECT_EQ(renderer.itemsConfigured(), configured + 1) << "only the changed row";
    EXPECT_EQ(item("connector-update"), update);
    EXPECT_EQ(viewOf(update), view);
    EXPECT_EQ(view->title(), QStringLiteral("正在检查连接器更新…"));
    EXPECT_TRUE(view->spinning());

    menu.hide();
    EXPECT_FALSE(view->spinning()) << "no timer while the menu is closed";
    menu.popup(QPoint(0, 0));
    ASSERT_TRUE(TestSupport::spinUntil([&] { return view->isVisible(); }));
    EXPECT_TRUE(view->spinning());

    rows = menuRows();
    renderer.render(rows, menu);
    EXPECT_EQ(viewOf(item("connector-update")), view);
    EXPECT_FALSE(view->spinning());
    menu.hide();
}

TEST_F(Renderer, AnAddedOrRemovedRowRebuilds) {
    renderer.render(rows, menu);
    QPointer<QAction> old = item("bridge");
    rows.insert(1, row("attention-0", S::Info{}, "要在系统设置里允许「Orvane 连接器」在后台运行"));
    renderer.render(rows, menu);
    EXPECT_EQ(renderer.itemsCreated(), menuRows().size() + rows.size());
    EXPECT_TRUE(old.isNull()) << "the old items are gone";
    EXPECT_EQ(menu.actions().size(), rows.size());
    rows.removeAt(1);
    renderer.render(rows, menu);
    EXPECT_EQ(renderer.itemsCreated(), menuRows().size() + 2 * rows.size() + 1);
}

TEST_F(Renderer, OnlyEnabledActionsRun) {
    renderer.render(rows, menu);
    const struct {
        const char* id;
        bool runs;
    } cases[] = {
        {"health", false},      {"bridge", false},      {"cli-result", false},      {"cli-check", false},
        {"diagnostics", false}, {"no-such-row", false}, {"connector-update", true}, {"open-window", true},
    };
    for (const auto& c : cases) {
        performed.clear();
        renderer.run(QString::fromUtf8(c.id));
        EXPECT_EQ(performed.size(), c.runs ? 1 : 0) << c.id;
    }
    // Clicks on the custom rows: the disabled one and a progress line run nothing.
    performed.clear();
    EXPECT_FALSE(viewOf(item("cli-check"))->press());
    rows[indexOf(rows, "connector-update")] = row("connector-update", S::Progress{}, "正在检查连接器更新…");
    renderer.render(rows, menu);
    EXPECT_FALSE(viewOf(item("connector-update"))->press());
    EXPECT_TRUE(performed.isEmpty());
    rows = menuRows();
    renderer.render(rows, menu);
    EXPECT_TRUE(viewOf(item("connector-update"))->press());
    ASSERT_EQ(performed.size(), 1);
    EXPECT_EQ(performed[0], MenuCommand(C::checkConnectorUpdate));
}

TEST_F(Renderer, AnItemWhoseRowIsGoneRunsNothing) {
    renderer.render(rows, menu);
    QAction* quit = item("quit");
    menu.removeAction(quit); // kept alive, as a click already on its way would keep it
    rows.removeLast();
    renderer.render(rows, menu);
    quit->trigger();
    EXPECT_TRUE(performed.isEmpty());
    item("open-window")->trigger();
    EXPECT_EQ(performed.size(), 1);
}

TEST_F(Renderer, LongTitlesWidenAndShortOnesDoNotShrink) {
    renderer.render(rows, menu);
    MenuRowView* view = viewOf(item("connector-update"));
    const int narrow = view->sizeHint().width();
    const QString longTitle =
        QStringLiteral("正在更新 Claude Code 到 1.0.40，完成后自动刷新模型清单和其它很多东西…");
    rows[indexOf(rows, "connector-update")].title = longTitle;
    renderer.render(rows, menu);
    const int wide = view->sizeHint().width();
    EXPECT_GT(wide, narrow);
    rows = menuRows();
    renderer.render(rows, menu);
    EXPECT_EQ(view->sizeHint().width(), wide);
    EXPECT_EQ(view->sizeHint().height(), 24);
}

TEST_F(Renderer, StylesOfPlainItems) {
    rows[indexOf(rows, "cli-result")].toolTip = QStringLiteral("检查完了，全部是最新");
    rows[indexOf(rows, "cli-result")].indent = 1;
    renderer.render(rows, menu);
    EXPECT_TRUE(item("health")->font().bold());
    EXPECT_FALSE(item("health")->isEnabled());
    EXPECT_FALSE(item("bridge")->isEnabled());
    EXPECT_FALSE(item("cli-result")->isEnabled());
    EXPECT_EQ(item("cli-result")->toolTip(), QStringLiteral("检查完了，全部是最新"));
    EXPECT_EQ(item("cli-result")->text(), QStringLiteral("　检查完了")) << "one level of indentation";
    EXPECT_TRUE(item("after-health")->isSeparator());
    EXPECT_TRUE(item("open-window")->isEnabled());
    EXPECT_FALSE(item("diagnostics")->isEnabled());
    EXPECT_EQ(viewOf(item("cli-check"))->accessibleName(), QStringLiteral("检查执行工具更新"));
}

// Trays that export the menu over D-Bus show no widgets: the same rows become plain items.
TEST_F(Renderer, PlainItemsCarryTheSameContent) {
    renderer.render(rows, menu);
    renderer.setPlainItems(true);
    rows[indexOf(rows, "connector-update")] = row("connector-update", S::Progress{}, "正在下载新版 45%");
    renderer.render(rows, menu);
    for (QAction* each : menu.actions())
        EXPECT_EQ(viewOf(each), nullptr) << each->text().toStdString();
    EXPECT_EQ(item("connector-update")->text(), QStringLiteral("正在下载新版 45%"));
    EXPECT_FALSE(item("connector-update")->isEnabled());
    EXPECT_FALSE(item("cli-check")->isEnabled());
    EXPECT_EQ(item("connector-section")->text(), QStringLiteral("Orvane 连接器（含桥接）"));
    rows = menuRows();
    renderer.render(rows, menu);
    item("connector-update")->trigger();
    ASSERT_EQ(performed.size(), 1);
    EXPECT_EQ(performed[0], MenuCommand(C::checkConnectorUpdate));
}

} // namespace
