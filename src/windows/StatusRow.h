#pragma once

#include <QString>
#include <QWidget>

class ElidedLabel;
class QLabel;
class SymbolView;

// One line of state: a symbol (accent when ok, grey otherwise, 18 wide), the title in a 92-point column, the
// detail on one line shortened in the middle, and a 7 × 7 dot (green when ok, orange otherwise).
class StatusDot;

class StatusRow : public QWidget {
    Q_OBJECT

public:
    StatusRow(const QString& symbol, const QString& title, const QString& detail, bool ok,
              QWidget* parent = nullptr);

    // Changes the row in place.
    void set(const QString& symbol, const QString& title, const QString& detail, bool ok);

    QString symbol() const;
    QString title() const;
    QString detail() const;
    bool ok() const { return ok_; }

private:
    SymbolView* symbol_;
    QLabel* title_;
    ElidedLabel* detail_;
    StatusDot* dot_;
    bool ok_ = false;
};
