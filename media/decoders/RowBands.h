#pragma once
// Bands of picture rows, and running work over them on several threads.

#include <cstddef>
#include <functional>

namespace media {

// A band of rows.
struct RowBand {
  std::size_t first = 0;
  std::size_t count = 0;
};

// Splits `rows` into bands of at least `minimumRows` and runs `work` on each:
// the high-priority global queue helps while the calling thread takes bands
// too, so a band no helper has started yet is done by the caller, and a busy
// pool only makes this slower, never stuck. Returns when every band is done.
// `work` must not block.
void forEachRowBand(std::size_t rows, std::size_t minimumRows, const std::function<void(RowBand)>& work);

}  // namespace media
