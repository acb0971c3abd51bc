// Info.plist files are read from any bundle the connector looks at (application folders, running
// processes, links): XML or binary property lists of any shape.
#include "Bundle.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::optional<nlohmann::json> parsed =
        parsePropertyList(QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)));
    if (parsed && parsed->is_object()) {
        Bundle bundle;
        bundle.info = *parsed;
        (void)bundle.identifier();
        (void)bundle.string("CFBundleExecutable");
        (void)bundle.boolean("SenvikIsolatedValidation");
    }
    return 0;
}
