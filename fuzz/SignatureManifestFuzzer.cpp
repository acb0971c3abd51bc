// The signature manifest of a bundle: only its one canonical form may parse, and whatever parses must come
// back byte for byte from canonical().
#include "linux/BundleSignature.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const std::optional<BundleSignature::Manifest> manifest = BundleSignature::parse(bytes);
    if (manifest && BundleSignature::canonical(*manifest) != bytes)
        __builtin_trap();
    return 0;
}
