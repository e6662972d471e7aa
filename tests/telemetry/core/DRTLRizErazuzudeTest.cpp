#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <thread>

#include "TelemetryChannelFixtures.h"
#include "TelemetryTestSupport.h"
#include "platform/Clock.h"
#include "telemetry/core/Channel/DRTLRizErazuzudeChannelDelegate.h"
#include "telemetry/core/DRTLCSExtensions.h"
#include "telemetry/core/DRTLLogDBStorage.h"
#include "telemetry/core/DRTLUtility.h"
#include "telemetry/core/Ingestion/DRTLTicketCache.h"
#include "tests/support/HttpCaptureServer.h"
#include "tests/support/RunLoopWait.h"

namespace telemetry::core {
namespace {

using testing_support::FakeIngestion;
using testing_support::LogCapture;
using testing_support::pipelineLog;
using testing_support::targetedLog;

const std::string kTokenA = "aaaaaaaa-0000-0000-0000-00000000AAAA";
const std::string kTokenB = "bbbbbbbb-0000-0000-0000-00000000BBBB";

std::shared_ptr<DRTLSharedSchemaLog> sharedLog(const std::string& token, const std::string& name) {
  auto log = targetedLog(token);
  log->name = name;
  log->iKey = "o:" + token.substr(0, 8);
  return log;
}

TEST(DRTLRizErazuzudeIngestionTest, PostsOneLinePerLogWithTokensTicketsAndUploadTime) {
  LogCapture capture;
  DRTLLogger::setCurrentLogLevel(DRTLLogLevelVerbose);
  platform::ManualClock clock;
  platform::ScopedClockOverride override(clock);
  ::testing_support::HttpCaptureServer server;
  auto ingestion = DRTLHttpIngestion::make<DRTLRizErazuzudeIngestion>(DRTLHttpClient::create(4, nullptr),
                                                                      server.baseUrl());
  DRTLTicketCache::sharedInstance().setTicket("ticket-one", "key1");
  auto first = sharedLog(kTokenA, "clip.played");
  first->ext = std::make_shared<DRTLCSExtensions>();
  first->ext->protocolExt = std::make_shared<DRTLProtocolExtension>();
  first->ext->protocolExt->ticketKeys = std::vector<std::string>{"key1", "unknown"};
  auto container = std::make_shared<DRTLLogContainer>(
      "batch-9", std::vector<std::shared_ptr<DRTLAbstractLog>>{first, sharedLog(kTokenA, "a/b.c"), sharedLog(kTokenB, "other")});

  std::atomic<int> calls{0};
  std::optional<std::string> batchId;
  ingestion->sendAsync(container, [&](const std::optional<std::string>& id, const std::shared_ptr<DRTLHttpResponse>&,
                                      const std::optional<std::string>&, const std::optional<platform::Error>&) {
    batchId = id;
    ++calls;
  });
  ASSERT_TRUE(::testing_support::waitForCondition([&] { return calls == 1; }, "the handler"));
  ASSERT_TRUE(server.waitForRequests(1));
  EXPECT_EQ(batchId, "batch-9");
  const auto request = server.requests().at(0);
  EXPECT_EQ(request.path, "/RizErazuzude/1.0");
  EXPECT_EQ(request.header("Content-Type"), "application/x-json-stream; charset=utf-8");
  EXPECT_EQ(request.header("Client-Version"), "DRT-iOS-ObjectiveC-no-4.0.0-no");
  EXPECT_EQ(request.header("apikey"), kTokenA + "," + kTokenB);
  EXPECT_EQ(request.header("Upload-Time"), std::to_string(static_cast<long long>(DRTLUtility::nowInMilliseconds())));
  EXPECT_EQ(request.header("Tickets"), R"({"key1":"ticket-one"})");
  const std::string body = request.header("Content-Encoding") == "gzip" ? std::string() : request.body;
  ASSERT_EQ(std::count(body.begin(), body.end(), '\n'), 3);
  EXPECT_EQ(body.back(), '\n');
  EXPECT_NE(body.find("\"a/b.c\""), std::string::npos);

  const std::string masked = std::string(28, '*');
  EXPECT_TRUE(capture.contains(DRTLLogLevelVerbose, "apikey = " + masked + "0000AAAA," + masked + "0000BBBB"));
  EXPECT_TRUE(capture.contains(DRTLLogLevelVerbose, R"(Tickets = {"key1":"***"})"));
  EXPECT_FALSE(capture.contains(DRTLLogLevelVerbose, "ticket-one"));
  EXPECT_EQ(*ingestion->obfuscateResponsePayload(R"({"token":"abc","id":1})"), R"({"token" : "***","id":1})");
  DRTLTicketCache::sharedInstance().clearCache();

  std::optional<platform::Error> error;
  ingestion->sendAsync(nullptr, [&](const std::optional<std::string>&, const std::shared_ptr<DRTLHttpResponse>&,
                                    const std::optional<std::string>&, const std::optional<platform::Error>& e) { error = e; });
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code, 1);
}

TEST(DRTLRizErazuzudeNameTest, NamesFollowTheRule) {
  LogCapture capture;
  const std::pair<std::optional<std::string>, bool> cases[] = {
      {"abc", false}, {"abcd", true}, {"a.b.c.d", true}, {"a..b", false}, {"abcd.", false}, {"_abc", false},
      {std::string(100, 'a'), true}, {std::string(101, 'a'), false}, {"", false}, {std::nullopt, false},
      {"clip_played.v2", true}, {"9abc", true}};
  for (const auto& [name, valid] : cases) {
    EXPECT_EQ(DRTLRizErazuzudeChannelDelegate::validateLogName(name), valid) << name.value_or("none");
  }
  EXPECT_EQ(capture.count(DRTLLogLevelError, "Log validation failed. Name must not be nil or empty."), 2);
  EXPECT_TRUE(capture.contains(DRTLLogLevelError, "Log validation failed. Name must match '" +
                                                       std::string(kDRTLLogNamePattern) + "' but was 'a..b'"));
}

class DRTLRizErazuzudeDelegateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    DRTLUtility::deleteItemForPathComponent(kDRTLLogsFileName);
    storage_ = std::make_shared<DRTLLogDBStorage>();
    group_ = DRTLChannelGroupDefault::create(nullptr, storage_);
    delegate_ = std::make_shared<DRTLRizErazuzudeChannelDelegate>(DRTLHttpClient::create(4, nullptr), "install-9",
                                                                  "http://127.0.0.1:1");
    group_->addDelegate(delegate_);
    analytics_ = std::dynamic_pointer_cast<DRTLChannelUnitDefault>(group_->addChannelUnitWithConfiguration(
        DRTLChannelUnitConfiguration::defaultConfiguration("Analytics", 7), ingestion_));
  }
  void drain() { ASSERT_TRUE(group_->logsDispatchQueue()->sync([] {}, std::chrono::seconds(10))); }
  std::size_t storedIn(const std::string& group) {
    drain();
    std::size_t count = 0;
    group_->logsDispatchQueue()->sync([&] { count = storage_->logsFromDBWithGroupId(group).size(); },
                                      std::chrono::seconds(10));
    return count;
  }
  template <typename Read>
  auto onQueue(const Read& read) {
    decltype(read()) value{};
    group_->logsDispatchQueue()->sync([&] { value = read(); }, std::chrono::seconds(10));
    return value;
  }

  platform::ManualClock clock_;
  platform::ScopedClockOverride override_{clock_};
  LogCapture capture_;
  std::shared_ptr<DRTLLogDBStorage> storage_;
  std::shared_ptr<FakeIngestion> ingestion_ = std::make_shared<FakeIngestion>();
  std::shared_ptr<DRTLChannelGroupDefault> group_;
  std::shared_ptr<DRTLRizErazuzudeChannelDelegate> delegate_;
  std::shared_ptr<DRTLChannelUnitDefault> analytics_;
};

TEST_F(DRTLRizErazuzudeDelegateTest, EachUnitGetsOneMirrorWithItsFlushInterval) {
  auto mirror = group_->channelUnitForGroupId("Analytics/one");
  ASSERT_TRUE(mirror);
  EXPECT_EQ(mirror->configuration().flushInterval, 7u);
  EXPECT_EQ(mirror->configuration().batchSizeLimit, 50u);
  EXPECT_EQ(mirror->configuration().pendingBatchesLimit, 3u);
  EXPECT_EQ(delegate_->mirrorForGroupId("Analytics"), mirror);
  EXPECT_FALSE(group_->channelUnitForGroupId("Analytics/one/one"));
  EXPECT_EQ(std::dynamic_pointer_cast<DRTLChannelUnitDefault>(mirror)->ingestion(), delegate_->ingestion());
}

TEST_F(DRTLRizErazuzudeDelegateTest, TargetedLogsMoveToTheMirrorAsSharedSchemaLogs) {
  auto one = testing_support::namedEventLog("one");
  one->addTransmissionTargetToken(kTokenA);
  auto two = testing_support::namedEventLog("two");
  two->addTransmissionTargetToken(kTokenA);
  two->addTransmissionTargetToken(kTokenB);
  analytics_->enqueueItem(one, 1);
  analytics_->enqueueItem(two, 1);
  analytics_->enqueueItem(pipelineLog("plain"), 1);
  EXPECT_EQ(storedIn("Analytics"), 1u);
  EXPECT_EQ(storedIn("Analytics/one"), 3u);

  // Stamped per key: the first log of a key gets 1, the next 2, with one epoch.
  std::vector<std::pair<std::string, std::int64_t>> stamps;
  for (const auto& log : onQueue([&] { return storage_->logsFromDBWithGroupId("Analytics/one"); })) {
    auto& sdk = *dynamic_cast<DRTLSharedSchemaLog&>(*log).ext->sdkExt;
    EXPECT_EQ(sdk.installId, "install-9");
    stamps.emplace_back(*sdk.epoch, sdk.seq);
  }
  ASSERT_EQ(stamps.size(), 3u);
  EXPECT_EQ(stamps[0].second, 1);
  EXPECT_EQ(stamps[1].second, 2);
  EXPECT_EQ(stamps[0].first, stamps[1].first);
  EXPECT_EQ(stamps[2].second, 1);
  EXPECT_NE(stamps[2].first, stamps[0].first);

  group_->setEnabled(false, true);
  group_->setEnabled(true, false);
  drain();
  auto again = sharedLog(kTokenA, "after.reset");
  delegate_->channelPrepareLog(analytics_.get(), again);
  EXPECT_EQ(again->ext->sdkExt->seq, 1);
  EXPECT_NE(again->ext->sdkExt->epoch, stamps[0].first);
}

TEST_F(DRTLRizErazuzudeDelegateTest, EightThreadsEnqueueingTargetedLogsNeverShareASequenceNumber) {
  constexpr int kThreads = 8;
  constexpr int kPerThread = 24;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([this, t] {
      for (int i = 0; i < kPerThread; ++i) {
        auto log = testing_support::namedEventLog("load");
        log->addTransmissionTargetToken((t + i) % 2 ? kTokenA : kTokenB);
        analytics_->enqueueItem(log, 1);
      }
    });
  }
  for (auto& thread : threads) thread.join();
  drain();

  std::map<std::string, std::vector<std::int64_t>> byKey;
  std::set<std::string> epochs;
  for (const auto& log : onQueue([&] { return storage_->logsFromDBWithGroupId("Analytics/one"); })) {
    const auto& shared = dynamic_cast<DRTLSharedSchemaLog&>(*log);
    byKey[*shared.iKey].push_back(shared.ext->sdkExt->seq);
    epochs.insert(*shared.ext->sdkExt->epoch);
  }
  ASSERT_EQ(byKey.size(), 2u);
  EXPECT_EQ(epochs.size(), 2u);  // one per key
  for (auto& [key, sequence] : byKey) {
    std::sort(sequence.begin(), sequence.end());
    ASSERT_EQ(sequence.size(), static_cast<std::size_t>(kThreads * kPerThread / 2)) << key;
    for (std::size_t i = 0; i < sequence.size(); ++i) ASSERT_EQ(sequence[i], static_cast<std::int64_t>(i + 1)) << key;
  }
}

TEST_F(DRTLRizErazuzudeDelegateTest, MirrorsFollowTheirUnitAndBadNamesAreFiltered) {
  auto mirror = std::dynamic_pointer_cast<DRTLChannelUnitDefault>(group_->channelUnitForGroupId("Analytics/one"));
  auto pauser = std::make_shared<int>(0);
  analytics_->pauseWithIdentifyingObject(pauser);
  drain();
  EXPECT_TRUE(onQueue([&] { return mirror->isPaused(); }));
  analytics_->resumeWithIdentifyingObject(pauser);
  drain();
  EXPECT_FALSE(onQueue([&] { return mirror->isPaused(); }));

  mirror->enqueueItem(sharedLog(kTokenA, "ab"), 1);
  EXPECT_EQ(storedIn("Analytics/one"), 0u);
  EXPECT_TRUE(capture_.contains(DRTLLogLevelError, "but was 'ab'"));

  analytics_->setEnabled(false, true);
  drain();
  drain();
  EXPECT_FALSE(onQueue([&] { return mirror->isEnabled(); }));
  EXPECT_TRUE(onQueue([&] { return mirror->discardsLogs(); }));
}

}  // namespace
}  // namespace telemetry::core
