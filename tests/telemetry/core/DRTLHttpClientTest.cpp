#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <regex>

#include "TelemetryLogFixtures.h"
#include "TelemetryTestSupport.h"
#include "platform/Clock.h"
#include "telemetry/core/DRTL_Reachability.h"
#include "telemetry/core/Channel/DRTLLogContainer.h"
#include "telemetry/core/Ingestion/DRTLDirAradedIngestion.h"
#include "tests/support/CapturedDiagnostics.h"
#include "tests/support/HttpCaptureServer.h"
#include "tests/support/RunLoopWait.h"
#include "tests/support/TemporaryDirectory.h"

namespace telemetry::core {
namespace {

using ::testing_support::HttpCaptureServer;
using testing_support::LogCapture;
using ::testing_support::waitForCondition;

// What one handler call received.
struct Outcome {
  std::mutex mutex;
  int calls = 0;
  std::int64_t status = -1;
  std::optional<platform::Error> error;
  std::optional<std::string> id;

  DRTLHttpRequestCompletionHandler clientHandler() {
    return [this](const std::optional<std::string>&, const std::shared_ptr<DRTLHttpResponse>& response,
                  const std::optional<platform::Error>& error) { record(response, error, std::nullopt); };
  }
  DRTLSendAsyncCompletionHandler ingestionHandler() {
    return [this](const std::optional<std::string>& id, const std::shared_ptr<DRTLHttpResponse>& response,
                  const std::optional<std::string>&, const std::optional<platform::Error>& error) {
      record(response, error, id);
    };
  }
  void record(const std::shared_ptr<DRTLHttpResponse>& response, const std::optional<platform::Error>& error,
              const std::optional<std::string>& id) {
    std::lock_guard lock(mutex);
    ++calls;
    status = response ? response->statusCode : -1;
    this->error = error;
    this->id = id;
  }
  bool waitForCall() {
    return waitForCondition([this] {
      std::lock_guard lock(mutex);
      return calls > 0;
    }, "the handler");
  }
};

std::string gunzip(const std::string& bytes) {
  ::testing_support::TemporaryDirectory folder;
  const auto path = folder.path() / "body.gz";
  std::ofstream(path, std::ios::binary) << bytes;
  return testing_support::runCommand("gzip -dc " + testing_support::quoted(path.string()));
}

// A JSON body of exactly `size` bytes.
std::string bodyOfSize(std::size_t size) {
  const std::string frame = R"({"logs":[{"p":""}]})";
  return R"({"logs":[{"p":")" + std::string(size - frame.size(), 'x') + R"("}]})";
}

class DRTLHttpClientTest : public ::testing::Test {
 protected:
  void SetUp() override { DRTLLogger::setCurrentLogLevel(DRTLLogLevelVerbose); }
  std::shared_ptr<DRTLHttpClient> client() { return DRTLHttpClient::create(4, nullptr); }
  // The delay of the WARNING line of retry `attempt`, once it is logged.
  std::int64_t retryDelay(int attempt) {
    const std::regex pattern("Call attempt #" + std::to_string(attempt) +
                             " failed with status code: 503, it will be retried in ([0-9]+) ms.");
    std::int64_t delay = -1;
    waitForCondition([&] {
      for (const auto& line : capture_.lines()) {
        std::smatch match;
        if (std::regex_search(line.message, match, pattern)) delay = std::stoll(match[1]);
      }
      return delay >= 0;
    }, "the retry line");
    return delay;
  }

  LogCapture capture_;
};

TEST_F(DRTLHttpClientTest, BodiesFromFourteenHundredBytesAreGzipped) {
  HttpCaptureServer server;
  auto http = client();
  Outcome plain;
  Outcome packed;
  http->sendAsync(server.baseUrl() + "/a", "POST", {}, bodyOfSize(1399), plain.clientHandler());
  ASSERT_TRUE(plain.waitForCall());
  http->sendAsync(server.baseUrl() + "/b", "POST", {{"Content-Type", "text/plain"}}, bodyOfSize(1400),
                  packed.clientHandler());
  ASSERT_TRUE(packed.waitForCall());
  EXPECT_EQ(plain.status, 200);
  ASSERT_TRUE(server.waitForRequests(2));

  const auto requests = server.requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].body, bodyOfSize(1399));
  EXPECT_FALSE(requests[0].hasHeader("Content-Encoding"));
  EXPECT_EQ(requests[0].header("Content-Type"), "application/json");
  EXPECT_EQ(requests[1].header("Content-Encoding"), "gzip");
  EXPECT_EQ(requests[1].header("Content-Type"), "text/plain");
  EXPECT_LT(requests[1].body.size(), 1400u);
  EXPECT_EQ(gunzip(requests[1].body), bodyOfSize(1400));

  Outcome bodiless;
  http->sendAsync(server.baseUrl() + "/c", "GET", {}, std::nullopt, bodiless.clientHandler());
  ASSERT_TRUE(bodiless.waitForCall());
  ASSERT_TRUE(server.waitForRequests(3));
  EXPECT_FALSE(server.requests().at(2).hasHeader("Content-Type"));
}

TEST_F(DRTLHttpClientTest, RecoverableStatusesRetryOnTheScheduleThenPauseUntilTheResumeTimer) {
  platform::ManualClock clock;
  platform::ScopedClockOverride override(clock);
  HttpCaptureServer server(R"([{"status":503}])");
  auto http = client();
  Outcome outcome;
  http->sendAsync(server.baseUrl() + "/logs", "POST", {}, std::string("{}"), outcome.clientHandler());

  const std::pair<std::int64_t, std::int64_t> windows[] = {{5000, 10000}, {150000, 300000}, {600000, 1200000}};
  for (int attempt = 0; attempt < 3; ++attempt) {
    ASSERT_TRUE(server.waitForRequests(attempt + 1)) << attempt;
    const std::int64_t delay = retryDelay(attempt);
    EXPECT_GE(delay, windows[attempt].first) << attempt;
    EXPECT_LT(delay, windows[attempt].second) << attempt;
    EXPECT_EQ(server.requestCount(), static_cast<std::size_t>(attempt + 1));
    clock.advance(std::chrono::milliseconds(delay));
  }
  ASSERT_TRUE(outcome.waitForCall());
  EXPECT_EQ(outcome.status, 503);
  EXPECT_TRUE(server.waitForRequests(4));
  EXPECT_TRUE(http->isPaused());

  // Sent while paused: it waits for the resume timer.
  Outcome later;
  http->sendAsync(server.baseUrl() + "/logs", "POST", {}, std::string("{}"), later.clientHandler());
  EXPECT_EQ(http->pendingCallCount(), 1u);
  clock.advance(std::chrono::seconds(kDRTLResumeAfterUsedUpRetriesSeconds));
  ASSERT_TRUE(server.waitForRequests(5));
  EXPECT_TRUE(capture_.contains(DRTLLogLevelInfo, "Resume HTTP client."));
}

TEST_F(DRTLHttpClientTest, ServerRetryAfterIsUsedOnlyWithinItsRange) {
  const std::pair<std::optional<std::string>, std::optional<std::uint32_t>> cases[] = {
      {"2500", 2500}, {"0", 0}, {"1200000", 1200000}, {"1200001", std::nullopt}, {"abc", std::nullopt},
      {"-1", std::nullopt}, {"12a", std::nullopt}, {"", std::nullopt}, {std::nullopt, std::nullopt}};
  for (const auto& [text, expected] : cases) EXPECT_EQ(parseRetryAfterMs(text), expected) << text.value_or("none");

  platform::ManualClock clock;
  platform::ScopedClockOverride override(clock);
  HttpCaptureServer server(R"([{"status":503,"headers":{"x-dr-retry-after-ms":"2500"}},
                               {"status":503,"headers":{"x-dr-retry-after-ms":"-1"}},{"status":200}])");
  auto http = client();
  Outcome outcome;
  http->sendAsync(server.baseUrl() + "/logs", "POST", {}, std::string("{}"), outcome.clientHandler());
  EXPECT_EQ(retryDelay(0), 2500);
  clock.advance(std::chrono::milliseconds(2500));
  const std::int64_t computed = retryDelay(1);
  EXPECT_GE(computed, 150000);
  EXPECT_LT(computed, 300000);
  clock.advance(std::chrono::milliseconds(computed));
  ASSERT_TRUE(outcome.waitForCall());
  EXPECT_EQ(outcome.status, 200);
}

TEST_F(DRTLHttpClientTest, RefusedStatusReachesTheHandlerThenCancelsAndDisables) {
  platform::ManualClock clock;
  platform::ScopedClockOverride override(clock);
  HttpCaptureServer server(R"([{"status":503},{"status":401}])");
  auto http = client();
  Outcome waiting;
  http->sendAsync(server.baseUrl() + "/logs", "POST", {}, std::string("{}"), waiting.clientHandler());
  retryDelay(0);  // the first call now waits for its retry
  Outcome refused;
  http->sendAsync(server.baseUrl() + "/logs", "POST", {}, std::string("{}"), refused.clientHandler());
  ASSERT_TRUE(refused.waitForCall());
  EXPECT_EQ(refused.status, 401);
  EXPECT_FALSE(refused.error);

  ASSERT_TRUE(waiting.waitForCall());
  ASSERT_TRUE(waiting.error);
  EXPECT_EQ(waiting.error->domain, "TelemetrySDK.ErrorDomain");
  EXPECT_EQ(waiting.error->code, 2);
  EXPECT_EQ(waiting.error->localizedDescription, "The operation was canceled.");

  Outcome later;
  http->sendAsync(server.baseUrl() + "/logs", "POST", {}, std::string("{}"), later.clientHandler());
  ASSERT_EQ(later.calls, 1);  // at once
  EXPECT_EQ(later.error->code, 3);
  EXPECT_EQ(later.error->localizedDescription, "The service is disabled.");
  clock.advance(std::chrono::seconds(20));
  ASSERT_TRUE(server.waitForRequests(2));
  EXPECT_EQ(server.requestCount(), 2u);
}

TEST_F(DRTLHttpClientTest, TransportFailuresAndOversizedBodiesGiveErrors) {
  HttpCaptureServer server(R"([{"status":200,"bodySize":1100000}])");
  auto http = client();
  Outcome big;
  http->sendAsync(server.baseUrl() + "/big", "GET", {}, std::nullopt, big.clientHandler());
  ASSERT_TRUE(big.waitForCall());
  ASSERT_TRUE(big.error);
  EXPECT_EQ(big.error->code, DRTLURLErrorResponseTooLarge);

  Outcome refused;
  http->sendAsync("http://127.0.0.1:1/logs", "POST", {}, std::string("{}"), refused.clientHandler());
  ASSERT_TRUE(refused.waitForCall());
  ASSERT_TRUE(refused.error);
  EXPECT_EQ(refused.error->code, DRTLURLErrorCannotConnectToHost);
  EXPECT_FALSE(http->isPaused());

  // A name that does not resolve counts as no network: the call waits for a resume.
  Outcome unresolved;
  http->sendAsync("http://name.invalid/logs", "POST", {}, std::string("{}"), unresolved.clientHandler());
  ASSERT_TRUE(waitForCondition([&] { return http->isPaused(); }, "the pause"));
  EXPECT_EQ(unresolved.calls, 0);
  EXPECT_EQ(http->pendingCallCount(), 1u);

  // A network change resumes the client, which sends the waiting call again.
  http->networkStatusChanged(DRTLReachableViaWiFi);
  EXPECT_TRUE(capture_.contains(DRTLLogLevelInfo, "Resume HTTP client."));
  ASSERT_TRUE(waitForCondition(
      [&] { return capture_.count(DRTLLogLevelInfo, "HTTP call failed with error: Internet connection is down.") == 2; },
      "the second attempt"));
  EXPECT_EQ(unresolved.calls, 0);
}

// The last owner letting go inside a completion destroys the session on its
// own thread: that thread must be joined once the completion returns, not
// left running unowned.
TEST_F(DRTLHttpClientTest, ClientReleasedInItsOwnCompletionHasItsThreadJoined) {
  ::testing_support::CapturedDiagnostics diagnostics;
  HttpCaptureServer server;
  auto http = client();
  std::atomic<bool> released = false;
  http->sendAsync(server.baseUrl() + "/last", "GET", {}, std::nullopt,
                  [&](const std::optional<std::string>&, const std::shared_ptr<DRTLHttpResponse>&,
                      const std::optional<platform::Error>&) {
                    http.reset();
                    released = true;
                  });
  ASSERT_TRUE(waitForCondition([&] { return released.load(); }, "the completion"));
  ASSERT_TRUE(waitForCondition([&] { return diagnostics.count("Thread 'TelemetryHttp': destroyed from its own thread"); },
                               "the hand-over to the joiner"));
}

TEST(DRTLHttpUtilTest, SecretsAreMaskedButTheirLastEightCharacters) {
  const std::string secret = "0123456789abcdef0123456789abcdefWXYZ";
  EXPECT_EQ(DRTLHttpUtil::hideSecret(secret), std::string(28, '*') + "cdefWXYZ");
  EXPECT_EQ(DRTLHttpUtil::hideSecret("12345678"), "********");
  EXPECT_EQ(DRTLHttpUtil::hideSecret(""), "");
  EXPECT_EQ(DRTLHttpUtil::hideSecretInString("a=123456789 b=123456789", "123456789"), "a=*23456789 b=*23456789");
  for (std::int64_t status : {0, 408, 429, 500, 503, 599}) EXPECT_TRUE(DRTLHttpUtil::isRecoverableError(status)) << status;
  for (std::int64_t status : {200, 401, 404, 499}) EXPECT_FALSE(DRTLHttpUtil::isRecoverableError(status)) << status;
}

class DRTLIngestionTest : public DRTLHttpClientTest {
 protected:
  std::shared_ptr<DRTLLogContainer> container(int logs) {
    std::vector<std::shared_ptr<DRTLAbstractLog>> items;
    for (int i = 0; i < logs; ++i) items.push_back(testing_support::pipelineLog("log/" + std::to_string(i)));
    return std::make_shared<DRTLLogContainer>("batch-1", items);
  }
};

TEST_F(DRTLIngestionTest, PostsTheContainerWithItsHeadersAndMasksTheSecretInLogs) {
  HttpCaptureServer server;
  auto ingestion = DRTLHttpIngestion::make<DRTLDirAradedIngestion>(client(), server.baseUrl(), "install-1");
  const std::string secret = "0123456789abcdef0123456789abWXYZ1234";
  ingestion->setAppSecret(secret);
  Outcome outcome;
  ingestion->sendAsync(container(3), outcome.ingestionHandler());
  ASSERT_TRUE(outcome.waitForCall());
  EXPECT_EQ(outcome.id, "batch-1");
  EXPECT_EQ(outcome.status, 200);
  ASSERT_TRUE(server.waitForRequests(1));
  const auto request = server.requests().at(0);
  EXPECT_EQ(request.method, "POST");
  EXPECT_EQ(request.path, "/logs");
  EXPECT_EQ(request.query, "api-version=1.0.0");
  EXPECT_EQ(request.header("Content-Type"), "application/json");
  EXPECT_EQ(request.header("Install-ID"), "install-1");
  EXPECT_EQ(request.header("App-Secret"), secret);
  const auto body = nlohmann::json::parse(request.body);
  ASSERT_EQ(body.size(), 1u);
  ASSERT_EQ(body.at("logs").size(), 3u);
  EXPECT_EQ(body["logs"][1]["properties"]["name"], "log/1");
  EXPECT_NE(request.body.find("log/1"), std::string::npos);  // "/" unescaped
  EXPECT_TRUE(capture_.contains(DRTLLogLevelVerbose, "App-Secret = " + std::string(28, '*') + "WXYZ1234"));
  EXPECT_FALSE(capture_.contains(DRTLLogLevelVerbose, secret));
}

TEST_F(DRTLIngestionTest, BigContainersTravelGzippedAndInflateToTheLogs) {
  HttpCaptureServer server;
  auto ingestion = DRTLHttpIngestion::make<DRTLDirAradedIngestion>(client(), server.baseUrl(), "install-1");
  ingestion->setAppSecret("secret");
  Outcome outcome;
  ingestion->sendAsync(container(12), outcome.ingestionHandler());
  ASSERT_TRUE(outcome.waitForCall());
  ASSERT_TRUE(server.waitForRequests(1));
  const auto request = server.requests().at(0);
  EXPECT_EQ(request.header("Content-Encoding"), "gzip");
  EXPECT_EQ(nlohmann::json::parse(gunzip(request.body)).at("logs").size(), 12u);
}

TEST_F(DRTLIngestionTest, RefusedSendsAnswerAtOnce) {
  auto ingestion = DRTLHttpIngestion::make<DRTLDirAradedIngestion>(client(), "http://127.0.0.1:1", "install-1");
  Outcome noSecret;
  ingestion->sendAsync(container(1), noSecret.ingestionHandler());
  ASSERT_EQ(noSecret.calls, 1);
  EXPECT_EQ(noSecret.error->code, 3);
  EXPECT_EQ(noSecret.id, "batch-1");
  EXPECT_TRUE(capture_.contains(DRTLLogLevelError, "DirAraded ingestion is used without app secret."));

  Outcome empty;
  ingestion->sendAsync(container(0), empty.ingestionHandler());
  ASSERT_EQ(empty.calls, 1);
  EXPECT_EQ(empty.error->code, 1);
  EXPECT_EQ(empty.error->localizedDescription, "Invalid log container.");
  EXPECT_EQ(empty.id, "batch-1");

  ingestion->setAppSecret("secret");
  ingestion->setEnabled(false, false);
  Outcome disabled;
  ingestion->sendAsync(container(1), disabled.ingestionHandler());
  ASSERT_EQ(disabled.calls, 1);
  EXPECT_EQ(disabled.error->code, 3);
}

TEST_F(DRTLIngestionTest, NewBaseKeepsPathAndQueryAndBadTextKeepsTheAddress) {
  auto ingestion = DRTLHttpIngestion::make<DRTLDirAradedIngestion>(client(), "https://old.example/v1", "install-1");
  EXPECT_EQ(ingestion->sendURL(), "https://old.example/v1/logs?api-version=1.0.0");
  ingestion->setBaseURL("http://127.0.0.1:8080/v2");
  EXPECT_EQ(ingestion->sendURL(), "http://127.0.0.1:8080/v2/logs?api-version=1.0.0");
  ingestion->setBaseURL("not a url");
  EXPECT_EQ(ingestion->sendURL(), "http://127.0.0.1:8080/v2/logs?api-version=1.0.0");
  EXPECT_TRUE(capture_.contains(DRTLLogLevelInfo,
                                "Failed to update HTTP URL http://127.0.0.1:8080/v2/logs?api-version=1.0.0 with not a url"));
  EXPECT_EQ(DRTLHttpIngestion::buildURLWithBaseURL("b", "/p", {{"k", "a b"}, {"x", "1"}}), "b/p?k=a%20b&x=1");

  auto response = std::make_shared<DRTLHttpResponse>();
  response->headers = {{"Content-Type", "image/png"}, {"ETag", "\"v1\""}};
  EXPECT_EQ(DRTLHttpIngestion::eTagFromResponse(response), "\"v1\"");
  response->statusCode = 200;
  ingestion->printResponse(response, std::string("\x89PNG"), std::nullopt);
  EXPECT_TRUE(capture_.contains(DRTLLogLevelVerbose, "HTTP response received with status code: 200, payload:\n<binary>"));
}

}  // namespace
}  // namespace telemetry::core
