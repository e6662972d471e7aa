// Logs from enqueueItem to stored, through a channel unit on the group queue
// and the log store's kept connection, against a bare sqlite3 insert loop of
// the same Base64 rows and against a connection opened per insert; and the
// size of an ingestion body after gzip against the gzip tool (-6 -n).
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/Base64.h"
#include "telemetry/core/Channel/DRTLChannelGroupDefault.h"
#include "telemetry/core/Channel/DRTLLogContainer.h"
#include "telemetry/core/DRTLCompression.h"
#include "telemetry/core/DRTLLogDBStorage.h"
#include "telemetry/core/DRTLLogWithProperties.h"
#include "telemetry/core/DRTLUtility.h"

namespace {

using namespace telemetry::core;

constexpr int kBatch = 100;
// Room for every run, so the figures are of inserts, not of evictions.
constexpr std::int64_t kRoomyStore = std::int64_t{512} << 20;

// A memory file system when there is one, so the disk's flush time (the same
// for every mode, and noisy on a shared machine) does not hide the code.
const std::filesystem::path& scratchFolder() {
  static const std::filesystem::path* folder = [] {
    const std::filesystem::path base = std::filesystem::is_directory("/dev/shm") ? std::filesystem::path("/dev/shm")
                                                                                 : std::filesystem::temp_directory_path();
    std::string pattern = (base / "telemetry-pipeline-XXXXXX").string();
    auto* made = new std::filesystem::path(mkdtemp(pattern.data()));  // kept for the exit handler
    setenv("XDG_DATA_HOME", made->c_str(), 1);
    setenv("XDG_CONFIG_HOME", made->c_str(), 1);
    static const std::filesystem::path* removeAtExit = made;
    std::atexit([] {
      std::error_code ignored;
      std::filesystem::remove_all(*removeAtExit, ignored);
    });
    return made;
  }();
  return *folder;
}

std::shared_ptr<DRTLLogWithProperties> sampleLog(int index) {
  auto device = std::make_shared<DRTLDevice>();
  device->sdkName = "diraraded.linux";
  device->sdkVersion = "4.0.0";
  device->osName = "Debian GNU/Linux";
  device->osVersion = "12.0.0";
  device->locale = "en_US";
  device->timeZoneOffset = 60;
  device->appVersion = "1.0";
  device->appBuild = "1";
  auto log = std::make_shared<DRTLLogWithProperties>();
  log->type = "event";
  log->timestamp = platform::Date(std::chrono::milliseconds(1700000000000 + index));
  log->sid = "6D2C5E9A-1B4E-4F0C-9E34-2C51A7D0B1F3";
  log->device = device;
  log->properties = std::map<std::string, std::string>{{"clip", "clip" + std::to_string(index % 13)},
                                                      {"node", "A"}};
  return log;
}

std::string base64Row() {
  const std::optional<std::string> archive = DRTLUtility::archiveKeyedData(sampleLog(1).get());
  return platform::base64Encode(reinterpret_cast<const std::uint8_t*>(archive->data()), archive->size());
}

void freshStoreFile() {
  scratchFolder();
  DRTLUtility::deleteItemForPathComponent(kDRTLLogsFileName);
}

// enqueueItem -> filter -> save -> batch check, waiting until the batch is stored.
void BM_PipelineEnqueueToStored(benchmark::State& state) {
  freshStoreFile();
  auto group = DRTLChannelGroupDefault::create(nullptr);  // no ingestion: nothing leaves
  group->setMaxStorageSize(kRoomyStore, nullptr);
  auto unit = group->addChannelUnitWithConfiguration(DRTLChannelUnitConfiguration::defaultConfiguration("Analytics"));
  std::vector<std::shared_ptr<DRTLLogWithProperties>> logs;
  for (auto _ : state) {
    state.PauseTiming();
    logs.clear();
    for (int i = 0; i < kBatch; ++i) logs.push_back(sampleLog(i));
    state.ResumeTiming();
    for (const auto& log : logs) unit->enqueueItem(log, 1);
    group->logsDispatchQueue()->sync([] {}, std::chrono::seconds(60));
  }
  state.SetItemsProcessed(state.iterations() * kBatch);
}
BENCHMARK(BM_PipelineEnqueueToStored)->Unit(benchmark::kMillisecond)->UseRealTime();

constexpr const char* kInsert = "INSERT INTO \"logs\" (\"groupId\", \"log\", \"priority\") VALUES (?, ?, ?)";

void BM_BareSqliteInsertSameRows(benchmark::State& state) {
  freshStoreFile();
  auto store = std::make_unique<DRTLLogDBStorage>();
  const std::string row = base64Row();
  sqlite3* database = nullptr;
  sqlite3_open_v2(store->dbFileURL().c_str(), &database, SQLITE_OPEN_READWRITE, nullptr);
  sqlite3_stmt* statement = nullptr;
  sqlite3_prepare_v2(database, kInsert, -1, &statement, nullptr);
  for (auto _ : state) {
    for (int i = 0; i < kBatch; ++i) {
      sqlite3_bind_text(statement, 1, "Analytics", -1, SQLITE_TRANSIENT);
      sqlite3_bind_text(statement, 2, row.c_str(), static_cast<int>(row.size()), SQLITE_TRANSIENT);
      sqlite3_bind_int64(statement, 3, 1);
      benchmark::DoNotOptimize(sqlite3_step(statement));
      sqlite3_reset(statement);
    }
  }
  sqlite3_finalize(statement);
  sqlite3_close(database);
  state.SetItemsProcessed(state.iterations() * kBatch);
}
BENCHMARK(BM_BareSqliteInsertSameRows)->Unit(benchmark::kMillisecond)->UseRealTime();

// What a store without a kept connection pays: open, bound, insert, close.
void BM_InsertOpenPerOperationSameRows(benchmark::State& state) {
  freshStoreFile();
  auto store = std::make_unique<DRTLLogDBStorage>();
  store->setMaxStorageSize(kRoomyStore, [](bool) {});
  const std::string row = base64Row();
  for (auto _ : state) {
    for (int i = 0; i < kBatch; ++i) {
      sqlite3* database = DRTLDBStorage::openDatabaseAtFileURL(store->dbFileURL(), nullptr);
      DRTLDBStorage::setMaxPageCount(store->maxSizeInBytes() / store->pageSize(), database);
      DRTLStorageBindableArray values;
      values.addString("Analytics");
      values.addString(row);
      values.addNumber(1);
      benchmark::DoNotOptimize(DRTLDBStorage::executeNonSelectionQuery(kInsert, database, &values));
      sqlite3_close_v2(database);
    }
  }
  state.SetItemsProcessed(state.iterations() * kBatch);
}
BENCHMARK(BM_InsertOpenPerOperationSameRows)->Unit(benchmark::kMillisecond)->UseRealTime();

// A 50-log ingestion body: gzip here against the gzip tool on the same bytes.
void BM_IngestionBodyGzipAgainstTool(benchmark::State& state) {
  std::vector<std::shared_ptr<DRTLAbstractLog>> logs;
  for (int i = 0; i < 50; ++i) logs.push_back(sampleLog(i));
  const std::string body = *DRTLLogContainer("batch", logs).serializeLog();
  const auto input = scratchFolder() / "body.json";
  std::ofstream(input, std::ios::binary) << body;
  const std::string command = "gzip -6 -n -c '" + input.string() + "'";
  std::size_t ours = 0;
  for (auto _ : state) {
    auto compressed = DRTLCompression::compressData(body);
    ours = compressed->size();
    benchmark::DoNotOptimize(compressed);
  }
  std::size_t tool = 0;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    char buffer[65536];
    std::size_t read = 0;
    while ((read = fread(buffer, 1, sizeof buffer, pipe)) > 0) tool += read;
    pclose(pipe);
  }
  state.counters["body_bytes"] = static_cast<double>(body.size());
  state.counters["gzip_bytes"] = static_cast<double>(ours);
  state.counters["tool_bytes"] = static_cast<double>(tool);
  state.counters["size_ratio_to_tool"] = tool ? static_cast<double>(ours) / static_cast<double>(tool) : 0;
}
BENCHMARK(BM_IngestionBodyGzipAgainstTool)->Unit(benchmark::kMicrosecond);

}  // namespace

namespace {

// The store's save alone (archive, Base64, insert), without the unit.
void BM_StoreSaveLog(benchmark::State& state) {
  freshStoreFile();
  DRTLLogDBStorage store;
  store.setMaxStorageSize(kRoomyStore, [](bool) {});
  for (auto _ : state) {
    for (int i = 0; i < kBatch; ++i) benchmark::DoNotOptimize(store.saveLog(sampleLog(i), "Analytics", 1));
  }
  state.SetItemsProcessed(state.iterations() * kBatch);
}
BENCHMARK(BM_StoreSaveLog)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
