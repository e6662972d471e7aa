#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "TelemetryTestSupport.h"
#include "telemetry/core/DRTLLogDBStorage.h"
#include "telemetry/core/DRTLUtility.h"

namespace telemetry::core {
namespace {

using testing_support::LogCapture;
using testing_support::quoted;

std::string sqliteTool(const std::filesystem::path& file, const std::string& sql) {
  return testing_support::runCommand("sqlite3 " + quoted(file.string()) + " " + quoted(sql) + " 2>&1");
}

// A store with one table that counts its hook calls.
class CountingStorage : public DRTLDBStorage {
 public:
  CountingStorage(const std::string& filename, std::uint64_t version) {
    initWithSchema(DRTLSchema{{"items", {{"id", {"INTEGER", "PRIMARY KEY"}}, {"value", {"TEXT"}}}}}, version, filename);
  }
  int customized = 0;
  std::vector<std::uint64_t> migratedFrom;

 protected:
  void customizeDatabase(sqlite3*) override { ++customized; }
  void migrateDatabase(sqlite3*, std::uint64_t fromVersion) override { migratedFrom.push_back(fromVersion); }
};

class DRTLDBStorageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    DRTLLogger::setCurrentLogLevel(DRTLLogLevelVerbose);
    for (const char* name : {"Logs.sqlite", "items.sqlite"}) DRTLUtility::deleteItemForPathComponent(name);
  }
  std::filesystem::path file(const std::string& name) { return *DRTLUtility::fullURLForPathComponent(name); }

  LogCapture capture_;
};

TEST_F(DRTLDBStorageTest, FreshFileIsCustomisedOnceAndReopenedQuietly) {
  {
    CountingStorage storage("items.sqlite", 5);
    EXPECT_EQ(storage.customized, 1);
    EXPECT_TRUE(storage.migratedFrom.empty());
    EXPECT_EQ(storage.pageSize(), 4096);
    EXPECT_EQ(storage.maxSizeInBytes(), kDRTLDefaultMaxSizeInBytes);
  }
  EXPECT_EQ(sqliteTool(file("items.sqlite"), "PRAGMA user_version; PRAGMA auto_vacuum;"), "5\n1\n");
  EXPECT_EQ(capture_.count(DRTLLogLevelInfo, "Created \"items.sqlite\" database with 5 version."), 1);
  EXPECT_EQ(capture_.count(DRTLLogLevelDebug, "Vacuuming database and enabling auto_vacuum"), 1);

  CountingStorage again("items.sqlite", 5);
  EXPECT_EQ(again.customized, 0);
  EXPECT_TRUE(again.migratedFrom.empty());
  EXPECT_EQ(capture_.count(DRTLLogLevelDebug, "Vacuuming database"), 1);
}

TEST_F(DRTLDBStorageTest, OlderVersionMigratesAndNewerVersionIsKept) {
  sqliteTool(file("items.sqlite"), "CREATE TABLE items (id INTEGER); PRAGMA user_version = 3;");
  {
    CountingStorage storage("items.sqlite", 5);
    EXPECT_EQ(storage.migratedFrom, (std::vector<std::uint64_t>{3}));
    EXPECT_EQ(storage.customized, 0);
  }
  EXPECT_EQ(capture_.count(DRTLLogLevelInfo, "Migrating \"items.sqlite\" database from version 3 to 5."), 1);
  EXPECT_EQ(sqliteTool(file("items.sqlite"), "PRAGMA user_version;"), "5\n");

  sqliteTool(file("items.sqlite"), "PRAGMA user_version = 6;");
  CountingStorage newer("items.sqlite", 5);
  EXPECT_TRUE(newer.migratedFrom.empty());
  EXPECT_EQ(sqliteTool(file("items.sqlite"), "PRAGMA user_version;"), "6\n");
}

TEST_F(DRTLDBStorageTest, LogStoreSchemaAndMigrationByDropping) {
  sqliteTool(file("Logs.sqlite"), "CREATE TABLE logs (old TEXT); INSERT INTO logs VALUES ('x'); PRAGMA user_version = 4;");
  { DRTLLogDBStorage storage; }
  const auto logs = file("Logs.sqlite");
  EXPECT_EQ(sqliteTool(logs, "SELECT sql FROM sqlite_master WHERE name = 'logs';"),
            "CREATE TABLE \"logs\" (\"id\" INTEGER PRIMARY KEY AUTOINCREMENT, \"groupId\" TEXT NOT NULL, "
            "\"log\" TEXT NOT NULL, \"targetToken\" TEXT, \"targetKey\" TEXT, \"priority\" INTEGER)\n");
  EXPECT_EQ(sqliteTool(logs, "SELECT sql FROM sqlite_master WHERE name = 'ix_logs_priority';"),
            "CREATE INDEX \"ix_logs_priority\" ON \"logs\" (\"priority\")\n");
  EXPECT_EQ(sqliteTool(logs, "SELECT COUNT(*) FROM logs; PRAGMA user_version;"), "0\n5\n");

  DRTLLogDBStorage storage;
  EXPECT_EQ(storage.logColumnIndex(), 2u);
  EXPECT_EQ(storage.targetTokenColumnIndex(), 3u);
}

void writeBytes(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

TEST_F(DRTLDBStorageTest, CorruptLogStoreIsDeletedAndRebuiltOnce) {
  std::mt19937 random(7);
  std::string noise(8192, '\0');
  for (char& byte : noise) byte = static_cast<char>(random());
  std::string truncated;
  {
    DRTLLogDBStorage filled;
    for (int i = 0; i < 200; ++i) {
      filled.executeNonSelectionQuery("INSERT INTO logs (groupId, log, priority) VALUES ('g', hex(randomblob(300)), 1)");
    }
  }
  {
    std::ifstream in(file("Logs.sqlite"), std::ios::binary);
    truncated.assign(std::istreambuf_iterator<char>(in), {});
    truncated.resize(5000);
  }
  for (const std::string& bytes : {noise, truncated}) {
    LogCapture capture;
    DRTLLogger::setCurrentLogLevel(DRTLLogLevelVerbose);
    writeBytes(file("Logs.sqlite"), bytes);
    DRTLLogDBStorage storage;
    EXPECT_EQ(capture.count(DRTLLogLevelVerbose, "has been deleted."), 1);
    EXPECT_FALSE(capture.contains(DRTLLogLevelError, "Failed to initialize database."));
    EXPECT_EQ(storage.countEntriesForTable("logs", std::nullopt, nullptr), 0u);
    EXPECT_EQ(sqliteTool(file("Logs.sqlite"), "PRAGMA integrity_check; PRAGMA user_version;"), "ok\n5\n");
  }
}

TEST_F(DRTLDBStorageTest, SizeIsTakenUpToWholePagesAndRefusedBelowTheUsedPages) {
  CountingStorage storage("items.sqlite", 1);
  std::vector<std::pair<std::int64_t, bool>> outcomes;
  auto record = [&](std::int64_t size) {
    storage.setMaxStorageSize(size, [&, size](bool accepted) { outcomes.emplace_back(size, accepted); });
  };
  record(20000);
  EXPECT_EQ(storage.maxSizeInBytes(), 20480);
  EXPECT_EQ(storage.executeSelectionQuery("PRAGMA max_page_count")[0][0], platform::Value(5));
  EXPECT_TRUE(capture_.contains(DRTLLogLevelInfo, "Changed maximum database size to 20480 bytes (next multiple of 4KiB)."));
  record(24576);
  EXPECT_TRUE(capture_.contains(DRTLLogLevelInfo, "Changed maximum database size to 24576 bytes."));

  // Filling the file up to its bound: a write then fails as full.
  int result = SQLITE_OK;
  for (int i = 0; i < 100 && result == SQLITE_OK; ++i) {
    result = storage.executeNonSelectionQuery("INSERT INTO items (value) VALUES (hex(randomblob(1000)))");
  }
  EXPECT_EQ(result, SQLITE_FULL);
  record(4096);
  EXPECT_TRUE(capture_.contains(DRTLLogLevelWarning, "Cannot change database size to 4096 bytes as it would cause a loss"));
  EXPECT_EQ(storage.maxSizeInBytes(), 24576);
  EXPECT_EQ(outcomes, (std::vector<std::pair<std::int64_t, bool>>{{20000, true}, {24576, true}, {4096, false}}));
}

TEST_F(DRTLDBStorageTest, ColumnValuesByType) {
  CountingStorage storage("items.sqlite", 1);
  const std::int64_t big = 1LL << 40;
  DRTLStorageBindableArray values;
  values.addNumber(big);
  values.addString(std::nullopt);
  EXPECT_EQ(storage.executeNonSelectionQuery("INSERT INTO items (id, value) VALUES (?, ?)", &values), SQLITE_OK);
  auto rows = storage.executeSelectionQuery("SELECT id, value, 'text', 1.5 FROM items");
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0], (DRTLStorageRow{platform::Value(big), platform::Value(), platform::Value("text"), platform::Value()}));
  EXPECT_TRUE(capture_.contains(DRTLLogLevelError, "Could not retrieve column value at index 3 from statement: unknown type 2."));
  DRTLStorageBindableArray id;
  id.addNumber(big);
  EXPECT_EQ(storage.countEntriesForTable("items", "id = ?", &id), 1u);
}

TEST_F(DRTLDBStorageTest, BindingFailureNamesItsPosition) {
  CountingStorage storage("items.sqlite", 1);
  DRTLStorageBindableArray values;
  values.addNumber(1);
  values.addString("a");
  values.addString("b");
  EXPECT_EQ(storage.executeNonSelectionQuery("INSERT INTO items (id, value) VALUES (?, ?)", &values), SQLITE_RANGE);
  EXPECT_TRUE(capture_.contains(DRTLLogLevelError, "Binding query parameter 3 failed with error: 25."));
}

TEST_F(DRTLDBStorageTest, TablesAndColumnIndexes) {
  CountingStorage storage("items.sqlite", 1);
  EXPECT_TRUE(storage.createTable("extra", {{"a", {"TEXT"}}}));
  EXPECT_TRUE(storage.dropTable("extra"));
  EXPECT_TRUE(storage.dropTable("extra"));
  EXPECT_EQ(DRTLDBStorage::columnsQueryFromColumnsSchema({{"id", {"INTEGER", "PRIMARY KEY"}}, {"b", {"TEXT"}}}),
            "\"id\" INTEGER PRIMARY KEY, \"b\" TEXT");
  auto indexes = DRTLDBStorage::columnsIndexes(DRTLLogDBStorage::logsSchema());
  EXPECT_EQ(indexes["logs"]["priority"], 5u);
}

}  // namespace
}  // namespace telemetry::core
