#include "StatusItemController.h"

#include "ConnectorController.h"

#include <QApplication>
#include <QIcon>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QPointer>
#include <QSystemTrayIcon>

namespace {

// The housing with a prompt mark, drawn once in black; the tray shows it as it is.
QIcon drawnIcon() {
    QPixmap pixmap(36, 36);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(2, 2);
    QPen pen(Qt::black, 1.3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    painter.setPen(pen);
    QPainterPath housing;
    housing.moveTo(4.125, 15.75);
    housing.lineTo(4.125, 7.875);
    housing.arcTo(QRectF(9 - 4.875, 7.875 - 4.875, 9.75, 9.75), 180, -180);
    housing.lineTo(13.875, 15.75);
    housing.closeSubpath();
    painter.drawPath(housing);
    painter.drawPolyline(QPolygonF{{6.3, 9.5}, {8, 10.9}, {6.3, 12.3}});
    painter.drawLine(QPointF(9.1, 12.6), QPointF(11.7, 12.6));
    painter.end();
    return QIcon(pixmap);
}

} // namespace

StatusItemController::StatusItemController(ConnectorController& controller, OpenWindow openWindow,
                                           QObject* parent)
    : QObject(parent), controller_(controller), openWindow_(std::move(openWindow)) {
    if (QSystemTrayIcon::isSystemTrayAvailable()) {
        menu_ = std::make_unique<QMenu>();
        QPointer<StatusItemController> self(this);
        menu_->addAction(QStringLiteral("打开 Orvane 连接器"), this, [self] {
            if (self && self->openWindow_)
                self->openWindow_(WindowPage::overview);
        });
        menu_->addSeparator();
        menu_->addAction(QStringLiteral("退出"), qApp, &QCoreApplication::quit);
        item_ = std::make_unique<QSystemTrayIcon>(drawnIcon());
        item_->setContextMenu(menu_.get());
        item_->show();
    }
    updateIcon();
    connect(&controller_, &ConnectorController::changed, this, &StatusItemController::updateIcon);
}

StatusItemController::~StatusItemController() = default;

void StatusItemController::updateIcon() {
    if (item_)
        item_->setToolTip(QStringLiteral("Orvane 连接器：") + controller_.healthTitle());
}
