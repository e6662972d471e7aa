// Unwinding at crash time. Two comparisons in one run:
// - FDE lookups in the largest .eh_frame among the libraries the project links
//   (Qt 6 Widgets): the walk over the section against the binary search of the
//   .eh_frame_hdr table (target: the search at least 100 times faster);
// - frames per second walking a 512-deep recursion with the crash-time walker
//   against glibc's backtrace() of the same stack (target: at least 0.3x).

#include <benchmark/benchmark.h>
#include <dlfcn.h>
#include <execinfo.h>

#include <string>
#include <vector>

#include "crashreporter/Source/AsyncImageList.h"
#include "crashreporter/Source/AsyncMemory.h"
#include "crashreporter/Source/DwarfFrameInfo.h"
#include "crashreporter/Source/FrameWalker.h"

namespace {

using namespace crashreporter;

constexpr int kDepth = 512;
constexpr int kLookupPoints = 64;

struct Library {
  drcrash_async_loaded_images images;
  const drcrash_async_image* widgets = nullptr;
  std::vector<std::uint64_t> pcs;

  Library() {
    drcrash_async_memory_init();
    drcrash_async_loaded_images_init(&images);
    dlopen("libQt6Widgets.so.6", RTLD_NOW | RTLD_GLOBAL);
    drcrash_async_loaded_images_refresh(&images);
    for (auto* image = drcrash_async_loaded_images_next(&images, nullptr); image != nullptr;
         image = drcrash_async_loaded_images_next(&images, image)) {
      if (std::string(image->name).find("libQt6Widgets") != std::string::npos) widgets = image;
    }
    if (widgets == nullptr) return;
    for (int i = 0; i < kLookupPoints; ++i) {
      pcs.push_back(widgets->text_address + widgets->text_size / kLookupPoints * static_cast<std::uint64_t>(i) + 17);
    }
  }
};

Library& library() {
  static Library instance;
  return instance;
}

template <bool kBinarySearch>
void lookups(benchmark::State& state) {
  Library& lib = library();
  if (lib.widgets == nullptr) {
    state.SkipWithError("libQt6Widgets.so.6 not loadable");
    return;
  }
  std::size_t next = 0, found = 0;
  for (auto _ : state) {
    drcrash::async::drcrash_async_dwarf_fde_info fde;
    const std::uint64_t pc = lib.pcs[next++ % lib.pcs.size()];
    const auto error = kBinarySearch
                           ? drcrash::async::drcrash_async_eh_frame_hdr_find_fde(lib.widgets->eh_frame_hdr, lib.widgets->eh_frame_hdr_size,
                                                                                 lib.widgets->eh_frame_limit, pc, &fde)
                           : drcrash::async::drcrash_async_eh_frame_hdr_find_fde_linear(
                                 lib.widgets->eh_frame_hdr, lib.widgets->eh_frame_hdr_size, lib.widgets->eh_frame_limit, pc, &fde);
    found += error == DRCRASH_ESUCCESS;
  }
  state.SetItemsProcessed(state.iterations());
  state.counters["found_share"] = static_cast<double>(found) / static_cast<double>(state.iterations());
}

void BM_FdeLookupLinearWalk(benchmark::State& state) { lookups<false>(state); }
void BM_FdeLookupBinarySearch(benchmark::State& state) { lookups<true>(state); }

struct WalkContext {
  benchmark::State* state;
  bool useBacktrace;
  bool readCache;  // as the report writer walks: one read cache per walk, started empty
};

drcrash_error_t walkAll(drcrash_async_thread_state* start, void* context) {
  auto* walk = static_cast<WalkContext*>(context);
  std::size_t frames = 0;
  for (auto _ : *walk->state) {
    const bool cached = walk->readCache && drcrash_async_read_cache_begin();
    drcrash_async_frame_walker walker;
    drcrash_async_frame_walker_init(&walker, start, &library().images);
    std::size_t count = 0;
    while (count < 1024 && drcrash_async_frame_walker_next(&walker) == DRCRASH_FRAME_ESUCCESS) ++count;
    if (cached) drcrash_async_read_cache_end();
    frames += count;
  }
  walk->state->SetItemsProcessed(static_cast<std::int64_t>(frames));
  return DRCRASH_ESUCCESS;
}

// The bottom of the recursion, in a frame of its own: the backtrace buffer
// would otherwise make every frame of the recursion 8 KiB big.
__attribute__((noinline)) void measureAtBottom(WalkContext* walk) {
  if (walk->useBacktrace) {
    std::size_t frames = 0;
    void* buffer[1024];
    for (auto _ : *walk->state) frames += static_cast<std::size_t>(backtrace(buffer, 1024));
    walk->state->SetItemsProcessed(static_cast<std::int64_t>(frames));
  } else {
    drcrash_async_thread_state_current(walkAll, walk);
  }
}

__attribute__((noinline)) int recurse(int depth, WalkContext* walk) {
  if (depth > 0) {
    volatile int keep = recurse(depth - 1, walk);
    return keep + 1;
  }
  measureAtBottom(walk);
  return 0;
}

void BM_WalkRecursionCrashWalker(benchmark::State& state) {
  library();
  WalkContext walk{&state, false, true};
  recurse(kDepth, &walk);
}

void BM_WalkRecursionCrashWalkerUncached(benchmark::State& state) {
  library();
  WalkContext walk{&state, false, false};
  recurse(kDepth, &walk);
}

void BM_WalkRecursionBacktrace(benchmark::State& state) {
  WalkContext walk{&state, true, false};
  recurse(kDepth, &walk);
}

BENCHMARK(BM_FdeLookupLinearWalk)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FdeLookupBinarySearch)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_WalkRecursionCrashWalker)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_WalkRecursionCrashWalkerUncached)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_WalkRecursionBacktrace)->Unit(benchmark::kMicrosecond);

}  // namespace
