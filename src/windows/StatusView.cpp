#include "StatusView.h"

#include "Async.h"
#include "Brand.h"
#include "Bundle.h"
#include "ConnectorController.h"
#include "ConnectorPaths.h"
#include "DiagnosticsView.h"
#include "HealthBadge.h"
#include "OverviewView.h"
#include "SegmentedControl.h"
#include "SettingsView.h"
#include "StartView.h"
#include "Symbols.h"
#include "WindowState.h"

#include <QApplication>
#include <QFileInfo>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>
#include <qcorotimer.h>

#include <chrono>

using namespace std::chrono_literals;

namespace {

// The application's icon as the bundle carries it for desktops, one picture per size.
QIcon bundleIcon() {
    QIcon icon;
    const std::optional<Bundle>& bundle = Bundle::main();
    if (!bundle)
        return icon;
    for (int side : {64, 128, 256}) {
        const QString file = bundle->resourcesPath() +
                             QStringLiteral("/icons/hicolor/%1x%1/apps/").arg(side) +
                             ConnectorPaths::connectorBundleID + QStringLiteral(".png");
        if (QFileInfo::exists(file))
            icon.addFile(file, QSize(side, side));
    }
    return icon;
}

// The application's own icon; a drawn stand-in while neither the platform nor the bundle has one.
QPixmap applicationIcon(int size, qreal dpr) {
    QIcon icon = QApplication::windowIcon();
    if (icon.isNull())
        icon = bundleIcon();
    if (!icon.isNull())
        return icon.pixmap(QSize(size, size), dpr);
    QPixmap picture(QSize(size, size) * dpr);
    picture.setDevicePixelRatio(dpr);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath tile;
    tile.addRoundedRect(QRectF(2, 2, size - 4, size - 4), size * 0.22, size * 0.22);
    painter.fillPath(tile, Brand::accent);
    const qreal inset = size * 0.24;
    Symbols::paint(painter, QStringLiteral("point.3.connected.trianglepath.dotted"),
                   QRectF(inset, inset, size - 2 * inset, size - 2 * inset), Qt::white);
    return picture;
}

QLabel* label(const QString& text, const QFont& font, const QColor& color, QWidget* parent) {
    auto* l = new QLabel(text, parent);
    l->setFont(font);
    QPalette p = l->palette();
    p.setColor(QPalette::WindowText, color);
    l->setPalette(p);
    return l;
}

constexpr WindowPage pageOrder[] = {WindowPage::start, WindowPage::overview, WindowPage::diagnostics,
                                    WindowPage::settings};

} // namespace

StatusView::StatusView(ConnectorController& controller, WindowState& window, QWidget* parent)
    : QWidget(parent), controller_(controller), window_(window) {
    setPalette(Brand::palette());
    setAutoFillBackground(true);
    setFixedWidth(windowWidth);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    // 1. Header.
    auto* header = new QWidget(this);
    auto* headerRow = new QHBoxLayout(header);
    headerRow->setContentsMargins(20, 20, 20, 20);
    headerRow->setSpacing(14);
    auto* icon = new QLabel(header);
    icon->setFixedSize(58, 58);
    icon->setPixmap(applicationIcon(58, devicePixelRatioF() > 1 ? devicePixelRatioF() : 2.0));
    icon->setScaledContents(true);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(3);
    texts->addWidget(
        label(QStringLiteral("Orvane 连接器"), Brand::font(19, QFont::DemiBold), Brand::primaryText, header));
    auto* subtitle = label(QStringLiteral("Orvane「我的 Agent」在这台 Mac 上的执行端"), Brand::font(12),
                           Brand::secondary, header);
    subtitle->setWordWrap(true);
    texts->addWidget(subtitle);
    badge_ = new HealthBadge(header);
    headerRow->addWidget(icon, 0, Qt::AlignVCenter);
    headerRow->addLayout(texts, 1);
    headerRow->addSpacing(8);
    headerRow->addWidget(badge_, 0, Qt::AlignVCenter);
    column->addWidget(header);

    // 2. Page picker.
    picker_ = new SegmentedControl(
        {QStringLiteral("开始"), QStringLiteral("概览"), QStringLiteral("诊断"), QStringLiteral("设置")},
        this);
    picker_->setFixedSize(340, 24);
    picker_->setAccessibleName(QStringLiteral("页面"));
    auto* pickerRow = new QHBoxLayout;
    pickerRow->setContentsMargins(0, 0, 0, 14);
    pickerRow->addWidget(picker_, 0, Qt::AlignHCenter);
    column->addLayout(pickerRow);
    connect(picker_, &SegmentedControl::chosen, this,
            [this](int index) { window_.setPage(pageOrder[std::clamp(index, 0, 3)]); });

    // 3. Divider.
    auto* divider = new QFrame(this);
    divider->setFixedHeight(1);
    divider->setAutoFillBackground(true);
    QPalette dividerPalette = divider->palette();
    dividerPalette.setColor(QPalette::Window, Brand::separator);
    divider->setPalette(dividerPalette);
    column->addWidget(divider);

    // 4. The page area. All four pages live in one column and only the chosen one is shown, so switching
    // keeps each page's widgets (and their focus) instead of building them again.
    scroll_ = new QScrollArea(this);
    scroll_->setFixedHeight(pageAreaHeight);
    scroll_->setFrameShape(QFrame::NoFrame);
    scroll_->setWidgetResizable(true);
    scroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // A slim rounded thumb without arrow buttons, on the window's background beside the rounded cards.
    scroll_->verticalScrollBar()->setStyleSheet(
        QStringLiteral("QScrollBar:vertical { background: transparent; width: 11px; margin: 0; }"
                       "QScrollBar::handle:vertical { background: rgba(0,0,0,64); border-radius: 3px; "
                       "min-height: 32px; margin: 3px 3px 3px 2px; }"
                       "QScrollBar::handle:vertical:hover { background: rgba(0,0,0,110); }"
                       "QScrollBar::add-line:vertical, QScrollBar::sub-line:vertical { height: 0; "
                       "border: none; background: none; }"
                       "QScrollBar::add-page:vertical, QScrollBar::sub-page:vertical { background: none; }"));
    auto* content = new QWidget;
    content->setAutoFillBackground(false);
    auto* pageColumn = new QVBoxLayout(content);
    pageColumn->setContentsMargins(20, 20, 20, 20);
    pageColumn->setSpacing(0);
    pages_[0] = new StartView(controller_, window_, content);
    pages_[1] = new OverviewView(controller_, window_, content);
    pages_[2] = new DiagnosticsView(controller_, window_, content);
    pages_[3] = new SettingsView(controller_, window_, content);
    for (QWidget* page : pages_) {
        page->hide();
        pageColumn->addWidget(page);
    }
    pageColumn->addStretch(1);
    scroll_->setWidget(content);
    scroll_->viewport()->setAutoFillBackground(false);
    column->addWidget(scroll_);

    connect(&window_, &WindowState::changed, this, &StatusView::showPage);
    connect(&controller_, &ConnectorController::changed, this, &StatusView::render);
    showPage();
    render();
}

StatusView::~StatusView() {
    stopLoop();
}

QWidget* StatusView::page(WindowPage page) const {
    for (int i = 0; i < 4; ++i)
        if (pageOrder[i] == page)
            return pages_[i];
    return nullptr;
}

void StatusView::render() {
    badge_->set(controller_.health(), controller_.healthTitle());
}

void StatusView::showPage() {
    int index = 0;
    while (index < 3 && pageOrder[index] != window_.page())
        ++index;
    picker_->setCurrent(index);
    if (index == shownPage_)
        return;
    for (int i = 0; i < 4; ++i)
        if (i != index)
            pages_[i]->hide();
    pages_[index]->show();
    shownPage_ = index;
    scroll_->verticalScrollBar()->setValue(0);
}

void StatusView::setRefreshLoop(bool enabled) {
    loopEnabled_ = enabled;
    if (!enabled)
        stopLoop();
    else if (isVisible())
        startLoop();
}

void StatusView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    startLoop();
}

void StatusView::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    stopLoop();
}

void StatusView::startLoop() {
    if (!loopEnabled_ || loopRunning_)
        return;
    loopRunning_ = true;
    Async::spawn(refreshLoop(QPointer<StatusView>(this), &controller_, ++loopGeneration_), "window refresh");
}

void StatusView::stopLoop() {
    // A loop sees the new generation after its current refresh or sleep and ends there.
    if (loopRunning_)
        ++loopGeneration_;
    loopRunning_ = false;
}

QCoro::Task<void> StatusView::refreshLoop(QPointer<StatusView> view, ConnectorController* controller,
                                          int generation) {
    const auto current = [&] { return view && view->loopGeneration_ == generation; };
    while (current()) {
        QCoro::Task<void> refreshing = controller->refresh();
        co_await std::move(refreshing);
        if (!current())
            break;
        co_await Async::sleepFor(3s);
    }
}
