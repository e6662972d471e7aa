// Reading and writing a large crash report (32 threads of 512 frames, 200
// images; about 250 KiB). Peers in the same run: protobuf-c's unpack alone on
// the same bytes for the reader, protobuf-c's pack of the same message for the
// crash-time encoder (which writes through its 256-byte buffer to /dev/null).
// Targets: reader and encoder each at least half the peer's rate.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "crashreporter/Source/DCRCrashReport.h"
#include "crashreporter/Source/DCRCrashReportFormat.h"
#include "crashreporter/Source/ProtobufFieldEncoder.h"
#include "crashreporter/drcrash.pb-c.h"

namespace {

using namespace crashreporter;

constexpr int kThreads = 32, kFrames = 512, kImages = 200;

// Owns a message built by hand, in protobuf-c's structures.
struct LargeReport {
  Drcrash__CrashReport report = DRCRASH__CRASH_REPORT__INIT;
  Drcrash__CrashReport__SystemInfo system = DRCRASH__CRASH_REPORT__SYSTEM_INFO__INIT;
  Drcrash__CrashReport__ApplicationInfo application = DRCRASH__CRASH_REPORT__APPLICATION_INFO__INIT;
  Drcrash__CrashReport__Signal signal = DRCRASH__CRASH_REPORT__SIGNAL__INIT;
  std::vector<Drcrash__CrashReport__Thread> threads;
  std::vector<Drcrash__CrashReport__Thread*> threadPointers;
  std::vector<Drcrash__CrashReport__Thread__StackFrame> frames;
  std::vector<Drcrash__CrashReport__Thread__StackFrame*> framePointers;
  std::vector<Drcrash__CrashReport__Symbol> symbols;
  std::vector<Drcrash__CrashReport__BinaryImage> images;
  std::vector<Drcrash__CrashReport__BinaryImage*> imagePointers;
  std::vector<std::string> names;
  std::uint8_t uuid[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};

  LargeReport() {
    system.os_version = const_cast<char*>("6.1.0");
    system.architecture = DRCRASH__ARCHITECTURE__X86_64;
    system.timestamp = 1765386000;
    application.identifier = const_cast<char*>("com.dirarovazovo.zira");
    application.version = const_cast<char*>("412");
    signal.name = const_cast<char*>("SIGSEGV");
    signal.code = const_cast<char*>("SEGV_MAPERR");
    names.reserve(kImages);
    for (int i = 0; i < kImages; ++i) names.push_back("/usr/lib/x86_64-linux-gnu/libzira-component-" + std::to_string(i) + ".so.1");
    symbols.resize(kThreads * kFrames);
    frames.resize(kThreads * kFrames);
    framePointers.resize(kThreads * kFrames);
    threads.resize(kThreads);
    for (int t = 0; t < kThreads; ++t) {
      for (int f = 0; f < kFrames; ++f) {
        const int i = t * kFrames + f;
        frames[i] = DRCRASH__CRASH_REPORT__THREAD__STACK_FRAME__INIT;
        frames[i].pc = 0x7f0000000000ull + static_cast<std::uint64_t>(i) * 4099;
        if (f % 10 == 0) {
          symbols[i] = DRCRASH__CRASH_REPORT__SYMBOL__INIT;
          symbols[i].name = const_cast<char*>("_ZN6engine11QueuePlayer11renderFrameEv");
          symbols[i].start_address = frames[i].pc - 64;
          frames[i].symbol = &symbols[i];
        }
        framePointers[i] = &frames[i];
      }
      threads[t] = DRCRASH__CRASH_REPORT__THREAD__INIT;
      threads[t].thread_number = static_cast<std::uint32_t>(t);
      threads[t].crashed = t == 0;
      threads[t].n_frames = kFrames;
      threads[t].frames = &framePointers[static_cast<std::size_t>(t) * kFrames];
    }
    for (auto& thread : threads) threadPointers.push_back(&thread);
    images.resize(kImages);
    for (int i = 0; i < kImages; ++i) {
      images[i] = DRCRASH__CRASH_REPORT__BINARY_IMAGE__INIT;
      images[i].base_address = 0x7f0000000000ull + static_cast<std::uint64_t>(i) * 0x100000;
      images[i].size = 0x80000;
      images[i].name = names[i].data();
      images[i].has_uuid = 1;
      images[i].uuid = {sizeof uuid, uuid};
      imagePointers.push_back(&images[i]);
    }
    report.system_info = &system;
    report.application_info = &application;
    report.signal = &signal;
    report.n_threads = threadPointers.size();
    report.threads = threadPointers.data();
    report.n_binary_images = imagePointers.size();
    report.binary_images = imagePointers.data();
  }
};

const LargeReport& largeReport() {
  static const LargeReport report;
  return report;
}

std::vector<std::uint8_t> packed() {
  const auto& message = largeReport().report;
  std::vector<std::uint8_t> bytes(kDrcrashHeaderLength + drcrash__crash_report__get_packed_size(&message));
  std::memcpy(bytes.data(), kDrcrashReportHeader, kDrcrashHeaderLength);
  drcrash__crash_report__pack(&message, bytes.data() + kDrcrashHeaderLength);
  return bytes;
}

// The crash-time encoder over the same message: nested lengths by a measuring pass.
using File = drcrash_async_file;
template <typename Body>
std::size_t nested(File* file, std::uint32_t field, Body body) {
  const auto length = static_cast<std::uint32_t>(body(nullptr));
  const std::size_t head = drcrash_writer_pack(file, field, DRCRASH_PROTOBUF_TYPE_MESSAGE, &length);
  if (file != nullptr) body(file);
  return head + length;
}
std::size_t u64(File* f, std::uint32_t field, std::uint64_t v) { return drcrash_writer_pack(f, field, DRCRASH_PROTOBUF_TYPE_UINT64, &v); }
std::size_t text(File* f, std::uint32_t field, const char* v) { return drcrash_writer_pack(f, field, DRCRASH_PROTOBUF_TYPE_STRING, v); }

std::size_t encode(File* f, const Drcrash__CrashReport& r) {
  std::size_t n = nested(f, 1, [&](File* g) {
    const std::int32_t architecture = r.system_info->architecture;
    return text(g, 2, r.system_info->os_version) + drcrash_writer_pack(g, 3, DRCRASH_PROTOBUF_TYPE_ENUM, &architecture) +
           drcrash_writer_pack(g, 4, DRCRASH_PROTOBUF_TYPE_INT64, &r.system_info->timestamp);
  });
  n += nested(f, 2, [&](File* g) { return text(g, 1, r.application_info->identifier) + text(g, 2, r.application_info->version); });
  for (std::size_t t = 0; t < r.n_threads; ++t) {
    const auto& thread = *r.threads[t];
    n += nested(f, 3, [&](File* g) {
      std::size_t m = drcrash_writer_pack(g, 1, DRCRASH_PROTOBUF_TYPE_UINT32, &thread.thread_number);
      const bool crashed = thread.crashed;
      m += drcrash_writer_pack(g, 3, DRCRASH_PROTOBUF_TYPE_BOOL, &crashed);
      for (std::size_t i = 0; i < thread.n_frames; ++i) {
        const auto& frame = *thread.frames[i];
        m += nested(g, 2, [&](File* h) {
          std::size_t k = u64(h, 3, frame.pc);
          if (frame.symbol) {
            k += nested(h, 6, [&](File* s) { return text(s, 1, frame.symbol->name) + u64(s, 2, frame.symbol->start_address); });
          }
          return k;
        });
      }
      return m;
    });
  }
  for (std::size_t i = 0; i < r.n_binary_images; ++i) {
    const auto& image = *r.binary_images[i];
    n += nested(f, 4, [&](File* g) {
      const drcrash_protobuf_bytes uuid{image.uuid.len, image.uuid.data};
      return u64(g, 2, image.size) + u64(g, 1, image.base_address) + text(g, 3, image.name) +
             drcrash_writer_pack(g, 4, DRCRASH_PROTOBUF_TYPE_BYTES, &uuid);
    });
  }
  n += nested(f, 6, [&](File* g) { return text(g, 1, r.signal->name) + text(g, 2, r.signal->code) + u64(g, 3, r.signal->address); });
  return n;
}

void BM_InitWithData(benchmark::State& state) {
  const auto bytes = packed();
  for (auto _ : state) {
    auto report = DCRCrashReport::initWithData(bytes);
    if (!report.ok()) state.SkipWithError("report refused");
    benchmark::DoNotOptimize(report);
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
  state.counters["report_bytes"] = static_cast<double>(bytes.size());
}

void BM_ProtobufCUnpack(benchmark::State& state) {
  const auto bytes = packed();
  for (auto _ : state) {
    auto* message = drcrash__crash_report__unpack(nullptr, bytes.size() - kDrcrashHeaderLength, bytes.data() + kDrcrashHeaderLength);
    benchmark::DoNotOptimize(message);
    drcrash__crash_report__free_unpacked(message, nullptr);
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}

void BM_FieldEncoder(benchmark::State& state) {
  const int fd = ::open("/dev/null", O_WRONLY);
  std::size_t size = 0;
  for (auto _ : state) {
    File file;
    drcrash_async_file_init(&file, fd, 0);
    size = encode(&file, largeReport().report);
    drcrash_async_file_flush(&file);
  }
  ::close(fd);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size));
}

// The encoder's own work without the output: what remains when write(2) to a
// descriptor through the 256-byte buffer is taken away.
void BM_FieldEncoderMeasureOnly(benchmark::State& state) {
  std::size_t size = 0;
  for (auto _ : state) {
    size = encode(nullptr, largeReport().report);
    benchmark::DoNotOptimize(size);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size));
}

void BM_ProtobufCPack(benchmark::State& state) {
  const auto& message = largeReport().report;
  std::vector<std::uint8_t> buffer(drcrash__crash_report__get_packed_size(&message));
  for (auto _ : state) {
    // The peer measures too, as it must to size its buffer.
    benchmark::DoNotOptimize(drcrash__crash_report__get_packed_size(&message));
    benchmark::DoNotOptimize(drcrash__crash_report__pack(&message, buffer.data()));
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * buffer.size()));
}

BENCHMARK(BM_InitWithData)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ProtobufCUnpack)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FieldEncoder)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FieldEncoderMeasureOnly)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ProtobufCPack)->Unit(benchmark::kMicrosecond);

}  // namespace
