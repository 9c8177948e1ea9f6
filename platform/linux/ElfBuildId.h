// Reads the GNU build-id note of an ELF file, 64- or 32-bit, either byte order: what tells one
// build of a program from another, whatever else a copy of it changed, appended or renamed.
#pragma once

#include <sys/stat.h>

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>

namespace platform::elf {

struct BuildId {
    QByteArray bytes;          // the note's descriptor, 1 to 64 bytes
    std::uint64_t offset = 0;  // where those bytes lie in the file
};

// Reads exactly `length` bytes at `offset`; false when they are not all there.
using ReadAt = std::function<bool(std::uint64_t offset, void* out, std::size_t length)>;

// The build-id of the ELF file of `fileSize` bytes that `read` reads: from the notes of its
// program headers, else of its section headers. None for a file that is no ELF file, has no
// build-id, or whose headers on the way to it are malformed or point outside the file. Reads a
// bounded number of bounded pieces, whatever the headers claim.
std::optional<BuildId> findBuildId(const ReadAt& read, std::uint64_t fileSize);
// The same over bytes in memory.
std::optional<BuildId> buildIdOfImage(QByteArrayView image);
// The same over an open regular file; none for any other kind of file.
std::optional<BuildId> readBuildId(int descriptor);
std::optional<BuildId> readBuildId(const QString& path);

// What tells a file's version apart, for caches of what was read from it.
struct FileSignature {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    std::int64_t modified = 0;  // nanoseconds
    bool operator==(const FileSignature&) const = default;
    auto operator<=>(const FileSignature&) const = default;
};
FileSignature signatureOf(const struct stat& status);

// Whether two open files of `size` bytes hold the same bytes, compared in bounded pieces.
bool sameFileBytes(int left, int right, off_t size);

// Whether the file at `path` (a process's /proc/<pid>/exe), whose stat is `status`, is a dynamic
// loader of this system, though it may be a copy under any name: its build-id is a system
// loader's (or, for a loader without one, its bytes are). Remembered per file version, so the
// executable of many processes is read once.
bool isSystemLoaderImage(const QString& path, const struct stat& status);

}  // namespace platform::elf
