#pragma once

#include <QStringList>
#include <QWidget>

// A row of mutually exclusive segments, like the platform's segmented control: the chosen one filled with the
// accent. Clicks and the arrow keys choose; `chosen` is announced only for the user's own choices.
class SegmentedControl : public QWidget {
    Q_OBJECT

public:
    explicit SegmentedControl(QStringList segments, QWidget* parent = nullptr);

    int current() const { return current_; }
    // Shows `index` as chosen without announcing it.
    void setCurrent(int index);
    QStringList segments() const { return segments_; }
    // The segment under a point of this widget, or -1.
    int segmentAt(const QPoint& point) const;

    QSize sizeHint() const override;
    // Chooses `index` as the user does (announced); also the press of a segment through accessibility.
    void choose(int index);
    QRectF segmentRect(int index) const;

signals:
    void chosen(int index);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    QStringList segments_;
    int current_ = 0;
};
