// The GNU build-id note of an ELF program, read with bounded reads that trust no offset or size
// in the file: a copy of a locked program is recognised wherever it is run from.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>

namespace guard {

// Reads size bytes at offset into the buffer; false when they are not all there.
using ReadAt = std::function<bool(std::uint64_t offset, std::span<std::uint8_t> buffer)>;

// The build-id's raw bytes, or empty when the file is not a little-endian ELF with one.
std::string buildIdOf(const ReadAt& readAt);
std::string buildIdOfFile(int fd);
std::string buildIdOfBytes(std::span<const std::uint8_t> bytes);

}  // namespace guard
