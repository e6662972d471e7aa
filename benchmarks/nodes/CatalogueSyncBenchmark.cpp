// The first synchronisation of a node's media items into an empty clip
// catalogue (the batch merge operation, from the call until its clips are
// stored and announced), beside inserting the same rows with plain SQLite in
// one transaction, into a file of the same schema, in the same run.
//
// Counters: catalogue_ms and sqlite_ms per batch, per_item_us for the
// catalogue, ratio = catalogue_ms / sqlite_ms. Between 10,000 and 100,000
// items per_item_us should stay about the same (no per-row table scans).

#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "benchmarks/BenchmarkSupport.h"
#include "nodes/catalogue/ClipCatalogue.h"
#include "platform/Diagnostics.h"
#include "platform/NotificationCenter.h"
#include "platform/RunLoop.h"

namespace {

using Clock = std::chrono::steady_clock;

std::vector<std::shared_ptr<nodes::MediaItem>> mediaItems(int count) {
  std::vector<std::shared_ptr<nodes::MediaItem>> items;
  items.reserve(count);
  for (int i = 0; i < count; ++i) {
    char id[48];
    std::snprintf(id, sizeof id, "ABCD-EFGH-IJKL-MNOP-%04d-%08d", i % 10000, i);
    // The node lists files in its own order, not sorted by path.
    const std::string name = "clip-" + std::to_string((i * 7919) % count) + ".mov";
    nodes::MediaItemInfo info;
    info.uniqueID = id;
    info.absolutePath = "/media/Main/" + std::to_string(i % 97) + "/" + name;
    info.relativePath = "/" + std::to_string(i % 97) + "/" + name;
    info.mediaFolderUniqueID = "folder-1";
    info.mediaFolderPath = "/media/Main";
    info.nodeUniqueID = "node-1";
    info.nodeName = "Studio A";
    info.displayName = name;
    info.durationInSeconds = 30.0 + i % 600;
    info.framesPerSecond = 25.0;
    info.lastModificationDate = platform::Date(std::chrono::seconds(1'700'000'000 + i));
    info.languagesArray = {"en", "fr"};
    info.videoCodecDescription = "Apple ProRes 422";
    info.naturalVideoSizeWidth = 1920;
    info.naturalVideoSizeHeight = 1080;
    items.push_back(std::make_shared<nodes::MediaItem>(std::move(info)));
  }
  return items;
}

// The rows the catalogue stores for the items, made the same way it makes them.
std::vector<nodes::CatalogueRow> rowsOf(const std::vector<std::shared_ptr<nodes::MediaItem>>& items) {
  std::vector<nodes::CatalogueRow> rows;
  rows.reserve(items.size());
  for (const auto& item : items) {
    std::shared_ptr<nodes::PlaylistItem> clip = nodes::PlaylistItem::initWithMediaItem(item);
    clip->setOnline(true);
    nodes::CatalogueRow row;
    clip->fillCoreDataClipEntity(row);
    rows.push_back(std::move(row));
  }
  return rows;
}

// Catalogue: from the call to the "clipsAdded" notification.
double catalogueSeconds(const std::vector<std::shared_ptr<nodes::MediaItem>>& items) {
  bench::TemporaryFolder folder("vz-catalogue");
  platform::NotificationCenter center;
  bool added = false;
  platform::ObserverToken token = center.addObserver(nodes::catalogue::kClipsAddedNotification, nullptr,
                                                     [&](const platform::Notification&) { added = true; });
  nodes::ClipCatalogue::Options options;
  options.notificationCenter = &center;
  options.bundleName = "Benchmark";
  std::unique_ptr<nodes::ClipCatalogue> catalogue = nodes::ClipCatalogue::create(folder.path(), options);
  const Clock::time_point start = Clock::now();
  catalogue->addOrUpdateClipsWithMediaItems(items);
  platform::RunLoop::main().runUntil([&] { return added; }, std::chrono::minutes(10));
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  if (!added) return -1;
  return seconds;
}

void bindValue(sqlite3_stmt* statement, int index, const platform::Value& value, nodes::catalogue::AttributeKind kind) {
  using Kind = nodes::catalogue::AttributeKind;
  if (value.isNone() && kind != Kind::Date && kind != Kind::Any) {
    sqlite3_bind_int64(statement, index, 0);  // the one such attribute in these rows is a flag
  } else if (const std::string* text = value.string()) {
    sqlite3_bind_text64(statement, index, text->data(), text->size(), SQLITE_STATIC, SQLITE_UTF8);
  } else if (value.isBoolean() || value.isInteger()) {
    sqlite3_bind_int64(statement, index, *value.integer());
  } else if (value.isReal()) {
    sqlite3_bind_double(statement, index, *value.real());
  } else if (std::optional<platform::Date> date = value.date()) {
    sqlite3_bind_int64(statement, index, date->time_since_epoch().count());
  } else {
    sqlite3_bind_null(statement, index);
  }
}

// Plain SQLite: one transaction of prepared inserts of ready rows, into a
// file of the catalogue's schema (made by the store, then closed).
double sqliteSeconds(const std::vector<nodes::CatalogueRow>& rows) {
  bench::TemporaryFolder folder("vz-catalogue");
  const std::filesystem::path file = folder.path() / "plain.sql";
  if (!nodes::ClipCatalogueStore::open(file).ok()) return -1;
  sqlite3* db = nullptr;
  sqlite3_open(file.c_str(), &db);
  sqlite3_exec(db, "PRAGMA journal_mode = WAL; PRAGMA synchronous = FULL; PRAGMA foreign_keys = ON", nullptr, nullptr,
               nullptr);
  std::string columns;
  std::string placeholders;
  for (const nodes::catalogue::ClipAttribute& attribute : nodes::catalogue::clipAttributes()) {
    columns += (columns.empty() ? "\"" : ", \"") + std::string(attribute.name) + "\"";
    placeholders += placeholders.empty() ? "?" : ", ?";
  }
  const std::string sql = "INSERT INTO \"Clip\" (" + columns + ") VALUES (" + placeholders + ")";
  sqlite3_stmt* insert = nullptr;
  sqlite3_prepare_v2(db, sql.c_str(), -1, &insert, nullptr);

  const Clock::time_point start = Clock::now();
  sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
  bool failed = false;
  for (const nodes::CatalogueRow& row : rows) {
    int index = 0;
    for (const nodes::catalogue::ClipAttribute& attribute : nodes::catalogue::clipAttributes()) {
      bindValue(insert, ++index, nodes::catalogue::rowValue(row, attribute.name), attribute.kind);
    }
    failed |= sqlite3_step(insert) != SQLITE_DONE;
    sqlite3_reset(insert);
  }
  failed |= sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK;
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  sqlite3_finalize(insert);
  sqlite3_close(db);
  return failed ? -1 : seconds;
}

void BM_FirstCatalogueSync(benchmark::State& state) {
  platform::setDiagnosticHandler([](platform::DiagnosticLevel, const std::string&) {});
  const int count = static_cast<int>(state.range(0));
  const std::vector<std::shared_ptr<nodes::MediaItem>> items = mediaItems(count);
  const std::vector<nodes::CatalogueRow> rows = rowsOf(items);
  double catalogueTotal = 0;
  double sqliteTotal = 0;
  for (auto _ : state) {
    const double catalogue = catalogueSeconds(items);
    const double plain = sqliteSeconds(rows);
    if (catalogue < 0 || plain < 0) {
      state.SkipWithError("a synchronisation or an insert failed");
      break;
    }
    state.SetIterationTime(catalogue);
    catalogueTotal += catalogue;
    sqliteTotal += plain;
  }
  platform::setDiagnosticHandler({});
  const double iterations = static_cast<double>(state.iterations());
  if (iterations == 0 || sqliteTotal == 0) return;
  state.counters["catalogue_ms"] = catalogueTotal / iterations * 1e3;
  state.counters["sqlite_ms"] = sqliteTotal / iterations * 1e3;
  state.counters["per_item_us"] = catalogueTotal / iterations / count * 1e6;
  state.counters["ratio"] = catalogueTotal / sqliteTotal;
  state.SetItemsProcessed(state.iterations() * count);
}

BENCHMARK(BM_FirstCatalogueSync)
    ->Arg(10000)
    ->Arg(100000)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

}  // namespace
