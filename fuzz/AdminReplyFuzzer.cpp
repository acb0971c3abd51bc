// The admin channel's reply decoder: whatever a local process sends back must end in a result or one of the
// channel's failures, never in a crash.
#include "BridgeAdmin.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    try {
        const nlohmann::json result =
            BridgeAdmin::decodeReply(std::string(reinterpret_cast<const char*>(data), size));
        // Callers copy and print results: both walk the whole value.
        const nlohmann::json copy = result;
        (void)copy.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    } catch (const BridgeAdmin::Failure&) {
    } catch (const nlohmann::json::exception&) {
    }
    return 0;
}
