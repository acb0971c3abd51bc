// The /proc files of other processes of the user, as the search for running instances reads them: a "stat"
// line, a "cmdline" and an "environ" that those processes chose (a command name may hold ")" and spaces).
#include "RunningInstances.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    (void)RunningInstances::endedIn(bytes);
    (void)RunningInstances::agentIn(bytes);
    (void)RunningInstances::homeIn(bytes);
    return 0;
}
