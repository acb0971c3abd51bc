#include "Brand.h"
#include "ConnectorSettings.h"
#include "Controls.h"
#include "PageStates.h"
#include "QrCode.h"
#include "RunTask.h"
#include "SegmentedControl.h"
#include "StatusRow.h"
#include "TempHome.h"

#include <QMessageBox>
#include <QMouseEvent>
#include <QProcess>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QStandardPaths>
#include <QTextLayout>
#include <gtest/gtest.h>

using A = ControllerTestAccess;
using namespace std::chrono_literals;

namespace {

// Records the executor-tool commands the page sends instead of sending them.
class RecordingController : public ConnectorController {
public:
    using ConnectorController::ConnectorController;
    QStringList sent;
    QCoro::Task<void> cliAction(QString command, std::optional<QString> engine, bool userInitiated) override {
        sent << command + QLatin1Char(':') + engine.value_or(QString()) +
                    (userInitiated ? QString() : QStringLiteral(" (auto)"));
        co_return;
    }
};

using Window = PageStates::Window<RecordingController>;

QPushButton* buttonNamed(QWidget* root, const QString& name) {
    for (QPushButton* b : root->findChildren<QPushButton*>())
        if ((b->accessibleName() == name || b->text() == name) && b->isVisibleTo(root))
            return b;
    return nullptr;
}

QAbstractButton* alertButton(QMessageBox* box, const QString& text) {
    for (QAbstractButton* b : box->buttons())
        if (b->text() == text)
            return b;
    return nullptr;
}

void clearStartCompleted(ConnectorController&) {
    ConnectorSettings::setStartCompleted(false);
}

void allDone(ConnectorController& c) {
    ConnectorSettings::setStartCompleted(false);
    PageStates::normal(c);
}

} // namespace

TEST(OverviewView, ToolUpdateAsksFirstAndCancellingSendsNothing) {
    Window w(WindowPage::overview);
    QPushButton* update = buttonNamed(w.overview(), QStringLiteral("更新 Codex"));
    ASSERT_NE(update, nullptr);
    ASSERT_TRUE(update->isEnabled());

    update->click();
    QMessageBox* box = w.overview()->confirmation();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(w.overview()->cliToUpdate()->id, QStringLiteral("codex"));
    EXPECT_EQ(box->text(), QStringLiteral("更新执行工具？"));
    QAbstractButton* cancel = alertButton(box, QStringLiteral("取消"));
    ASSERT_NE(cancel, nullptr);
    cancel->click();
    TestSupport::spinFor(50ms);
    EXPECT_TRUE(w.f.controller.sent.isEmpty());
    EXPECT_FALSE(w.overview()->cliToUpdate());

    update->click();
    box = w.overview()->confirmation();
    ASSERT_NE(box, nullptr);
    QAbstractButton* confirm = alertButton(box, QStringLiteral("更新 Codex"));
    ASSERT_NE(confirm, nullptr);
    confirm->click();
    ASSERT_TRUE(TestSupport::spinUntil([&] { return !w.f.controller.sent.isEmpty(); }));
    EXPECT_EQ(w.f.controller.sent, QStringList{QStringLiteral("cli-update:codex")});
    EXPECT_FALSE(w.overview()->cliToUpdate());
}

TEST(OverviewView, ToolUpdateCannotBeReachedWhileRunsAreOpen) {
    Window w(WindowPage::overview);
    A::bridge(w.f.controller, PageStates::bridge(1));
    QPushButton* update = buttonNamed(w.overview(), QStringLiteral("更新 Codex"));
    ASSERT_NE(update, nullptr);
    EXPECT_FALSE(update->isEnabled());
    update->click();
    EXPECT_EQ(w.overview()->confirmation(), nullptr);
    EXPECT_FALSE(buttonNamed(w.overview(), QStringLiteral("刷新模型清单"))->isEnabled());
    EXPECT_TRUE(buttonNamed(w.overview(), QStringLiteral("检查执行工具更新"))->isEnabled());
}

TEST(OverviewView, ButtonsMakeTheirControllerCalls) {
    Window w(WindowPage::overview);
    buttonNamed(w.overview(), QStringLiteral("检查执行工具更新"))->click();
    buttonNamed(w.overview(), QStringLiteral("刷新模型清单"))->click();
    ASSERT_TRUE(TestSupport::spinUntil([&] { return w.f.controller.sent.size() == 2; }));
    EXPECT_EQ(w.f.controller.sent,
              (QStringList{QStringLiteral("cli-check:"), QStringLiteral("cli-refresh:")}));

    // The update buttons, told apart by their effects: with tool work running a request waits, the wait can
    // be withdrawn, and installing at once is refused with the notice; a check without a feed ends at once.
    ConnectorController& c = w.f.controller;
    const auto click = [&](const char* name) {
        QCoreApplication::processEvents();
        QPushButton* button = buttonNamed(w.overview(), QString::fromUtf8(name));
        ASSERT_NE(button, nullptr) << name;
        button->click();
    };
    A::cliTools(c, {}); // their rows' "更新" buttons would be found first
    A::cliBusy(c, true);
    A::update(c, UpdateState::Ready{UpdateInfo{}, QStringLiteral("/staged")});
    click("更新");
    EXPECT_TRUE(c.waitsToInstall());
    click("取消等待");
    EXPECT_FALSE(c.waitsToInstall() || c.notice());
    click("更新");
    click("现在就换");
    EXPECT_EQ(c.notice(), QStringLiteral("执行工具正在检查或更新，请结束后再更新连接器"));
    A::update(c, UpdateState::Failed{QStringLiteral("x")});
    click("检查连接器更新");
    EXPECT_TRUE(c.update().is<UpdateState::NotConfigured>());
}

// A change re-renders the same widgets: rows, focus and the scroll position stay.
TEST(OverviewView, ChangesRenderInPlace) {
    Window w(WindowPage::overview);
    const QList<StatusRow*> rows = w.overview()->findChildren<StatusRow*>();
    ASSERT_EQ(rows.size(), 4);
    QScrollBar* bar = w.view->scrollArea()->verticalScrollBar();
    ASSERT_GT(bar->maximum(), 100);
    bar->setValue(100);

    Engine changed = w.f.controller.engines().value(2);
    changed.usable = true;
    changed.summary = QStringLiteral("已登录 · 1.0");
    QList<Engine> engines = w.f.controller.engines();
    engines[2] = changed;
    A::engines(w.f.controller, engines);
    A::notice(w.f.controller, QStringLiteral("断开失败：桥接没在运行"));
    QCoreApplication::processEvents();

    EXPECT_EQ(w.overview()->findChildren<StatusRow*>(), rows);
    EXPECT_EQ(rows[3]->detail(), QStringLiteral("已登录 · 1.0"));
    EXPECT_TRUE(rows[3]->ok());
    EXPECT_EQ(bar->value(), 100);
}

TEST(StatusView, PickerAndWindowStateFollowEachOther) {
    Window w(WindowPage::overview);
    EXPECT_EQ(w.view->picker()->current(), 1);
    EXPECT_TRUE(w.overview()->isVisible());
    // A click on the third segment.
    const QPoint third(w.view->picker()->width() * 5 / 8, w.view->picker()->height() / 2);
    QMouseEvent press(QEvent::MouseButtonPress, third, w.view->picker()->mapToGlobal(third), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(w.view->picker(), &press);
    EXPECT_EQ(w.state.page(), WindowPage::diagnostics);
    EXPECT_FALSE(w.overview()->isVisible());
    EXPECT_TRUE(w.view->page(WindowPage::diagnostics)->isVisible());
    // The status menu's "打开连接器窗口…" sets the page from outside.
    w.state.setPage(WindowPage::start);
    EXPECT_EQ(w.view->picker()->current(), 0);
    EXPECT_TRUE(w.start()->isVisible());
}

// Chinese breaks between any two characters; no width may leave one character of a word alone on a line.
TEST(Controls, LinesKeepRunEndsTogether) {
    const QString text = Controls::keepRunEndsTogether(QStringLiteral("装了，还没登录账号"));
    for (int width = 24; width <= 120; ++width) {
        QTextLayout layout(text, Brand::font(11));
        layout.beginLayout();
        for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
            line.setLineWidth(width);
            const QString shown = text.mid(line.textStart(), line.textLength()).remove(QChar(0x2060));
            EXPECT_NE(shown.trimmed().size(), 1) << width << "px: " << shown.toStdString();
        }
        layout.endLayout();
    }
}

TEST(StatusView, RefreshLoopRunsOnlyWhileShown) {
    PageFixture f;
    WindowState state;
    StatusView view(f.controller, state);
    EXPECT_FALSE(view.refreshLoopRunning());
    QList<QDateTime> refreshes; // when each refresh ended
    QObject::connect(&f.controller, &ConnectorController::changed, [&] {
        const std::optional<QDateTime> last = f.controller.lastRefresh();
        if (last && (refreshes.isEmpty() || refreshes.last() != *last))
            refreshes << *last;
    });
    view.setAttribute(Qt::WA_DontShowOnScreen);
    view.show();
    EXPECT_TRUE(view.refreshLoopRunning());
    // The first refresh runs at once (with no bridge it finds it unreachable), the next 3 s after it ended; a
    // coarse timer may fire up to 5 % early.
    ASSERT_TRUE(TestSupport::spinUntil([&] { return refreshes.size() == 2; }, 20s));
    EXPECT_GE(refreshes[0].msecsTo(refreshes[1]), 2850);
    view.hide();
    EXPECT_FALSE(view.refreshLoopRunning());
    view.setRefreshLoop(false);
    view.show();
    EXPECT_FALSE(view.refreshLoopRunning());
}

TEST(StartView, CompletionIsRecordedWhenThePageShowsIt) {
    // The overview shows: a complete state is not recorded by a hidden start page.
    Window w(WindowPage::overview, allDone);
    QCoreApplication::processEvents();
    EXPECT_FALSE(ConnectorSettings::startCompleted());
    w.state.setPage(WindowPage::start);
    EXPECT_TRUE(ConnectorSettings::startCompleted());
    ConnectorSettings::setStartCompleted(false);
}

TEST(StartView, CompletionIsRecordedWhenProgressChangesWhileShown) {
    Window w(WindowPage::start, clearStartCompleted);
    EXPECT_FALSE(ConnectorSettings::startCompleted());
    EXPECT_EQ(w.start()->model().help->step, StartProgress::Step::engine);
    PageStates::normal(w.f.controller);
    QCoreApplication::processEvents();
    EXPECT_TRUE(w.start()->model().complete);
    EXPECT_TRUE(ConnectorSettings::startCompleted());
    ConnectorSettings::setStartCompleted(false);
}

TEST(QrCode, NoImageForTextsThatCannotBeEncoded) {
    EXPECT_TRUE(QrCode::image(QString()).isNull());
    EXPECT_TRUE(QrCode::image(QString(4000, QLatin1Char('x'))).isNull());
    const QImage code = QrCode::image(QStringLiteral("https://example.org"));
    ASSERT_FALSE(code.isNull());
    EXPECT_EQ(code.width() % 8, 0); // whole modules of 8 pixels
    EXPECT_EQ(code.width(), code.height());
}

// The code as the page shows it, read back by an independent decoder.
TEST(QrCode, PageCodeDecodesToTheDownloadPage) {
    const QString zbar = QStandardPaths::findExecutable(QStringLiteral("zbarimg"));
    ASSERT_FALSE(zbar.isEmpty()) << "zbarimg missing: ./scripts/deps installs zbar-tools";
    Window w(WindowPage::start);
    QWidget* qr = w.start()->qrCode();
    ASSERT_TRUE(qr->isVisible());
    EXPECT_EQ(qr->size(), QSize(92, 92));
    EXPECT_EQ(qr->accessibleName(), QStringLiteral("去下载页的二维码"));
    TestSupport::TempDir dir;
    for (qreal dpr : {1.0, 2.0}) {
        SCOPED_TRACE(dpr);
        // On a white field, as the phone panel's background gives it.
        QImage image(QSize(140, 140) * dpr, QImage::Format_RGB32);
        image.setDevicePixelRatio(dpr);
        image.fill(Qt::white);
        qr->render(&image, QPoint(24, 24));
        const QString path = dir.file(QStringLiteral("qr-%1.png").arg(dpr));
        ASSERT_TRUE(image.save(path));
        QProcess decoder;
        decoder.start(zbar, {QStringLiteral("--raw"), QStringLiteral("-q"), path});
        ASSERT_TRUE(decoder.waitForFinished(30000));
        EXPECT_EQ(decoder.exitCode(), 0);
        EXPECT_EQ(QString::fromUtf8(decoder.readAllStandardOutput()).trimmed(), StartProgress::downloadPage);
    }
}
