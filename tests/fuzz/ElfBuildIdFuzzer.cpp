// Fuzzes the search for an ELF file's build-id, which reads the executables of any process of the
// user, copies and crafted files included.
#include <cstddef>
#include <cstdint>

#include "platform/linux/ElfBuildId.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    if (const auto found = platform::elf::buildIdOfImage(bytes)) {
        // A build-id is bounded and is the file's own bytes at the offset given.
        if (found->bytes.isEmpty() || found->bytes.size() > 64 ||
            found->offset + std::uint64_t(found->bytes.size()) > size ||
            bytes.mid(qsizetype(found->offset), found->bytes.size()) != found->bytes)
            __builtin_trap();
    }
    return 0;
}
