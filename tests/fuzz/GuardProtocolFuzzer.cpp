// Fuzzes the guard's message decoders: whatever decodes encodes back to the very same bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "guard/GuardProtocol.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace guard::protocol;
    const std::span<const std::uint8_t> bytes(data, size);
    if (const auto request = decodeRequest(bytes)) {
        const Bytes again = encode(*request);
        if (!std::equal(again.begin(), again.end(), bytes.begin(), bytes.end()))
            std::abort();
    }
    if (const auto event = decodeEvent(bytes)) {
        const Bytes again = encode(*event);
        if (!std::equal(again.begin(), again.end(), bytes.begin(), bytes.end()))
            std::abort();
    }
    return 0;
}
