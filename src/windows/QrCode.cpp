#include "QrCode.h"

#include <qrencode.h>

#include <memory>

namespace QrCode {

QImage image(const QString& text, int scale) {
    const QByteArray bytes = text.toUtf8();
    if (bytes.isEmpty() || scale <= 0)
        return {};
    // Version 0: the smallest symbol that holds the data.
    std::unique_ptr<QRcode, void (*)(QRcode*)> code(
        QRcode_encodeData(int(bytes.size()), reinterpret_cast<const unsigned char*>(bytes.constData()), 0,
                          QR_ECLEVEL_M),
        QRcode_free);
    if (!code || code->width <= 0)
        return {};
    const int modules = code->width;
    QImage image(modules * scale, modules * scale, QImage::Format_RGB32);
    image.fill(Qt::white);
    const QRgb black = qRgb(0, 0, 0);
    for (int y = 0; y < modules; ++y) {
        for (int x = 0; x < modules; ++x) {
            if (!(code->data[y * modules + x] & 1))
                continue;
            for (int dy = 0; dy < scale; ++dy) {
                auto* line = reinterpret_cast<QRgb*>(image.scanLine(y * scale + dy));
                for (int dx = 0; dx < scale; ++dx)
                    line[x * scale + dx] = black;
            }
        }
    }
    return image;
}

} // namespace QrCode
