#pragma once

#include <QString>
#include <QWidget>

#include <functional>

class QTimer;

// A custom menu row for commands that keep the menu open and for progress lines: it handles the click itself,
// so the menu stays open and can show the command's progress in place, with a spinner for progress.
class MenuRowView : public QWidget {
    Q_OBJECT

public:
    // What the row looks like: an action (enabled or not) or a progress line.
    struct Look {
        enum class Kind { action, progress };
        Kind kind = Kind::action;
        bool enabled = true; // only for action

        static Look action(bool enabled) { return {Kind::action, enabled}; }
        static Look progress() { return {Kind::progress, false}; }
        bool isEnabledAction() const { return kind == Kind::action && enabled; }
        bool operator==(const Look& other) const {
            return kind == other.kind && (kind != Kind::action || enabled == other.enabled);
        }
    };

    static constexpr int rowHeight = 24;
    static constexpr qreal leadingInset = 16.5;
    static constexpr qreal progressInset = 35.5; // the text moves right of the spinner
    static constexpr qreal trailingInset = 20;

    MenuRowView(QString title, Look look, QWidget* parent = nullptr);

    // Stores a new title and look and redraws; nothing happens when both are unchanged.
    void update(const QString& title, Look look);

    const QString& title() const { return title_; }
    Look look() const { return look_; }
    // Runs when an enabled action row is clicked or pressed through accessibility.
    std::function<void()> onPress;

    // The press an enabled action row answers to (click or accessibility); false for any other look.
    bool press();

    // Whether the spinner turns now: only for progress rows, and only while the row is on screen.
    bool spinning() const;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void apply();
    void startOrStopSpinner();

    QString title_;
    Look look_;
    int width_ = 100; // grows to fit a long title, never shrinks
    bool highlighted_ = false;
    int spinnerStep_ = 0;
    QTimer* spinner_;
};
