#include "SessionHooksView.h"

#include <QLabel>
#include <QVBoxLayout>

// placeholder until the hooks view lands
SessionHooksView::SessionHooksView(ConnectorController&, QWidget* parent) : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(new QLabel(QStringLiteral("…"), this));
}
