#include "StatusView.h"

#include "ConnectorController.h"
#include "WindowState.h"

#include <QLabel>
#include <QVBoxLayout>

namespace {

QString pageTitle(WindowPage page) {
    switch (page) {
    case WindowPage::start:
        return QStringLiteral("开始");
    case WindowPage::overview:
        return QStringLiteral("概览");
    case WindowPage::diagnostics:
        return QStringLiteral("诊断");
    case WindowPage::settings:
        return QStringLiteral("设置");
    }
    return {};
}

} // namespace

StatusView::StatusView(ConnectorController& controller, WindowState& window, QWidget* parent)
    : QWidget(parent), controller_(controller), window_(window) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 20, 20, 20);
    auto* title = new QLabel(QStringLiteral("Orvane 连接器"), this);
    QFont font = title->font();
    font.setPointSize(19);
    font.setWeight(QFont::DemiBold);
    title->setFont(font);
    page_ = new QLabel(this);
    health_ = new QLabel(this);
    layout->addWidget(title);
    layout->addWidget(page_);
    layout->addWidget(health_);
    layout->addStretch(1);
    // The window's width and the page area's height, so the window's size is already its final one.
    setFixedSize(560, 560);
    connect(&window_, &WindowState::changed, this, &StatusView::render);
    connect(&controller_, &ConnectorController::changed, this, &StatusView::render);
    render();
}

void StatusView::render() {
    page_->setText(pageTitle(window_.page()));
    health_->setText(controller_.healthTitle());
}
