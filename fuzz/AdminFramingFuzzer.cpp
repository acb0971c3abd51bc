// The admin channel's framing. A reply arrives in pieces of any size: read piece by piece, it must end as the
// whole would (the same result or the same kind of failure) and never pass the size cap. A request built
// from any command, id and field text must stay one line that reads back as sent.
#include "BridgeAdmin.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace {

// 0: a result, 1: the channel's failure, 2: not JSON.
int outcomeOf(const std::string& reply, nlohmann::json& result) {
    try {
        result = BridgeAdmin::decodeReply(reply);
        return 0;
    } catch (const BridgeAdmin::Failure&) {
        return 1;
    } catch (const nlohmann::json::exception&) {
        return 2;
    }
}

void checkRequest(const std::string& text) {
    const std::size_t cut = text.size() / 2;
    const QString command = QString::fromStdString(text.substr(0, cut));
    const QString id = QString::fromStdString(text.substr(cut));
    nlohmann::json fields = nlohmann::json::object();
    fields["value"] = command.toStdString();
    std::string encoded;
    try {
        encoded = BridgeAdmin::encode(command, id, fields);
    } catch (const nlohmann::json::exception&) {
        __builtin_trap(); // QString has made any bytes valid text: encoding cannot fail
    }
    if (encoded.empty() || encoded.back() != '\n' || encoded.find('\n') != encoded.size() - 1)
        __builtin_trap();
    const nlohmann::json back = nlohmann::json::parse(encoded);
    if (back.at("command") != command.toStdString() || back.at("id") != id.toStdString())
        __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1)
        return 0;
    // The first byte sets the piece size, the rest is the reply.
    const std::size_t piece = std::size_t(data[0]) * 61 + 1;
    const std::string whole(reinterpret_cast<const char*>(data) + 1, size - 1);
    std::string reply;
    for (std::size_t at = 0; at < whole.size(); at += piece)
        BridgeAdmin::appendReply(reply, std::string_view(whole).substr(at, piece));
    if (reply != whole)
        __builtin_trap();
    nlohmann::json inPieces, atOnce;
    if (outcomeOf(reply, inPieces) != outcomeOf(whole, atOnce) || inPieces != atOnce)
        __builtin_trap();
    checkRequest(whole.substr(0, 4096));
    return 0;
}
