#include <gtest/gtest.h>

#include <map>

#include "TelemetryLogFixtures.h"
#include "TelemetryTestSupport.h"
#include "platform/Clock.h"
#include "platform/DispatchQueue.h"
#include "telemetry/core/DRTLLogDBStorage.h"
#include "telemetry/core/DRTLUtility.h"
#include "tests/support/RunLoopWait.h"

namespace telemetry::core {
namespace {

using testing_support::LogCapture;
using testing_support::logName;
using testing_support::pipelineLog;
using testing_support::quoted;
using testing_support::targetedLog;

class DRTLLogStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    DRTLLogger::setCurrentLogLevel(DRTLLogLevelVerbose);
    DRTLUtility::deleteItemForPathComponent(kDRTLLogsFileName);
    storage_ = std::make_unique<DRTLLogDBStorage>();
  }
  std::string sqlite(const std::string& sql) {
    return testing_support::runCommand("sqlite3 " + quoted(storage_->dbFileURL().string()) + " " + quoted(sql) +
                                       " 2>&1");
  }
  // Names of the loaded logs, the batch id and whether more remain.
  struct Load {
    std::vector<std::string> names;
    std::optional<std::string> batchId;
    bool more = false;
  };
  Load load(const std::string& group, std::size_t limit, std::optional<std::vector<std::string>> excluded = {}) {
    Load result;
    result.more = storage_->loadLogsWithGroupId(
        group, limit, excluded, [&](const DRTLLogArray& logs, const std::optional<std::string>& batchId) {
          for (const auto& log : logs) result.names.push_back(log->type == "common-schema" ? *dynamic_cast<DRTLSharedSchemaLog&>(*log).name : logName(log));
          result.batchId = batchId;
        });
    return result;
  }
  void bound(std::int64_t bytes) {
    bool accepted = false;
    storage_->setMaxStorageSize(bytes, [&](bool ok) { accepted = ok; });
    ASSERT_TRUE(accepted);
  }

  LogCapture capture_;
  std::unique_ptr<DRTLLogDBStorage> storage_;
};

TEST_F(DRTLLogStoreTest, BatchesComeByPriorityThenAgeAndStayOutUntilDeletedOrReleased) {
  ASSERT_TRUE(storage_->saveLog(pipelineLog("low"), "Analytics", 1));
  ASSERT_TRUE(storage_->saveLog(pipelineLog("high"), "Analytics", 2 | 0x100));
  ASSERT_TRUE(storage_->saveLog(pipelineLog("low2"), "Analytics", 1));
  ASSERT_TRUE(storage_->saveLog(pipelineLog("other"), "Crashes", 1));
  EXPECT_EQ(sqlite("SELECT priority FROM logs ORDER BY id;"), "1\n2\n1\n1\n");
  EXPECT_EQ(storage_->countLogs(), 4u);

  Load first = load("Analytics", 2);
  EXPECT_EQ(first.names, (std::vector<std::string>{"high", "low"}));
  EXPECT_TRUE(first.more);
  ASSERT_TRUE(first.batchId);
  EXPECT_TRUE(capture_.contains(DRTLLogLevelVerbose, "Load log(s) with id(s) '2','1' as batch Id:" + *first.batchId));

  Load second = load("Analytics", 2);
  EXPECT_EQ(second.names, (std::vector<std::string>{"low2"}));
  EXPECT_FALSE(second.more);

  EXPECT_FALSE(load("Analytics", 0).more);  // a batch of none never asks for more
  Load none = load("Analytics", 2);
  EXPECT_TRUE(none.names.empty());
  EXPECT_FALSE(none.batchId);

  storage_->releaseLogsWithBatchId(*second.batchId, "Analytics");
  EXPECT_EQ(load("Analytics", 2).names, (std::vector<std::string>{"low2"}));

  storage_->deleteLogsWithBatchId(*first.batchId, "Analytics");
  storage_->deleteLogsWithBatchId(*first.batchId, "Analytics");
  EXPECT_EQ(sqlite("SELECT id FROM logs ORDER BY id;"), "3\n4\n");
  EXPECT_EQ(capture_.count(DRTLLogLevelVerbose, "Deletion of log(s) by id with value(s) '2','1' succeeded."), 1);
}

TEST_F(DRTLLogStoreTest, GroupDeletionForgetsOnlyItsOwnBatches) {
  for (const char* group : {"Crashes", "CrashesBuffer"}) {
    ASSERT_TRUE(storage_->saveLog(pipelineLog(std::string(group) + "1"), group, 1));
    ASSERT_TRUE(storage_->saveLog(pipelineLog(std::string(group) + "2"), group, 1));
  }
  ASSERT_EQ(load("CrashesBuffer", 1).names, (std::vector<std::string>{"CrashesBuffer1"}));
  ASSERT_EQ(load("Crashes", 1).names, (std::vector<std::string>{"Crashes1"}));

  DRTLLogArray deleted = storage_->deleteLogsWithGroupId("Crashes");
  ASSERT_EQ(deleted.size(), 2u);
  EXPECT_EQ(logName(deleted[0]), "Crashes1");
  EXPECT_EQ(sqlite("SELECT groupId FROM logs ORDER BY id;"), "CrashesBuffer\nCrashesBuffer\n");
  // The buffer's pending batch still keeps its first log out.
  EXPECT_EQ(load("CrashesBuffer", 5).names, (std::vector<std::string>{"CrashesBuffer2"}));
}

TEST_F(DRTLLogStoreTest, TargetTokensAreStoredEncryptedAndExcludedKeysStayBehind) {
  ASSERT_TRUE(storage_->saveLog(targetedLog("keyA-secret-one"), "Analytics/one", 1));
  ASSERT_TRUE(storage_->saveLog(targetedLog("keyB-secret-two"), "Analytics/one", 1));
  ASSERT_TRUE(storage_->saveLog(pipelineLog("plain"), "Analytics/one", 1));
  EXPECT_EQ(sqlite("SELECT targetKey FROM logs ORDER BY id;"), "keyA\nkeyB\n\n");
  EXPECT_EQ(sqlite("SELECT count(*) FROM logs WHERE targetToken LIKE '%secret%';"), "0\n");

  // NOT IN also leaves out the row without a key.
  Load kept = load("Analytics/one", 10, std::vector<std::string>{"keyA"});
  EXPECT_EQ(kept.names, (std::vector<std::string>{"keyB-secret-two"}));

  DRTLLogArray rest = storage_->logsFromDBWithGroupId("Analytics/one");
  ASSERT_EQ(rest.size(), 3u);
  EXPECT_EQ(rest[0]->transmissionTargetTokens(), (std::set<std::string>{"keyA-secret-one"}));

  sqlite("UPDATE logs SET targetToken = 'bm90IGEgdG9rZW4=' WHERE id = 1; UPDATE logs SET targetToken = '' WHERE id = 2;");
  rest = storage_->logsFromDBWithGroupId("Analytics/one");
  ASSERT_EQ(rest.size(), 3u);
  EXPECT_FALSE(rest[0]->transmissionTargetTokens());
  EXPECT_TRUE(capture_.contains(DRTLLogLevelError, "Failed to decrypt the target token for log with Id 1."));
  EXPECT_TRUE(capture_.contains(DRTLLogLevelError, "Unexpected empty target token for log with Id 2."));
}

TEST_F(DRTLLogStoreTest, RowsThatDoNotDecodeAreDeleted) {
  ASSERT_TRUE(storage_->saveLog(pipelineLog("good"), "Analytics", 1));
  sqlite("INSERT INTO logs (groupId, log, priority) VALUES ('Analytics', 'PD94bWwgYnJva2Vu', 1),"
         " ('Analytics', '%%%', 1);");
  EXPECT_EQ(load("Analytics", 10).names, (std::vector<std::string>{"good"}));
  EXPECT_TRUE(capture_.contains(DRTLLogLevelError, "Deserialization failed for log with Id 2"));
  EXPECT_TRUE(capture_.contains(DRTLLogLevelError, "Deserialization failed for log with Id 3"));
  EXPECT_EQ(sqlite("SELECT id FROM logs;"), "1\n");
}

// Another connection to the file (a second process, the sqlite3 tool) holds
// its read lock for a moment while a delivered batch is deleted: the deletion
// waits for it, up to its limit on the clock, instead of failing at once and
// leaving delivered rows behind.
TEST_F(DRTLLogStoreTest, DeletionWaitsForAnotherConnectionsLockUpToItsLimit) {
  struct Case {
    const char* what;
    bool readerFinishes;  // else the clock passes the limit while it reads
    const char* rowsLeft;
  };
  const Case cases[] = {{"reader finishes", true, "0\n"}, {"reader stays past the limit", false, "2\n"}};
  platform::ManualClock clock;
  platform::ScopedClockOverride override(clock);
  for (const Case& test : cases) {
    ASSERT_TRUE(storage_->saveLog(pipelineLog("a"), "Analytics", 1));
    ASSERT_TRUE(storage_->saveLog(pipelineLog("b"), "Analytics", 1));
    const std::optional<std::string> batchId = load("Analytics", 10).batchId;
    ASSERT_TRUE(batchId);

    sqlite3* reader = nullptr;
    ASSERT_EQ(sqlite3_open(storage_->dbFileURL().c_str(), &reader), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(reader, "BEGIN; SELECT count(*) FROM logs;", nullptr, nullptr, nullptr), SQLITE_OK);
    const int waits = capture_.count(DRTLLogLevelDebug, "is locked by another connection");
    platform::SerialQueue queue("test.logstore");
    ::testing_support::Signal deleted;
    queue.async([&] {
      storage_->deleteLogsWithBatchId(*batchId, "Analytics");
      deleted.raise();
    });
    EXPECT_TRUE(::testing_support::waitForCondition(
        [&] { return capture_.count(DRTLLogLevelDebug, "is locked by another connection") > waits; },
        "the store to wait"))
        << test.what;
    if (test.readerFinishes) {
      sqlite3_exec(reader, "COMMIT;", nullptr, nullptr, nullptr);
    } else {
      clock.advance(kDRTLDBBusyWaitLimit);
    }
    EXPECT_TRUE(deleted.waitFor()) << test.what;
    sqlite3_close(reader);
    EXPECT_EQ(sqlite("SELECT count(*) FROM logs;"), test.rowsLeft) << test.what;
  }
}

// Logs of about one page each in a store of 16 pages.
class DRTLLogStoreEvictionTest : public DRTLLogStoreTest {
 protected:
  static constexpr std::size_t kPadding = 2600;
  // Saves logs "<prefix>N" until one had to evict; returns how many were saved.
  int fill(const std::string& prefix, std::uint64_t priority) {
    const int evictions = capture_.count(DRTLLogLevelDebug, "to store a new log.");
    int saved = 0;
    while (saved < 100 && capture_.count(DRTLLogLevelDebug, "to store a new log.") == evictions &&
           storage_->saveLog(pipelineLog(prefix + std::to_string(saved), kPadding), "Analytics", priority)) {
      ++saved;
    }
    return saved;
  }
};

TEST_F(DRTLLogStoreEvictionTest, FullStoreEvictsLowestPriorityOldestFirstAndNeverHigher) {
  bound(16 * 4096);
  // The first full save evicts within its own priority; stop at the first eviction.
  int saved = 0;
  for (; saved < 100 && capture_.count(DRTLLogLevelDebug, "to store a new log.") == 0; ++saved) {
    ASSERT_TRUE(storage_->saveLog(pipelineLog("p" + std::to_string(saved), kPadding), "Analytics", saved % 2 ? 3 : 2));
  }
  ASSERT_GT(saved, 4);
  // The oldest log of priority 2 made room, not the older priority 3 ones.
  EXPECT_TRUE(capture_.contains(DRTLLogLevelDebug, "Deleted a log with id 1 to store a new log."));
  EXPECT_TRUE(capture_.contains(DRTLLogLevelDebug, "Log storage was over capacity, 1 oldest log(s) with equal or lower priority deleted."));

  const std::string before = sqlite("SELECT id FROM logs ORDER BY id;");
  EXPECT_FALSE(storage_->saveLog(pipelineLog("lowest", kPadding), "Analytics", 1));
  EXPECT_TRUE(capture_.contains(DRTLLogLevelError,
                                "Storage is full and no logs with equal or lower priority exist; discarding the log."));
  EXPECT_EQ(sqlite("SELECT id FROM logs ORDER BY id;"), before);

  // A priority 3 log evicts every priority 2 log before any priority 3 one.
  const int twos = std::stoi(sqlite("SELECT count(*) FROM logs WHERE priority = 2;"));
  for (int i = 0; i <= twos; ++i) ASSERT_TRUE(storage_->saveLog(pipelineLog("top", kPadding), "Analytics", 3));
  EXPECT_EQ(sqlite("SELECT count(*) FROM logs WHERE priority = 2;"), "0\n");
}

TEST_F(DRTLLogStoreEvictionTest, FullStoreOfHigherPrioritiesKeepsThemAndRefusesTooLargeLogs) {
  bound(16 * 4096);
  const int saved = fill("keep", 5);
  ASSERT_GT(saved, 4);
  const std::string before = sqlite("SELECT id FROM logs ORDER BY id;");
  const int evictions = capture_.count(DRTLLogLevelDebug, "to store a new log.");
  EXPECT_FALSE(storage_->saveLog(pipelineLog("new", kPadding), "Analytics", 4));
  EXPECT_EQ(sqlite("SELECT id FROM logs ORDER BY id;"), before);
  EXPECT_EQ(capture_.count(DRTLLogLevelDebug, "to store a new log."), evictions);

  EXPECT_FALSE(storage_->saveLog(pipelineLog("huge", 70000), "Analytics", 255));
  EXPECT_TRUE(capture_.contains(DRTLLogLevelError, "Current maximum database size is 65536 bytes."));
  EXPECT_EQ(sqlite("SELECT id FROM logs ORDER BY id;"), before);
}

// Logs saved together share a transaction, which SQLite undoes whole when the
// file is full: they are then saved one by one, room made for each, none twice.
TEST_F(DRTLLogStoreEvictionTest, LogsSavedTogetherThatDoNotFitAreSavedOneByOne) {
  bound(16 * 4096);
  ASSERT_GT(fill("old", 1), 4);
  struct Case {
    std::string what;
    std::vector<std::size_t> paddings;
    std::vector<bool> answers;
  };
  const Case cases[] = {
      {"room", {kPadding, kPadding, kPadding}, {true, true, true}},
      {"large", {kPadding, 70000, kPadding}, {true, false, true}},
  };
  for (const Case& test : cases) {
    std::vector<DRTLLogToSave> logs;
    for (std::size_t i = 0; i < test.paddings.size(); ++i) {
      logs.push_back({pipelineLog(test.what + std::to_string(i), test.paddings[i]), 2});
    }
    EXPECT_EQ(storage_->saveLogs(logs, "Analytics"), test.answers) << test.what;
    std::map<std::string, int> copies;
    for (const auto& log : storage_->logsFromDBWithGroupId("Analytics")) ++copies[logName(log)];
    for (std::size_t i = 0; i < logs.size(); ++i) {
      EXPECT_EQ(copies[test.what + std::to_string(i)], test.answers[i] ? 1 : 0) << test.what << i;
    }
  }
}

}  // namespace
}  // namespace telemetry::core
