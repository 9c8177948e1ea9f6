// Finds the NT_GNU_BUILD_ID note through an ELF file's headers, reading only bounded pieces at
// offsets checked against the file's size, and recognises copies of the system's dynamic loader.
#include "platform/linux/ElfBuildId.h"

#include <elf.h>
#include <fcntl.h>
#include <unistd.h>

#include <QFile>
#include <algorithm>
#include <array>
#include <cstring>
#include <map>
#include <mutex>
#include <type_traits>
#include <vector>

#include "platform/linux/UniqueFd.h"

namespace platform::elf {

namespace {

// Real programs have a few dozen headers and notes of a few hundred bytes; the bounds keep a
// crafted file from making us read much.
constexpr std::uint64_t maximumHeaders = 512;
constexpr std::uint64_t maximumNotesSize = 64 * 1024;
constexpr int maximumNoteAreas = 16;
constexpr std::uint32_t maximumBuildIdSize = 64;

template <typename Word>
Word ordered(Word value, bool swap) {
    if (!swap)
        return value;
    if constexpr (sizeof(Word) == 2)
        return static_cast<Word>(__builtin_bswap16(static_cast<std::uint16_t>(value)));
    else if constexpr (sizeof(Word) == 4)
        return static_cast<Word>(__builtin_bswap32(static_cast<std::uint32_t>(value)));
    else
        return static_cast<Word>(__builtin_bswap64(static_cast<std::uint64_t>(value)));
}

// Whether [offset, offset + length) lies inside the file, without overflowing.
bool inside(std::uint64_t offset, std::uint64_t length, std::uint64_t fileSize) {
    return offset <= fileSize && length <= fileSize - offset;
}

std::uint64_t alignedUp(std::uint64_t value, std::uint64_t alignment) {
    return (value + alignment - 1) & ~(alignment - 1);
}

// The build-id among the notes of one area (a PT_NOTE segment or SHT_NOTE section), whose name
// and descriptor are padded to `alignment` (4, or 8 in areas aligned so).
std::optional<BuildId> buildIdInNotes(const QByteArray& notes, std::uint64_t areaOffset,
                                      std::uint64_t alignment, bool swap) {
    const auto size = static_cast<std::uint64_t>(notes.size());
    std::uint64_t position = 0;
    // The padding after the last note may take the position past the end.
    while (position <= size && size - position >= sizeof(Elf64_Nhdr)) {
        Elf64_Nhdr header;  // one layout for both classes: three 32-bit words
        std::memcpy(&header, notes.constData() + position, sizeof header);
        const std::uint64_t nameSize = ordered(header.n_namesz, swap);
        const std::uint64_t descriptorSize = ordered(header.n_descsz, swap);
        const std::uint64_t name = position + sizeof header;
        if (nameSize > size - name)
            return std::nullopt;
        const std::uint64_t descriptor = alignedUp(name + nameSize, alignment);
        if (descriptor > size || descriptorSize > size - descriptor)
            return std::nullopt;
        if (ordered(header.n_type, swap) == NT_GNU_BUILD_ID && nameSize == 4 &&
            std::memcmp(notes.constData() + name, "GNU", 4) == 0 && descriptorSize > 0 &&
            descriptorSize <= maximumBuildIdSize)
            return BuildId{notes.mid(static_cast<qsizetype>(descriptor),
                                     static_cast<qsizetype>(descriptorSize)),
                           areaOffset + descriptor};
        position = alignedUp(descriptor + descriptorSize, alignment);
    }
    return std::nullopt;
}

struct NoteArea {
    std::uint64_t offset;
    std::uint64_t size;
    std::uint64_t alignment;
};

std::optional<BuildId> buildIdInAreas(const ReadAt& read, std::uint64_t fileSize,
                                      const std::vector<NoteArea>& areas, bool swap) {
    int searched = 0;
    for (const NoteArea& area : areas) {
        if (++searched > maximumNoteAreas)
            break;
        if (area.size > maximumNotesSize || !inside(area.offset, area.size, fileSize))
            continue;
        QByteArray notes(static_cast<qsizetype>(area.size), Qt::Uninitialized);
        if (!read(area.offset, notes.data(), notes.size()))
            return std::nullopt;
        if (auto found = buildIdInNotes(notes, area.offset, area.alignment == 8 ? 8 : 4, swap))
            return found;
    }
    return std::nullopt;
}

// Reads `count` headers of type Header from the table at `offset`, each `entrySize` bytes apart.
template <typename Header>
std::optional<std::vector<Header>> readTable(const ReadAt& read, std::uint64_t fileSize,
                                             std::uint64_t offset, std::uint64_t count,
                                             std::uint64_t entrySize) {
    if (count == 0)
        return std::vector<Header>();
    if (count > maximumHeaders || entrySize < sizeof(Header) || entrySize > 4096 ||
        !inside(offset, count * entrySize, fileSize))
        return std::nullopt;
    QByteArray table(static_cast<qsizetype>(count * entrySize), Qt::Uninitialized);
    if (!read(offset, table.data(), table.size()))
        return std::nullopt;
    std::vector<Header> headers(count);
    for (std::uint64_t index = 0; index < count; ++index)
        std::memcpy(&headers[index], table.constData() + index * entrySize, sizeof(Header));
    return headers;
}

template <typename Ehdr, typename Phdr, typename Shdr>
std::optional<BuildId> findInClass(const ReadAt& read, std::uint64_t fileSize, bool swap) {
    Ehdr file;
    if (!inside(0, sizeof file, fileSize) || !read(0, &file, sizeof file))
        return std::nullopt;
    const auto programs =
        readTable<Phdr>(read, fileSize, ordered(file.e_phoff, swap), ordered(file.e_phnum, swap),
                        ordered(file.e_phentsize, swap));
    if (programs) {
        std::vector<NoteArea> areas;
        for (const Phdr& program : *programs) {
            if (ordered(program.p_type, swap) == PT_NOTE)
                areas.push_back({ordered(program.p_offset, swap), ordered(program.p_filesz, swap),
                                 ordered(program.p_align, swap)});
        }
        if (auto found = buildIdInAreas(read, fileSize, areas, swap))
            return found;
    }
    const auto sections =
        readTable<Shdr>(read, fileSize, ordered(file.e_shoff, swap), ordered(file.e_shnum, swap),
                        ordered(file.e_shentsize, swap));
    if (!sections)
        return std::nullopt;
    std::vector<NoteArea> areas;
    for (const Shdr& section : *sections) {
        if (ordered(section.sh_type, swap) == SHT_NOTE)
            areas.push_back({ordered(section.sh_offset, swap), ordered(section.sh_size, swap),
                             ordered(section.sh_addralign, swap)});
    }
    return buildIdInAreas(read, fileSize, areas, swap);
}

bool readAll(int descriptor, std::uint64_t offset, void* out, std::size_t length) {
    auto* bytes = static_cast<char*>(out);
    while (length > 0) {
        const ssize_t got = ::pread(descriptor, bytes, length, static_cast<off_t>(offset));
        if (got <= 0)
            return false;
        bytes += got;
        offset += static_cast<std::uint64_t>(got);
        length -= static_cast<std::size_t>(got);
    }
    return true;
}

}  // namespace

bool sameFileBytes(int left, int right, off_t size) {
    std::array<char, 1 << 16> leftPiece;
    std::array<char, 1 << 16> rightPiece;
    for (off_t offset = 0; offset < size;) {
        const std::size_t length =
            static_cast<std::size_t>(std::min<off_t>(size - offset, leftPiece.size()));
        if (!readAll(left, offset, leftPiece.data(), length) ||
            !readAll(right, offset, rightPiece.data(), length) ||
            std::memcmp(leftPiece.data(), rightPiece.data(), length) != 0)
            return false;
        offset += static_cast<off_t>(length);
    }
    return true;
}

namespace {

// The dynamic loaders of the architectures Debian builds for, at their fixed paths.
const char* const systemLoaderPaths[] = {"/lib64/ld-linux-x86-64.so.2",
                                         "/lib/ld-linux.so.2",
                                         "/lib/ld-linux-aarch64.so.1",
                                         "/lib/ld-linux-armhf.so.3",
                                         "/lib/ld-linux.so.3",
                                         "/libx32/ld-linux-x32.so.2",
                                         "/lib64/ld64.so.1",
                                         "/lib64/ld64.so.2",
                                         "/lib/ld64.so.1",
                                         "/lib/ld-linux-riscv64-lp64d.so.1",
                                         "/lib/ld.so.1",
                                         "/lib32/ld-linux.so.2"};

struct SystemLoaders {
    std::vector<QByteArray> buildIds;
    std::vector<QString> withoutBuildId;  // compared by their bytes
};

const SystemLoaders& systemLoaders() {
    static const SystemLoaders loaders = [] {
        SystemLoaders found;
        for (const char* path : systemLoaderPaths) {
            if (::access(path, F_OK) != 0)
                continue;
            if (const std::optional<BuildId> id = readBuildId(QString::fromLatin1(path)))
                found.buildIds.push_back(id->bytes);
            else
                found.withoutBuildId.push_back(QString::fromLatin1(path));
        }
        return found;
    }();
    return loaders;
}

bool judgeLoaderImage(int descriptor) {
    struct stat status {};
    if (::fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode))
        return false;
    const SystemLoaders& loaders = systemLoaders();
    if (const std::optional<BuildId> id = readBuildId(descriptor)) {
        return std::find(loaders.buildIds.begin(), loaders.buildIds.end(), id->bytes) !=
               loaders.buildIds.end();
    }
    for (const QString& path : loaders.withoutBuildId) {
        const UniqueFd loader(::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC));
        struct stat loaderStatus {};
        if (loader && ::fstat(loader.get(), &loaderStatus) == 0 &&
            loaderStatus.st_size == status.st_size &&
            sameFileBytes(descriptor, loader.get(), status.st_size))
            return true;
    }
    return false;
}

}  // namespace

std::optional<BuildId> findBuildId(const ReadAt& read, std::uint64_t fileSize) {
    std::array<unsigned char, EI_NIDENT> identity;
    if (!inside(0, identity.size(), fileSize) || !read(0, identity.data(), identity.size()) ||
        std::memcmp(identity.data(), ELFMAG, SELFMAG) != 0)
        return std::nullopt;
    const unsigned char order = identity[EI_DATA];
    if (order != ELFDATA2LSB && order != ELFDATA2MSB)
        return std::nullopt;
    const bool swap = (order == ELFDATA2LSB) != (__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__);
    switch (identity[EI_CLASS]) {
        case ELFCLASS64:
            return findInClass<Elf64_Ehdr, Elf64_Phdr, Elf64_Shdr>(read, fileSize, swap);
        case ELFCLASS32:
            return findInClass<Elf32_Ehdr, Elf32_Phdr, Elf32_Shdr>(read, fileSize, swap);
        default:
            return std::nullopt;
    }
}

std::optional<BuildId> buildIdOfImage(QByteArrayView image) {
    const auto size = static_cast<std::uint64_t>(image.size());
    return findBuildId(
        [image, size](std::uint64_t offset, void* out, std::size_t length) {
            if (!inside(offset, length, size))
                return false;
            std::memcpy(out, image.data() + offset, length);
            return true;
        },
        size);
}

std::optional<BuildId> readBuildId(int descriptor) {
    struct stat status {};
    if (descriptor < 0 || ::fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode))
        return std::nullopt;
    return findBuildId(
        [descriptor](std::uint64_t offset, void* out, std::size_t length) {
            return readAll(descriptor, offset, out, length);
        },
        static_cast<std::uint64_t>(status.st_size));
}

std::optional<BuildId> readBuildId(const QString& path) {
    const UniqueFd file(::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC));
    return file ? readBuildId(file.get()) : std::nullopt;
}

FileSignature signatureOf(const struct stat& status) {
    return {status.st_dev, status.st_ino, status.st_size,
            status.st_mtim.tv_sec * 1000000000LL + status.st_mtim.tv_nsec};
}

bool isSystemLoaderImage(const QString& path, const struct stat& status) {
    // Many processes run a few executables: each version is judged once.
    static std::mutex mutex;
    static std::map<FileSignature, bool> judged;
    constexpr std::size_t maximumJudged = 4096;
    const FileSignature signature = signatureOf(status);
    {
        std::lock_guard lock(mutex);
        if (const auto known = judged.find(signature); known != judged.end())
            return known->second;
    }
    const UniqueFd file(::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC));
    const bool loader = S_ISREG(status.st_mode) && file && judgeLoaderImage(file.get());
    std::lock_guard lock(mutex);
    if (judged.size() >= maximumJudged)
        judged.clear();
    judged.emplace(signature, loader);
    return loader;
}

}  // namespace platform::elf
