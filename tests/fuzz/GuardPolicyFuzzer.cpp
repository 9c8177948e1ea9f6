// Fuzzes what the guard reads from disk and from programs: the policy file's parser (a parsed
// policy serialises to the same text) and the ELF build-id reader.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string_view>

#include "guard/ElfBuildId.h"
#include "guard/Policy.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    if (const auto policy = guard::parsePolicy(text)) {
        if (guard::parsePolicy(guard::serializePolicy(*policy)) != policy)
            std::abort();
    }
    if (guard::buildIdOfBytes(std::span(data, size)).size() > 64)
        std::abort();
    return 0;
}
