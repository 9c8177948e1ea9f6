// Fuzzes the reading of a desktop entry's text.
#include <cstddef>
#include <cstdint>

#include "platform/linux/DesktopEntryParser.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    if (const auto fields = platform::parseDesktopEntry(bytes)) {
        // A parsed entry always has a name; its fields are valid text.
        if (fields->name.isEmpty())
            __builtin_trap();
        (void)fields->execProgram.toUtf8();
        (void)fields->iconName.toUtf8();
    }
    return 0;
}
