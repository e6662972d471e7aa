#pragma once
// How large the reader's pages are and how many it keeps: each disk access
// should deliver about ten frames, and interleaved streams stored far apart
// should each find their bytes in a page already read. Pure functions.

#include <cstdint>

namespace media {

// The file system's preferred block size, or 4096 when it is unusable (below
// 1, not a multiple of 512, above 32 MiB).
std::int64_t readingBlockSize(std::int64_t preferredBlockSize);
// Ten frames (ten of the largest early frame when three quarters of it
// exceed the average), rounded down to blocks, plus one block.
std::int64_t readingPageSize(std::int64_t blockSize, std::int64_t averageFrameSize, std::int64_t largestPacketSize);
// One page more than the audio tracks, at least 2 and at most 19 of them.
std::int32_t readingPageCount(std::int64_t audioTracks);

}  // namespace media
