// The readers of the bridge's "status" and "pairings" results, fed from a decoded reply as the refresh does.
#include "BridgeAdmin.h"
#include "ConnectorController.h"
#include "SessionHooksStatus.h"
#include "StrellStatus.h"

#include <cstddef>
#include <cstdint>
#include <string>

// The controller's private readers, reached the way its tests reach them.
struct ControllerTestAccess {
    static void read(const nlohmann::json& result) {
        (void)ConnectorController::bridgeStatus(result);
        const nlohmann::json* engines =
            result.is_object() && result.contains("engines") ? &result["engines"] : nullptr;
        (void)ConnectorController::parseEngines(engines);
        (void)ConnectorController::parsePairings(result);
        const nlohmann::json* strell =
            result.is_object() && result.contains("strell") ? &result["strell"] : nullptr;
        (void)StrellStatus::parse(strell);
        const nlohmann::json* hooks =
            result.is_object() && result.contains("sessionHooks") ? &result["sessionHooks"] : nullptr;
        (void)SessionHooksStatus::parse(hooks);
    }
};

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    nlohmann::json result;
    try {
        result = BridgeAdmin::decodeReply(std::string(reinterpret_cast<const char*>(data), size));
    } catch (const std::exception&) {
        return 0;
    }
    try {
        ControllerTestAccess::read(result);
    } catch (const std::exception&) {
        // The readers take what they understand and ignore the rest; an exception here is a finding.
        __builtin_trap();
    }
    return 0;
}
