// The update feed entry comes from the network: decode it or fail with the decoder's text.
#include "UpdateInfo.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    try {
        const UpdateInfo info =
            UpdateInfo::decode(QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)));
        (void)info.label();
    } catch (const UpdateInfo::DecodeError&) {
    }
    return 0;
}
