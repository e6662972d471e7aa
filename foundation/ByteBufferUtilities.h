#pragma once
// Checksums and reordering over raw byte buffers: the common CRC-32
// (reflected, polynomial 0xEDB88320, as archives and compressed streams use) and in-place byte reversal. Stateless,
// reentrant; the CRC table is a compile-time constant, so concurrent first uses
// can never see it half built.

#include <cstdint>
#include <span>

namespace foundation {

// Continues a CRC-32 over `bytes`; start with 0. Empty input returns `running`.
// Chunked updates give the same value as one update over the whole buffer.
std::uint32_t crc32Update(std::uint32_t running, std::span<const std::uint8_t> bytes);

// Reverses the buffer in place; buffers shorter than 2 bytes stay as they are.
void reverseBytes(std::span<std::uint8_t> bytes);

}  // namespace foundation
