// Inserts through the kept connection of the telemetry store against a bare
// sqlite3_step loop and against opening a connection per statement; gzip of a
// request body against the gzip tool.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/Base64.h"
#include "telemetry/core/DRTLCompression.h"
#include "telemetry/core/DRTLLogDBStorage.h"
#include "telemetry/core/DRTLUtility.h"

namespace {

using telemetry::core::DRTLDBStorage;
using telemetry::core::DRTLLogDBStorage;
using telemetry::core::DRTLStorageBindableArray;

// The store lives under a temporary SDK directory, on a memory file system when
// there is one: the disk's flush time (the same for every mode, and very noisy
// on a shared machine) would hide the cost of the code being compared.
const std::filesystem::path* scratchFolder_ = nullptr;

const std::filesystem::path& scratchFolder() {
  static const std::filesystem::path* folder = [] {
    const std::filesystem::path base = std::filesystem::is_directory("/dev/shm") ? std::filesystem::path("/dev/shm")
                                                                                 : std::filesystem::temp_directory_path();
    std::string pattern = (base / "telemetry-bench-XXXXXX").string();
    std::filesystem::path made = mkdtemp(pattern.data());
    setenv("XDG_DATA_HOME", made.c_str(), 1);
    std::atexit([] {
      std::error_code ignored;
      std::filesystem::remove_all(*scratchFolder_, ignored);
    });
    scratchFolder_ = new std::filesystem::path(made);  // kept for the exit handler
    return scratchFolder_;
  }();
  return *folder;
}

std::string base64Row(int seed) {
  std::vector<std::uint8_t> bytes(700);
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(seed * 31 + i * 7);
  return platform::base64Encode(bytes);
}

constexpr const char* kInsert = "INSERT INTO \"logs\" (\"groupId\", \"log\", \"targetToken\", \"targetKey\", \"priority\") "
                                "VALUES (?, ?, ?, ?, ?)";

DRTLStorageBindableArray rowValues(const std::string& log) {
  DRTLStorageBindableArray values;
  values.addString("Analytics");
  values.addString(log);
  values.addString(std::nullopt);
  values.addString(std::nullopt);
  values.addNumber(1);
  return values;
}

std::unique_ptr<DRTLLogDBStorage> freshStore() {
  scratchFolder();
  telemetry::core::DRTLUtility::deleteItemForPathComponent("Logs.sqlite");
  return std::make_unique<DRTLLogDBStorage>();
}

void BM_StoreInsertKeptConnection(benchmark::State& state) {
  auto store = freshStore();
  const std::string log = base64Row(1);
  for (auto _ : state) {
    DRTLStorageBindableArray values = rowValues(log);
    benchmark::DoNotOptimize(store->executeNonSelectionQuery(kInsert, &values));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_StoreInsertKeptConnection)->Unit(benchmark::kMicrosecond)->UseRealTime();

void BM_BareSqliteStepLoop(benchmark::State& state) {
  auto store = freshStore();
  sqlite3* database = nullptr;
  sqlite3_open_v2(store->dbFileURL().c_str(), &database, SQLITE_OPEN_READWRITE, nullptr);
  sqlite3_stmt* statement = nullptr;
  sqlite3_prepare_v2(database, kInsert, -1, &statement, nullptr);
  const std::string log = base64Row(1);
  for (auto _ : state) {
    sqlite3_bind_text(statement, 1, "Analytics", -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(statement, 2, log.c_str(), static_cast<int>(log.size()), SQLITE_TRANSIENT);
    sqlite3_bind_null(statement, 3);
    sqlite3_bind_null(statement, 4);
    sqlite3_bind_int64(statement, 5, 1);
    benchmark::DoNotOptimize(sqlite3_step(statement));
    sqlite3_reset(statement);
  }
  sqlite3_finalize(statement);
  sqlite3_close(database);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_BareSqliteStepLoop)->Unit(benchmark::kMicrosecond)->UseRealTime();

// A connection per statement, bounded each time, as a store without a kept
// connection would do.
void BM_StoreInsertOpenPerOperation(benchmark::State& state) {
  auto store = freshStore();
  const std::string log = base64Row(1);
  for (auto _ : state) {
    sqlite3* database = DRTLDBStorage::openDatabaseAtFileURL(store->dbFileURL(), nullptr);
    DRTLDBStorage::setMaxPageCount(store->maxSizeInBytes() / store->pageSize(), database);
    DRTLStorageBindableArray values = rowValues(log);
    benchmark::DoNotOptimize(DRTLDBStorage::executeNonSelectionQuery(kInsert, database, &values));
    sqlite3_close_v2(database);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_StoreInsertOpenPerOperation)->Unit(benchmark::kMicrosecond)->UseRealTime();

std::string jsonBody() {
  std::string body = "{\"logs\":[";
  for (int i = 0; body.size() < 64 * 1024; ++i) {
    body += "{\"type\":\"event\",\"timestamp\":\"2021-03-04T05:06:07.0" + std::to_string(i % 90 + 10) +
            "Z\",\"sid\":\"" + std::to_string(i * 7919) + "\",\"name\":\"clip" + std::to_string(i % 13) +
            "\",\"device\":{\"sdkName\":\"diraraded.linux\",\"osVersion\":\"12.0.0\",\"locale\":\"en_US\"}},";
  }
  body.back() = ']';
  return body + "}";
}

void BM_CompressData64KiB(benchmark::State& state) {
  const std::string body = jsonBody();
  std::size_t size = 0;
  for (auto _ : state) {
    auto compressed = telemetry::core::DRTLCompression::compressData(body);
    size = compressed->size();
    benchmark::DoNotOptimize(compressed);
  }
  state.counters["bytes"] = static_cast<double>(size);
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(body.size()));
}
BENCHMARK(BM_CompressData64KiB)->Unit(benchmark::kMicrosecond);

// The gzip tool on the same bytes; the time includes starting the process.
void BM_GzipToolSameBody(benchmark::State& state) {
  const std::string body = jsonBody();
  const auto input = scratchFolder() / "body.json";
  std::ofstream(input, std::ios::binary) << body;
  const std::string command = "gzip -6 -n -c '" + input.string() + "'";
  std::size_t size = 0;
  for (auto _ : state) {
    size = 0;
    if (FILE* pipe = popen(command.c_str(), "r")) {
      char buffer[65536];
      std::size_t read = 0;
      while ((read = fread(buffer, 1, sizeof buffer, pipe)) > 0) size += read;
      pclose(pipe);
    }
  }
  auto ours = telemetry::core::DRTLCompression::compressData(body);
  state.counters["bytes"] = static_cast<double>(size);
  state.counters["size_ratio_ours_to_gzip"] = size ? static_cast<double>(ours->size()) / static_cast<double>(size) : 0;
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(body.size()));
}
BENCHMARK(BM_GzipToolSameBody)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace
