// Fuzzes the reading of a bundle's Info.json.
#include <cstddef>
#include <cstdint>

#include "platform/MainBundle.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    if (const auto info = platform::parseBundleInfo(bytes)) {
        // Whatever was read is plain text that can be used as a path component and a name.
        (void)info->identifier.toUtf8();
        (void)info->name.size();
    }
    return 0;
}
