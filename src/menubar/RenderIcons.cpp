// Writes the application icon for desktops: <dir>/<N>x<N>/apps/<name>.png for each size desktops ask for.
#include "MenuBarIcon.h"

#include <QDir>
#include <QGuiApplication>
#include <QImage>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: connector-render-icons <hicolor dir> <icon name>\n");
        return 2;
    }
    // Drawing needs no display.
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QGuiApplication application(argc, argv);
    const QString root = QString::fromLocal8Bit(argv[1]);
    const QString name = QString::fromLocal8Bit(argv[2]);
    for (const int size : {16, 24, 32, 48, 64, 128, 256}) {
        const QString dir = QStringLiteral("%1/%2x%2/apps").arg(root).arg(size);
        const QString file = dir + QLatin1Char('/') + name + QStringLiteral(".png");
        if (!QDir().mkpath(dir) || !MenuBarIcon::applicationIcon(size).save(file, "PNG")) {
            std::fprintf(stderr, "connector-render-icons: cannot write %s\n", qPrintable(file));
            return 1;
        }
    }
    return 0;
}
