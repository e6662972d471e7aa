// The crash log of a report with 64 threads of 512 frames: the formatter plus
// the log's compact JSON, against nlohmann-json's dump of an equal tree built
// directly from the same report (same texts), in the same run. Also the size
// the log store keeps of that log (Base64 of its archive) as a share of the
// 10 MiB store.

#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "crashreporter/Source/DCRCrashReport.h"
#include "crashreporter/Source/DCRCrashReportFormat.h"
#include "crashreporter/drcrash.pb-c.h"
#include "telemetry/core/DRTLUtility.h"
#include "telemetry/services/crashes/logs/DRTLCrashesArchiveClasses.h"
#include "telemetry/services/crashes/logs/DRTLErrorLogFormatter.h"

namespace {

using telemetry::core::DRTLJSON;
using telemetry::crashes::DRTLErrorLogFormatter;

constexpr int kThreads = 64, kFrames = 512, kImages = 40;
constexpr std::uint64_t kImageBase = 0x7f0000000000ull, kImageStride = 0x100000;

// The report's bytes, made with protobuf-c's structures.
std::vector<std::uint8_t> reportBytes() {
  Drcrash__CrashReport report = DRCRASH__CRASH_REPORT__INIT;
  Drcrash__CrashReport__SystemInfo system = DRCRASH__CRASH_REPORT__SYSTEM_INFO__INIT;
  Drcrash__CrashReport__ApplicationInfo application = DRCRASH__CRASH_REPORT__APPLICATION_INFO__INIT;
  Drcrash__CrashReport__Signal signal = DRCRASH__CRASH_REPORT__SIGNAL__INIT;
  Drcrash__CrashReport__ProcessInfo process = DRCRASH__CRASH_REPORT__PROCESS_INFO__INIT;
  Drcrash__CrashReport__Processor processor = DRCRASH__CRASH_REPORT__PROCESSOR__INIT;
  system.os_version = const_cast<char*>("6.1.0");
  system.architecture = DRCRASH__ARCHITECTURE__X86_64;
  system.timestamp = 1765386000;
  application.identifier = const_cast<char*>("com.dirarovazovo.zira");
  application.version = const_cast<char*>("412");
  signal.name = const_cast<char*>("SIGSEGV");
  signal.code = const_cast<char*>("SEGV_MAPERR");
  process.process_name = const_cast<char*>("VantelioZira");
  process.process_id = 4242;
  process.process_path = const_cast<char*>("/opt/zira/bin/VantelioZira");
  processor.has_encoding = 1;
  processor.encoding = DRCRASH__CRASH_REPORT__PROCESSOR__TYPE_ENCODING__TYPE_ENCODING_MACH;
  processor.type = 16777223;
  processor.subtype = 3;

  std::vector<Drcrash__CrashReport__Thread__StackFrame> frames(kThreads * kFrames);
  std::vector<Drcrash__CrashReport__Thread__StackFrame*> framePointers(kThreads * kFrames);
  std::vector<Drcrash__CrashReport__Thread> threads(kThreads);
  std::vector<Drcrash__CrashReport__Thread*> threadPointers;
  for (int t = 0; t < kThreads; ++t) {
    for (int f = 0; f < kFrames; ++f) {
      const int i = t * kFrames + f;
      frames[i] = DRCRASH__CRASH_REPORT__THREAD__STACK_FRAME__INIT;
      frames[i].pc = kImageBase + static_cast<std::uint64_t>(i % kImages) * kImageStride + 0x1000 + f * 24;
      framePointers[i] = &frames[i];
    }
    threads[t] = DRCRASH__CRASH_REPORT__THREAD__INIT;
    threads[t].thread_number = static_cast<std::uint32_t>(t);
    threads[t].crashed = t == 0;
    threads[t].n_frames = kFrames;
    threads[t].frames = &framePointers[static_cast<std::size_t>(t) * kFrames];
    threadPointers.push_back(&threads[t]);
  }
  std::vector<std::string> names;
  std::vector<Drcrash__CrashReport__BinaryImage> images(kImages);
  std::vector<Drcrash__CrashReport__BinaryImage*> imagePointers;
  std::uint8_t uuid[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
  for (int i = 0; i < kImages; ++i) names.push_back("/usr/lib/x86_64-linux-gnu/libzira-part-" + std::to_string(i) + ".so.1");
  for (int i = 0; i < kImages; ++i) {
    images[i] = DRCRASH__CRASH_REPORT__BINARY_IMAGE__INIT;
    images[i].base_address = kImageBase + static_cast<std::uint64_t>(i) * kImageStride;
    images[i].size = 0x80000;
    images[i].name = names[i].data();
    images[i].has_uuid = 1;
    images[i].uuid = {sizeof uuid, uuid};
    images[i].code_type = &processor;
    imagePointers.push_back(&images[i]);
  }
  report.system_info = &system;
  report.application_info = &application;
  report.signal = &signal;
  report.process_info = &process;
  report.n_threads = threadPointers.size();
  report.threads = threadPointers.data();
  report.n_binary_images = imagePointers.size();
  report.binary_images = imagePointers.data();

  std::vector<std::uint8_t> bytes(crashreporter::kDrcrashHeaderLength + drcrash__crash_report__get_packed_size(&report));
  std::memcpy(bytes.data(), crashreporter::kDrcrashReportHeader, crashreporter::kDrcrashHeaderLength);
  drcrash__crash_report__pack(&report, bytes.data() + crashreporter::kDrcrashHeaderLength);
  return bytes;
}

const crashreporter::DCRCrashReport& largeReport() {
  static const auto report = [] {
    // The device tracker keeps its history in the user defaults: not the user's own.
    static std::string folder = (std::filesystem::temp_directory_path() / "crash-log-bench-XXXXXX").string();
    mkdtemp(folder.data());
    setenv("XDG_CONFIG_HOME", folder.c_str(), 1);
    setenv("XDG_DATA_HOME", folder.c_str(), 1);
    telemetry::crashes::registerCrashesArchiveClasses();
    return *crashreporter::DCRCrashReport::initWithData(reportBytes());
  }();
  return *report;
}

std::string hex(const char* format, unsigned long long a, long long b = 0) {
  char text[48];
  std::snprintf(text, sizeof text, format, a, b);
  return text;
}

// The same JSON, built straight from the report.
DRTLJSON directTree(const crashreporter::DCRCrashReport& report) {
  DRTLJSON log = DRTLJSON::object();
  log["type"] = "appleError";
  log["id"] = "8F123456-789A-BCDE-F001-23456789ABCD";
  log["processId"] = report.processInfo()->processID();
  log["processName"] = *report.processInfo()->processName();
  log["errorThreadId"] = 0;
  log["fatal"] = true;
  log["primaryArchitectureId"] = 16777223;
  log["architectureVariantId"] = 3;
  log["applicationPath"] = *report.processInfo()->processPath();
  log["osExceptionType"] = report.signalInfo()->name();
  log["osExceptionCode"] = report.signalInfo()->code();
  log["osExceptionAddress"] = hex("0x%llx", report.signalInfo()->address());
  DRTLJSON threads = DRTLJSON::array();
  for (const auto& thread : report.threads()) {
    DRTLJSON frames = DRTLJSON::array();
    for (const auto& frame : thread->stackFrames()) {
      const auto image = report.imageForAddress(frame.instructionPointer());
      const std::uint64_t base = image ? image->imageBaseAddress() : 0;
      DRTLJSON entry = DRTLJSON::object();
      entry["address"] = hex("0x%016llx", frame.instructionPointer());
      entry["code"] = hex("0x%llx + %lld", base, static_cast<long long>(frame.instructionPointer() - base));
      frames.push_back(std::move(entry));
    }
    DRTLJSON entry = DRTLJSON::object();
    entry["id"] = thread->threadNumber();
    entry["frames"] = std::move(frames);
    threads.push_back(std::move(entry));
  }
  log["threads"] = std::move(threads);
  DRTLJSON binaries = DRTLJSON::array();
  for (const auto& image : report.images()) {
    DRTLJSON entry = DRTLJSON::object();
    entry["id"] = *image->imageUUID();
    entry["startAddress"] = hex("0x%016llx", image->imageBaseAddress());
    entry["endAddress"] = hex("0x%016llx", image->imageBaseAddress() + image->imageSize() - 1);
    entry["name"] = std::filesystem::path(image->imageName()).filename().string();
    entry["path"] = image->imageName();
    entry["primaryArchitectureId"] = 16777223;
    entry["architectureVariantId"] = 3;
    binaries.push_back(std::move(entry));
  }
  log["binaries"] = std::move(binaries);
  log["registers"] = DRTLJSON::object();
  return log;
}

void BM_CrashLogFormatterAndJson(benchmark::State& state) {
  const auto& report = largeReport();
  std::size_t bytes = 0;
  for (auto _ : state) {
    const auto log = DRTLErrorLogFormatter::errorLogFromCrashReport(report);
    const auto text = log->serializeLogWithPrettyPrinting(false);
    bytes = text ? text->size() : 0;
    benchmark::DoNotOptimize(text);
  }
  const auto log = DRTLErrorLogFormatter::errorLogFromCrashReport(report);
  const auto archived = telemetry::core::DRTLUtility::archiveKeyedData(log.get());
  const double stored = archived ? 4.0 * static_cast<double>((archived->size() + 2) / 3) : 0;
  state.counters["json_bytes"] = static_cast<double>(bytes);
  state.counters["stored_base64_bytes"] = stored;
  state.counters["share_of_10MiB_store"] = stored / (10.0 * 1024 * 1024);
  state.SetItemsProcessed(state.iterations());
}

void BM_NlohmannDirectTreeDump(benchmark::State& state) {
  const auto& report = largeReport();
  std::size_t bytes = 0;
  for (auto _ : state) {
    const std::string text = directTree(report).dump();
    bytes = text.size();
    benchmark::DoNotOptimize(text);
  }
  state.counters["json_bytes"] = static_cast<double>(bytes);
  state.SetItemsProcessed(state.iterations());
}

BENCHMARK(BM_CrashLogFormatterAndJson)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_NlohmannDirectTreeDump)->Unit(benchmark::kMillisecond)->MinTime(1.0);

}  // namespace
