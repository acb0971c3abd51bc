// The user's mimeapps.list and the bundle's desktop entry are edited as text: whatever they hold, the edits
// must not crash, the handler set must then be the one read back, and removing it must leave it unset.
#include "linux/XdgDesktopRegistration.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    using R = XdgDesktopRegistration;

    (void)R::defaultFor(text, R::mimeType);
    const QString set = R::withDefault(text, R::mimeType, R::entryName);
    if (R::defaultFor(set, R::mimeType) != R::entryName)
        __builtin_trap();
    if (R::defaultFor(R::withoutEntry(set, R::mimeType, R::entryName), R::mimeType) == R::entryName)
        __builtin_trap();

    // The same text as the bundle's entry, and as the path of the executable it is to name.
    (void)R::entryText(text, QStringLiteral("/opt/Orvane 连接器.app/Contents/MacOS/OrvaneConnector"));
    (void)R::entryText(QStringLiteral("[Desktop Entry]\nExec=x\n"), text);
    (void)R::execArgument(text);
    (void)R::escapedString(text);
    return 0;
}
