#pragma once

#include <QColor>
#include <QPixmap>
#include <QString>
#include <QStringList>
#include <QWidget>

class QPainter;
class QRectF;

// The named system symbols the window uses ("checkmark.circle.fill", "terminal", …), drawn as vector
// pictures so every desktop shows the same one. Each symbol is designed on a 24 × 24 grid and scaled to the
// box it is given; filled symbols cut their inner mark out, so it shows what lies behind.
namespace Symbols {

// Every name that can be drawn.
QStringList names();
bool has(const QString& name);

// Draws `name` centred in the largest square inside `box`. Unknown names draw nothing and return false.
// `bold` thickens the strokes (the step markers' check).
bool paint(QPainter& painter, const QString& name, const QRectF& box, const QColor& color, bool bold = false);

// The symbol as a square picture of `size` logical pixels; a null picture for an unknown name.
QPixmap pixmap(const QString& name, int size, const QColor& color, qreal devicePixelRatio = 1.0,
               bool bold = false);

// How large a symbol shown beside text of the given font size is drawn: a little taller than the letters.
int sizeForFont(int fontSize);

} // namespace Symbols

// One symbol at a fixed size, as a widget: colour and name can change without rebuilding the layout.
class SymbolView : public QWidget {
    Q_OBJECT

public:
    SymbolView(const QString& name, int size, const QColor& color, QWidget* parent = nullptr);

    void setSymbol(const QString& name);
    void setColor(const QColor& color);
    void setBold(bool bold);
    QString symbol() const { return name_; }
    QColor color() const { return color_; }

    QSize sizeHint() const override { return {size_, size_}; }
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString name_;
    int size_;
    QColor color_;
    bool bold_ = false;
};
