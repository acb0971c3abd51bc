#pragma once

#include <QWidget>

// One line of text that shortens itself with an ellipsis when it does not fit (in the middle by default), and
// shows the whole text as its tool tip and accessible name.
class ElidedLabel : public QWidget {
    Q_OBJECT

public:
    explicit ElidedLabel(const QString& text = {}, QWidget* parent = nullptr);

    QString text() const { return text_; }
    void setText(const QString& text);
    void setColor(const QColor& color);
    void setElideMode(Qt::TextElideMode mode);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString text_;
    Qt::TextElideMode mode_ = Qt::ElideMiddle;
};
