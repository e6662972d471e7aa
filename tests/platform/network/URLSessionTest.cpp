// The URL session against a loopback lighttpd (Basic and Digest realms), a
// peer that accepts and never answers, and local files for uploads.

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fstream>
#include <optional>

#include "platform/Clock.h"
#include "platform/RunLoop.h"
#include "platform/network/URLSession.h"
#include "tests/platform/network/LighttpdFixture.h"
#include "tests/support/RunLoopWait.h"
#include "tests/support/TemporaryDirectory.h"

namespace platform {
namespace {

using namespace std::chrono_literals;

class URLSessionTest : public ::testing::Test {
 protected:
  URLSessionTest() { RunLoop::main().attachCurrentThread(); }

  // Runs one request and waits for its completion on the main queue.
  Result<URLResponse> fetch(URLRequest request, std::optional<URLCredential> credential = std::nullopt) {
    std::optional<Result<URLResponse>> outcome;
    session_.dataTask(std::move(request), std::move(credential),
                      [&](Result<URLResponse> result) { outcome.emplace(std::move(result)); });
    EXPECT_TRUE(testing_support::runMainLoopUntil([&] { return outcome.has_value(); }, "the completion"));
    return outcome ? std::move(*outcome) : Result<URLResponse>(Error("test", 0, "no completion"));
  }
  static URLRequest get(std::string url) {
    URLRequest request;
    request.url = std::move(url);
    request.timeout = 10s;
    return request;
  }

  testing_support::LighttpdFixture server_;
  URLSession session_{DispatchQueue::main()};
};

TEST_F(URLSessionTest, BasicAndDigestLoginsAnswerTheChallengeAndARefusedPasswordIsSentOnce) {
  ASSERT_TRUE(server_.ready());
  struct Case {
    const char* path;
    const char* password;
    long status;
  };
  const Case cases[] = {
      {"/basic/index.txt", "right", 200},
      {"/digest/index.txt", "right", 200},
      {"/basic/index.txt", "wrong", 401},
      {"/digest/index.txt", "wrong", 401},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.path) + " " + c.password);
    const std::size_t before = server_.requestsFor(c.path);
    Result<URLResponse> result = fetch(get(server_.url(c.path)), URLCredential{"operator", c.password});
    ASSERT_TRUE(result.ok()) << result.error().localizedDescription;
    EXPECT_EQ(result.value().statusCode, c.status);
    if (c.status == 200) {
      EXPECT_EQ(result.value().body, "hello");
    }
    // The unauthenticated first request that draws the challenge, then one
    // with the credential: a refused password is not tried again.
    ASSERT_TRUE(testing_support::waitForCondition([&] { return server_.requestsFor(c.path) >= before + 2; }));
    EXPECT_EQ(server_.requestsFor(c.path), before + 2);
  }
}

TEST_F(URLSessionTest, RepliesPastTheBoundFailTheirRequest) {
  ASSERT_TRUE(server_.ready());
  URLSession small(DispatchQueue::main(), 1 << 20);
  std::optional<Result<URLResponse>> outcome;
  small.dataTask(get(server_.url("/open/big.bin")), std::nullopt,
                 [&](Result<URLResponse> result) { outcome.emplace(std::move(result)); });
  ASSERT_TRUE(testing_support::runMainLoopUntil([&] { return outcome.has_value(); }));
  ASSERT_FALSE(outcome->ok());
  EXPECT_EQ(outcome->error().code, static_cast<std::int64_t>(URLSessionErrorCode::ReplyTooLarge));

  Result<URLResponse> whole = fetch(get(server_.url("/open/big.bin")));
  ASSERT_TRUE(whole.ok());
  EXPECT_EQ(whole.value().body.size(), 2u << 20);
}

TEST_F(URLSessionTest, UploadsStreamFromAFileAndBadRequestsFailClearly) {
  ASSERT_TRUE(server_.ready());
  testing_support::TemporaryDirectory folder;
  std::ofstream(folder / "clip.txt") << "payload";
  URLRequest upload = get(server_.url("/open/upload.txt"));
  upload.method = "PUT";
  upload.uploadFile = folder / "clip.txt";
  upload.headers = {{"X-Empty", ""}};
  Result<URLResponse> sent = fetch(upload);
  ASSERT_TRUE(sent.ok()) << sent.error().localizedDescription;
  EXPECT_GE(sent.value().statusCode, 400);  // lighttpd takes no PUT; the body was still streamed
  // The empty header goes out with its name, not left out.
  EXPECT_EQ(server_.linesContaining("X-Empty:"), 1u);

  upload.uploadRange = URLRequest::FileRange{5, 3};  // past the file's 7 bytes
  Result<URLResponse> pastTheEnd = fetch(upload);
  ASSERT_FALSE(pastTheEnd.ok());
  EXPECT_EQ(pastTheEnd.error().code, static_cast<std::int64_t>(URLSessionErrorCode::CannotReadUploadFile));

  upload.uploadRange.reset();
  upload.uploadFile = folder / "missing.txt";
  Result<URLResponse> missing = fetch(upload);
  ASSERT_FALSE(missing.ok());
  EXPECT_EQ(missing.error().code, static_cast<std::int64_t>(URLSessionErrorCode::CannotReadUploadFile));

  Result<URLResponse> badScheme = fetch(get("file:///etc/passwd"));
  ASSERT_FALSE(badScheme.ok());
  EXPECT_EQ(badScheme.error().code, static_cast<std::int64_t>(URLSessionErrorCode::BadURL));
}

TEST_F(URLSessionTest, APeerThatNeverAnswersEndsAtTheTimeOutOnTheClock) {
  // Accepts connections (the kernel does, through the backlog) and never answers.
  const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::listen(listener, 4), 0);
  socklen_t length = sizeof address;
  ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);

  ManualClock clock;
  ScopedClockOverride clockOverride(clock);
  URLRequest request = get("http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/");
  request.timeout = 2s;
  std::optional<Result<URLResponse>> outcome;
  session_.dataTask(request, std::nullopt, [&](Result<URLResponse> result) { outcome.emplace(std::move(result)); });
  RunLoop::main().runFor(0s, 100ms);
  EXPECT_FALSE(outcome.has_value());
  clock.advance(2s);
  ASSERT_TRUE(testing_support::runMainLoopUntil([&] { return outcome.has_value(); }, "the time-out"));
  ASSERT_FALSE(outcome->ok());
  EXPECT_EQ(outcome->error().code, static_cast<std::int64_t>(URLSessionErrorCode::TimedOut));
  ::close(listener);
}

}  // namespace
}  // namespace platform
