#pragma once

#include <QCoreApplication>
#include <QDir>
#include <QEvent>
#include <QImage>
#include <QLayout>
#include <QList>
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
    // A changed text re-lays out its card, which then asks its page for room: each step is a posted event of
    // its own, so settle every layout, innermost first, a few rounds over.
    for (int round = 0; round < 3; ++round) {
        const QList<QLayout*> layouts = widget.findChildren<QLayout*>();
        for (auto it = layouts.rbegin(); it != layouts.rend(); ++it)
            (*it)->activate();
        if (!widget.parentWidget())
            widget.adjustSize();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
        QCoreApplication::processEvents();
    }
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
