#pragma once

#include <QCoreApplication>
#include <QDir>
#include <QImage>
#include <QLayout>
#include <QString>
#include <QWidget>

#include <cstdlib>

// Page and card screenshots: rendered offscreen and written as <dir>/<name>.png, where <dir> is
// $CONNECTOR_SCREENS_DIR or else the build folder's screens/.
namespace Screens {

inline QString dir() {
    if (const char* set = std::getenv("CONNECTOR_SCREENS_DIR"); set && *set)
        return QString::fromLocal8Bit(set);
    return QStringLiteral(CONNECTOR_SCREENS_DEFAULT_DIR);
}

// Lays `widget` out at its own size and renders it at twice the density, so texts can be read in the PNG.
inline QImage render(QWidget& widget) {
    // Shown without a screen, so layouts and scroll areas settle exactly as in the window.
    if (!widget.isVisible()) {
        widget.setAttribute(Qt::WA_DontShowOnScreen);
        widget.show();
    }
    if (QLayout* layout = widget.layout())
        layout->activate();
    if (!widget.parentWidget())
        widget.adjustSize();
    QCoreApplication::processEvents();
    QImage image(widget.size() * 2, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(2);
    image.fill(widget.palette().color(QPalette::Window));
    widget.render(&image);
    return image;
}

// Writes the image of `widget` as `name`.png; returns the path written, or an empty text on failure.
inline QString write(QWidget& widget, const QString& name) {
    const QString folder = dir();
    QDir().mkpath(folder);
    const QString path = folder + QLatin1Char('/') + name + QStringLiteral(".png");
    return render(widget).save(path) ? path : QString();
}

} // namespace Screens
