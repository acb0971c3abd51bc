#include "Symbols.h"

#include <QImage>
#include <QPainter>
#include <gtest/gtest.h>

namespace {

QImage draw(const QString& name, int size, const QColor& color) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    Symbols::paint(painter, name, QRectF(0, 0, size, size), color);
    return image;
}

int inked(const QImage& image) {
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            count += qAlpha(image.pixel(x, y)) > 128;
    return count;
}

} // namespace

TEST(Symbols, EveryNameTheWindowUsesIsDrawn) {
    const QStringList used =
        QStringLiteral("checkmark.circle.fill exclamationmark.circle.fill exclamationmark.triangle "
                       "exclamationmark.triangle.fill xmark.octagon.fill pause.circle.fill "
                       "point.3.connected.trianglepath.dotted terminal person.crop.circle.fill arrow.right "
                       "checkmark circle")
            .split(QLatin1Char(' '));
    for (const QString& name : used) {
        SCOPED_TRACE(name.toStdString());
        ASSERT_TRUE(Symbols::has(name));
        const QImage image = draw(name, 48, Qt::red);
        // Something visible, and not a filled square.
        const int ink = inked(image);
        EXPECT_GT(ink, 48 * 48 / 20);
        EXPECT_LT(ink, 48 * 48 * 9 / 10);
    }
}

TEST(Symbols, UnknownNameDrawsNothing) {
    QImage image(24, 24, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    EXPECT_FALSE(Symbols::paint(painter, QStringLiteral("no.such.symbol"), QRectF(0, 0, 24, 24), Qt::red));
    painter.end();
    EXPECT_EQ(inked(image), 0);
    EXPECT_TRUE(Symbols::pixmap(QStringLiteral("no.such.symbol"), 16, Qt::red).isNull());
}

// Filled symbols cut their mark out: what lies under the symbol shows through the mark, not a painted colour.
TEST(Symbols, InnerMarksOfFilledSymbolsShowTheBackground) {
    QImage image(96, 96, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::blue);
    QPainter painter(&image);
    Symbols::paint(painter, QStringLiteral("pause.circle.fill"), QRectF(0, 0, 96, 96), Qt::red);
    painter.end();
    // Left pause bar at x = 9.4 / 24, centre height; the disc beside it at x = 12 / 24.
    EXPECT_EQ(QColor(image.pixel(37, 48)), QColor(Qt::blue));
    EXPECT_EQ(QColor(image.pixel(48, 48)), QColor(Qt::red));
    // Outside the disc, the corner, stays untouched.
    EXPECT_EQ(QColor(image.pixel(1, 1)), QColor(Qt::blue));
}
