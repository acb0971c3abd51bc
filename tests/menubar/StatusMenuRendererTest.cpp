#include "StatusMenuRenderer.h"
#include "DBusMenuExport.h"
#include "MenuRowView.h"

#include "RunTask.h"

#include <QImage>
#include <QMenu>
#include <QRegularExpression>
#include <QWidgetAction>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

namespace {

using S = MenuRow::Style;
using C = MenuCommand::Case;

MenuRow row(QString id, S style, QString title, bool enabled = true) {
    return MenuRow{std::move(id), std::move(style), std::move(title), enabled, std::nullopt, 0};
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

// What a D-Bus menu host shows for an exported label: "__" as "_", a single "_" (the mnemonic marker) not at
// all.
QString dbusShows(QString label) {
    return label.replace(QRegularExpression(QStringLiteral("_(.)")), QStringLiteral("\\1"));
}

// Where a row's ink starts in the menu's picture (its first column that differs from the row's background),
// or -1 for a row holding a rule (one unbroken inked line over half its width).
int inkLeft(const QImage& image, const QRect& item) {
    const QRect row = item.adjusted(4, 2, -4, -2); // clear of the menu frame's lines
    const int background = qGray(image.pixel(row.left() + 1, row.top() + 1));
    int left = row.right();
    for (int y = row.top(); y <= row.bottom(); ++y)
        for (int x = row.left(), run = 0; x <= row.right(); ++x) {
            run = std::abs(qGray(image.pixel(x, y)) - background) > 30 ? run + 1 : 0;
            if (run > row.width() / 2)
                return -1;
            left = run ? std::min(left, x) : left;
        }
    return left;
}

class Renderer : public ::testing::Test {
protected:
    QList<MenuCommand> performed;
    StatusMenuRenderer renderer{[this](const MenuCommand& c) { performed << c; }};
    QMenu menu;
    QList<MenuRow> rows = menuRows();

    qsizetype at(const QString& id) const {
        for (qsizetype i = 0; i < rows.size(); ++i)
            if (rows[i].id == id)
                return i;
        return -1;
    }
    QAction* item(const QString& id) { return menu.actions().value(at(id)); }
    MenuRowView* view(const QString& id) {
        auto* widgetItem = qobject_cast<QWidgetAction*>(item(id));
        return widgetItem ? qobject_cast<MenuRowView*>(widgetItem->defaultWidget()) : nullptr;
    }
    void setUpdateRow(S style, QString title) {
        rows[at("connector-update")] = row("connector-update", std::move(style), std::move(title));
        renderer.render(rows, menu);
    }
    void showMenu() {
        menu.popup(QPoint(0, 0));
        ASSERT_TRUE(TestSupport::spinUntil([&] { return view("connector-update")->isVisible(); }));
    }
};

TEST_F(Renderer, SameRowsTwiceTouchNothingAndOneChangedTitleTouchesOneItemAndStartsTheSpinner) {
    renderer.render(rows, menu);
    const QList<QAction*> items = menu.actions();
    MenuRowView* update = view("connector-update");
    EXPECT_EQ(renderer.itemsCreated(), rows.size());
    renderer.render(rows, menu);
    EXPECT_EQ(renderer.itemsCreated(), rows.size());
    EXPECT_EQ(renderer.itemsConfigured(), rows.size() - 2)
        << "separator and section are built, not configured";

    showMenu();
    EXPECT_FALSE(update->spinning());
    setUpdateRow(S::Progress{}, "正在检查连接器更新…");
    EXPECT_EQ(renderer.itemsConfigured(), rows.size() - 1);
    EXPECT_EQ(menu.actions(), items);
    EXPECT_EQ(view("connector-update"), update);
    EXPECT_EQ(update->title(), QStringLiteral("正在检查连接器更新…"));
    EXPECT_TRUE(update->spinning());
    menu.hide();
    EXPECT_FALSE(update->spinning()) << "no timer while the menu is closed";
    showMenu();
    EXPECT_TRUE(update->spinning());
    setUpdateRow(S::action(C::checkConnectorUpdate, true), "检查连接器更新");
    EXPECT_EQ(view("connector-update"), update);
    EXPECT_FALSE(update->spinning());
    menu.hide();
}

TEST_F(Renderer, AnAddedRowRebuildsAndAGoneRowRunsNothing) {
    renderer.render(rows, menu);
    QPointer<QAction> bridge = item("bridge");
    QAction* quit = item("quit");
    menu.removeAction(quit); // kept alive, like a click already on its way
    rows.removeLast();
    rows.insert(1, row("attention-0", S::Info{}, "要在系统设置里允许「Orvane 连接器」在后台运行"));
    renderer.render(rows, menu);
    EXPECT_EQ(renderer.itemsCreated(), 2 * rows.size());
    EXPECT_TRUE(bridge.isNull()) << "the old items are gone";
    quit->trigger();
    EXPECT_TRUE(performed.isEmpty());
}

TEST_F(Renderer, OnlyEnabledActionsRun) {
    renderer.render(rows, menu);
    for (const char* id : {"health", "bridge", "cli-result", "cli-check", "diagnostics", "no-such-row"})
        renderer.run(id);
    EXPECT_FALSE(view("cli-check")->press());
    item("open-window")->trigger();
    EXPECT_TRUE(view("connector-update")->press());
    setUpdateRow(S::Progress{}, "正在检查连接器更新…");
    EXPECT_FALSE(view("connector-update")->press());
    const QList<MenuCommand> expected{MenuCommand(C::openOverview), MenuCommand(C::checkConnectorUpdate)};
    EXPECT_EQ(performed, expected);
}

TEST_F(Renderer, LongTitlesWidenAndShortOnesDoNotShrink) {
    renderer.render(rows, menu);
    const int narrow = view("connector-update")->sizeHint().width();
    setUpdateRow(S::action(C::checkConnectorUpdate, true),
                 "正在更新 Claude Code 到 1.0.40，完成后自动刷新模型清单…");
    const int wide = view("connector-update")->sizeHint().width();
    EXPECT_GT(wide, narrow);
    setUpdateRow(S::action(C::checkConnectorUpdate, true), "检查连接器更新");
    EXPECT_EQ(view("connector-update")->sizeHint(), QSize(wide, 24));
}

TEST_F(Renderer, StylesOfTheRows) {
    rows[at("cli-result")].indent = 1;
    renderer.render(rows, menu);
    EXPECT_TRUE(item("health")->font().bold());
    for (const char* id : {"health", "bridge", "cli-result", "diagnostics"})
        EXPECT_FALSE(item(id)->isEnabled()) << id;
    EXPECT_EQ(item("cli-result")->text(), QStringLiteral("　检查完了")) << "one level of indentation";
    EXPECT_EQ(view("cli-check")->accessibleName(), QStringLiteral("检查执行工具更新"));
}

// StatusNotifier hosts draw the exported menu, without widgets: the same rows become plain items, and the
// host hears of each change in the smallest form, with item ids that stay with their rows.
TEST_F(Renderer, TheExportedMenuCarriesTheSameContent) {
    DBusMenuExport exported;
    QObject::connect(&exported, &DBusMenuExport::chosen, [this](const MenuCommand& c) { performed << c; });
    int layouts = 0;
    QList<QList<DBusMenuItem>> updates;
    QObject::connect(&exported, &DBusMenuExport::layoutUpdated, [&] { ++layouts; });
    QObject::connect(&exported, &DBusMenuExport::itemsPropertiesUpdated,
                     [&](const QList<DBusMenuItem>& changed) { updates << changed; });
    setUpdateRow(S::Progress{}, "正在下载新版 45%");
    exported.setRows(rows);
    const auto shown = [&](const char* id) {
        return exported.layout(0, -1, {}).children.value(at(id)).properties;
    };
    const std::tuple<const char*, const char*, bool> items[] = {
        // clang-format off
        {"health", "Orvane 连接器 · 一切正常", false}, {"connector-section", "Orvane 连接器（含桥接）", false},
        {"connector-update", "正在下载新版 45%", false}, {"cli-check", "检查执行工具更新", false},
        {"open-window", "打开连接器窗口…", true},
        // clang-format on
    };
    for (const auto& [id, label, enabled] : items) {
        EXPECT_EQ(shown(id).value("label").toString(), QString::fromUtf8(label)) << id;
        EXPECT_EQ(shown(id).value("enabled").toBool(), enabled) << id;
    }
    EXPECT_EQ(shown("after-health").value("type"), "separator");
    EXPECT_EQ(layouts, 1);

    const int quitId = exported.itemId("quit");
    setUpdateRow(S::action(C::checkConnectorUpdate, true), "检查连接器更新");
    rows[at("cli-result")].title = "都是最新版";
    exported.setRows(rows);
    EXPECT_EQ(layouts, 1) << "the same rows of the same kinds";
    ASSERT_EQ(updates.size(), 1);
    ASSERT_EQ(updates[0].size(), 2) << "the two rows that changed";
    EXPECT_EQ(updates[0][0].id, exported.itemId("connector-update"));
    EXPECT_EQ(updates[0][1].properties.value("label"), "都是最新版");

    const int gone = exported.itemId("connector-update");
    EXPECT_TRUE(exported.event(gone, "clicked"));
    EXPECT_TRUE(exported.event(exported.itemId("cli-check"), "clicked")) << "disabled: runs nothing";
    rows.removeAt(at("connector-update"));
    exported.setRows(rows);
    EXPECT_EQ(layouts, 2);
    EXPECT_EQ(exported.itemId("quit"), quitId);
    EXPECT_FALSE(exported.event(gone, "clicked")) << "a row gone since the host drew the menu";
    EXPECT_EQ(performed, QList<MenuCommand>{MenuCommand(C::checkConnectorUpdate)});
}

// Texts from the bridge, the feed or a file show every "&" and "_", drawn by Qt or exported over D-Bus.
TEST_F(Renderer, OutsideTextsShowAsTheyAre) {
    const QString outside = QStringLiteral("…?a=1&b=2 (R&D) my_repo");
    const QStringList ids{"health",           "bridge",     "connector-section",
                          "connector-update", "cli-result", "open-window"};
    for (const QString& id : ids)
        rows[at(id)].title = outside;
    renderer.render(rows, menu);
    for (const QString& id : ids) {
        const QString shown = view(id) ? view(id)->title() : item(id)->iconText(); // iconText drops mnemonics
        EXPECT_EQ(shown, outside) << id.toStdString();
    }
    for (const QString& id : ids)
        EXPECT_EQ(dbusShows(DBusMenuExport::properties(rows[at(id)]).value("label").toString()), outside)
            << id.toStdString();
}

// Custom rows, plain items, notes and section headers start their texts at one left edge, and a section's
// heading draws no rule of its own under the separator before it.
TEST_F(Renderer, RowsShareOneLeftEdgeAndOneRule) {
    rows.insert(at("connector-section"), MenuRow::separator("before-section"));
    renderer.render(rows, menu);
    showMenu();
    const QImage image = menu.grab().toImage();
    QList<int> edges;
    std::string seen;
    for (const char* id : {"health", "bridge", "connector-section", "connector-update", "cli-check",
                           "cli-result", "open-window", "quit"}) {
        edges << inkLeft(image, menu.actionGeometry(item(id)));
        seen += std::string(id) + "@" + std::to_string(edges.last()) + " ";
    }
    const auto [low, high] = std::minmax_element(edges.begin(), edges.end());
    EXPECT_TRUE(*low > 0 && *high - *low <= 2) << seen; // -1: a rule
    EXPECT_EQ(inkLeft(image, menu.actionGeometry(item("before-section"))), -1);
}

} // namespace
