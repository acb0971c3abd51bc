// Pairing links arrive from any program that can open a URL: the check must refuse or accept, never crash,
// and an accepted request must give back only what it was given.
#include "PairRequest.h"

#include <QUrl>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString link = QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const std::optional<PairRequest> request = PairRequest::from(link);
    if (!request)
        return 0;
    (void)request->appPath();
    const QUrl answer = request->ticketLink(48123, QStringLiteral("tk_fuzz"));
    if (answer.isValid() && answer.scheme() != request->bundleID)
        __builtin_trap();
    return 0;
}
