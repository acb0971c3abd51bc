#pragma once

#include <QColor>
#include <QFont>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QString>
#include <QTimer>
#include <QWidget>

// Small building blocks of the pages: labels in the window's type, buttons in the platform's three looks, and
// the small indeterminate progress indicator.
namespace Controls {

QLabel* label(const QString& text, const QFont& font, const QColor& color, QWidget* parent,
              bool wraps = false);
void setColor(QWidget* widget, const QColor& color);

// destructive is the regular look with red text while it can be pressed. Every button carries its style in
// the `buttonStyleProperty`, so a page can be checked for buttons made some other way.
enum class ButtonStyle { regular, small, prominent, destructive };
QPushButton* button(const QString& text, ButtonStyle style, QWidget* parent);
inline constexpr const char* buttonStyleProperty = "connectorButtonStyle";

// A rounded single-line text field in the window's type.
QLineEdit* field(QWidget* parent);

// Chinese wraps between any two characters, so a short text can leave one character alone on its last line
// ("账号" → "号"): word joiners keep the first two and the last two characters of every run of ideographs
// together, so lines break inside a run or at spaces and punctuation instead.
QString keepRunEndsTogether(const QString& text);

// Shows `widget` exactly when `shown`, without touching it otherwise (no relayout when nothing changed).
inline void showIf(QWidget* widget, bool shown) {
    if (widget->isHidden() == shown)
        widget->setVisible(shown);
}

// Sets a label's text only when it differs, so an unchanged page does not lay itself out again.
inline void setText(QLabel* label, const QString& text) {
    if (label->text() != text)
        label->setText(text);
}

} // namespace Controls

// A small spinning indicator for work of unknown length. Animates only while shown.
class Spinner : public QWidget {
    Q_OBJECT

public:
    explicit Spinner(QWidget* parent = nullptr, int size = 16);
    QSize sizeHint() const override { return {size_, size_}; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    QTimer timer_;
    int size_;
    int step_ = 0;
};
