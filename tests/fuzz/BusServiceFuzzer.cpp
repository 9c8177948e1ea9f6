// Fuzzes the reading of a session-bus service file's text.
#include <cstddef>
#include <cstdint>

#include "platform/linux/DesktopEntryParser.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    if (const auto service = platform::parseBusServiceFile(bytes)) {
        // A parsed service always names itself and a program.
        if (service->name.isEmpty() || service->execProgram.isEmpty())
            __builtin_trap();
        (void)service->systemdService.toUtf8();
    }
    return 0;
}
