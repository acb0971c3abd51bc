#pragma once

#include "Health.h"

#include <QColor>
#include <QWidget>

// The overall health as a capsule: icon and title in the health's colour (12 semibold), on the same colour
// at 14 % opacity, padded 10 × 5.
class HealthBadge : public QWidget {
    Q_OBJECT

public:
    explicit HealthBadge(QWidget* parent = nullptr);

    void set(const Health& health, const QString& title);
    const Health& health() const { return health_; }
    QString title() const { return title_; }

    // attention: "exclamationmark.circle.fill" orange; stopped: "pause.circle.fill" grey; normal:
    // "checkmark.circle.fill" green.
    static QString symbol(const Health& health);
    static QColor color(const Health& health);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Health health_;
    QString title_;
};
