// Walks the program headers' PT_NOTE segments for the NT_GNU_BUILD_ID note, in both ELF classes,
// with every count and size capped before it is used.
#include "guard/ElfBuildId.h"

#include <elf.h>
#include <unistd.h>

#include <cstring>
#include <optional>
#include <vector>

namespace guard {

namespace {

constexpr std::size_t kMaxProgramHeaders = 128;
constexpr std::size_t kMaxNotes = 64 * 1024;
constexpr std::size_t kMaxBuildId = 64;

struct Segment {
    std::uint64_t offset = 0;
    std::uint64_t size = 0;
};

std::uint64_t little(const std::uint8_t* bytes, int width) {
    std::uint64_t value = 0;
    for (int i = 0; i < width; ++i)
        value |= std::uint64_t{bytes[i]} << (8 * i);
    return value;
}

struct Layout {
    bool wide = false;  // ELFCLASS64
    std::uint64_t headersAt = 0;
    std::size_t headerSize = 0;
    std::size_t headerCount = 0;
};

std::optional<Layout> layoutOf(const ReadAt& readAt) {
    std::uint8_t header[64] = {};
    if (!readAt(0, std::span(header, 52)) || std::memcmp(header, ELFMAG, SELFMAG) != 0 ||
        header[EI_DATA] != ELFDATA2LSB)
        return std::nullopt;
    Layout layout;
    layout.wide = header[EI_CLASS] == ELFCLASS64;
    if (!layout.wide && header[EI_CLASS] != ELFCLASS32)
        return std::nullopt;
    if (layout.wide && !readAt(0, std::span(header, 64)))
        return std::nullopt;
    layout.headersAt = layout.wide ? little(header + 32, 8) : little(header + 28, 4);
    layout.headerSize = little(header + (layout.wide ? 54 : 42), 2);
    layout.headerCount = little(header + (layout.wide ? 56 : 44), 2);
    const std::size_t expected = layout.wide ? sizeof(Elf64_Phdr) : sizeof(Elf32_Phdr);
    if (layout.headerSize != expected || layout.headerCount > kMaxProgramHeaders)
        return std::nullopt;
    return layout;
}

std::vector<Segment> noteSegments(const ReadAt& readAt, const Layout& layout) {
    std::vector<Segment> notes;
    for (std::size_t i = 0; i < layout.headerCount; ++i) {
        std::uint8_t entry[sizeof(Elf64_Phdr)] = {};
        const std::uint64_t at = layout.headersAt + i * layout.headerSize;
        if (at < layout.headersAt || !readAt(at, std::span(entry, layout.headerSize)))
            break;
        if (little(entry, 4) != PT_NOTE)
            continue;
        if (layout.wide)
            notes.push_back({little(entry + 8, 8), little(entry + 32, 8)});
        else
            notes.push_back({little(entry + 4, 4), little(entry + 16, 4)});
    }
    return notes;
}

std::size_t aligned(std::uint64_t size) {
    return static_cast<std::size_t>((size + 3) & ~std::uint64_t{3});
}

// Notes are a name size, a descriptor size, a type, then the name and descriptor, 4-aligned.
std::string buildIdInNotes(std::span<const std::uint8_t> notes) {
    std::size_t at = 0;
    while (notes.size() - at >= 12) {
        const std::uint64_t nameSize = little(&notes[at], 4);
        const std::uint64_t descSize = little(&notes[at + 4], 4);
        const std::uint64_t type = little(&notes[at + 8], 4);
        at += 12;
        if (nameSize > notes.size() - at || aligned(nameSize) > notes.size() - at)
            break;
        const std::size_t descAt = at + aligned(nameSize);
        if (descSize > notes.size() - descAt)
            break;
        if (type == NT_GNU_BUILD_ID && nameSize == 4 && std::memcmp(&notes[at], "GNU", 4) == 0 &&
            descSize > 0 && descSize <= kMaxBuildId)
            return std::string(reinterpret_cast<const char*>(&notes[descAt]), descSize);
        if (aligned(descSize) > notes.size() - descAt)
            break;
        at = descAt + aligned(descSize);
    }
    return {};
}

}  // namespace

std::string buildIdOf(const ReadAt& readAt) {
    const auto layout = layoutOf(readAt);
    if (!layout)
        return {};
    for (const Segment& segment : noteSegments(readAt, *layout)) {
        if (segment.size == 0 || segment.size > kMaxNotes)
            continue;
        std::vector<std::uint8_t> notes(static_cast<std::size_t>(segment.size));
        if (!readAt(segment.offset, notes))
            continue;
        std::string id = buildIdInNotes(notes);
        if (!id.empty())
            return id;
    }
    return {};
}

std::string buildIdOfFile(int fd) {
    return buildIdOf([fd](std::uint64_t offset, std::span<std::uint8_t> buffer) {
        if (offset > static_cast<std::uint64_t>(INT64_MAX))
            return false;
        const ssize_t count = ::pread(fd, buffer.data(), buffer.size(), static_cast<off_t>(offset));
        return count >= 0 && static_cast<std::size_t>(count) == buffer.size();
    });
}

std::string buildIdOfBytes(std::span<const std::uint8_t> bytes) {
    return buildIdOf([bytes](std::uint64_t offset, std::span<std::uint8_t> buffer) {
        if (offset > bytes.size() || buffer.size() > bytes.size() - offset)
            return false;
        std::memcpy(buffer.data(), bytes.data() + offset, buffer.size());
        return true;
    });
}

}  // namespace guard
