#pragma once

#include <QImage>
#include <QString>

// QR codes of short texts, for the phone to scan.
namespace QrCode {

// The text's UTF-8 bytes at error-correction level M, each module `scale` × `scale` pixels, black on white,
// without a quiet zone (the caller pads it). A null image when no code can be made (empty or too long text).
QImage image(const QString& text, int scale = 8);

} // namespace QrCode
