// The hand-over socket takes bytes from any process of the user: a message must decode to links and a reopen
// flag, never crash, and what decodes must cross the wire again unchanged. The same bytes, cut at NUL
// characters, stand for a start's arguments.
#include "InstanceChannel.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const InstanceChannel::Message message = InstanceChannel::decode(bytes);
    const InstanceChannel::Message again = InstanceChannel::decode(InstanceChannel::encode(message));
    if (again.reopen != message.reopen || again.links != message.links)
        __builtin_trap();

    QStringList arguments;
    for (const QByteArray& part : bytes.split('\0'))
        arguments << QString::fromUtf8(part);
    const QStringList links = InstanceChannel::linksIn(arguments);
    if (links.size() >= arguments.size() && !arguments.isEmpty())
        __builtin_trap(); // the program itself is never a link
    return 0;
}
