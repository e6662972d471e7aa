// The HTTP server with a test connection class, driven by curl (plain and TLS,
// 127.0.0.1 and ::1), raw request bytes for the limits, and python3-websockets
// for the upgrade.
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <mutex>

#include "control/http/CVNWebServer.h"
#include "platform/Clock.h"
#include "tests/control/SocketTestSupport.h"
#include "tests/control/support/EchoWebSocket.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/DiscoveryDaemons.h"
#include "tests/support/RunLoopWait.h"
#include "tests/support/TemporaryDirectory.h"

namespace control_testing {
namespace {

using namespace std::chrono_literals;
using control::CVNWebConnection;
using control::CVNWebServer;
using testing_support::ChildProcess;

const std::string kPeers = VZ_CONTROL_TEST_PEERS;

// Routes: POST/PUT "echo" answers the body's size; GET "" answers "root";
// GET "query" lists the parameters; GET "secret" needs op:pw; OPTIONS "options"
// has no data; WebSocket protocol "chat" upgrades to an echo.
class TestConnection : public CVNWebConnection {
 public:
  bool shouldAuthenticateForMethod(const std::string&, const std::string& path) override { return path == "secret"; }
  bool validateUser(const std::optional<std::string>& user, const std::optional<std::string>& password,
                    const std::string&, const std::string&) override {
    return user == "op" && password == "pw";
  }
  bool respondsToMethod(const std::string& method, const std::string& path) override {
    return (method == "POST" && path == "echo") || (method == "GET" && (path.empty() || path == "query" || path == "secret" || path == "big")) ||
           (method == "OPTIONS" && path == "options");
  }
  std::optional<std::string> responseForMethod(const std::string& method, const std::string& path) override {
    if (path == "echo") return std::to_string(incomingBody().size());
    if (path.empty()) return std::string("root");
    if (path == "secret") return std::string("ok");
    if (path == "big") return std::string(16 << 20, 'b');
    if (path != "query" || method != "GET") return std::nullopt;
    std::string listed;
    for (const auto& [key, value] : parameters()) {
      listed += key + "=";
      if (auto* text = std::get_if<std::string>(&value)) {
        listed += *text;
      } else {
        for (const auto& piece : std::get<std::vector<std::string>>(value)) listed += "[" + piece + "]";
      }
      listed += ";";
    }
    return listed;
  }
  bool respondsToWebSocketProtocol(const std::optional<std::string>& protocol, const std::string&) override {
    return protocol == "chat";
  }
  void handleWebSocket(const std::shared_ptr<control::CVNServerWebSocket>&, const std::string& protocol,
                       const std::string&) override {
    auto echo = EchoWebSocket::make(socket(), incomingMessage(), protocol);
    echo->start();
    // The host keeps its WebSockets; the connection ends with the hand-over.
    static std::mutex mutex;
    static std::vector<std::shared_ptr<EchoWebSocket>> kept;
    std::lock_guard guard(mutex);
    kept.push_back(std::move(echo));
  }
};

class LogRecorder : public control::CVNWebServerLogDelegate {
 public:
  void logMessage(const std::string& message) override {
    std::lock_guard guard(mutex_);
    lines_.push_back(message);
  }
  std::vector<std::string> lines() {
    std::lock_guard guard(mutex_);
    return lines_;
  }

 private:
  std::mutex mutex_;
  std::vector<std::string> lines_;
};

// curl's whole output (head and body) for `arguments`.
std::string curl(std::vector<std::string> arguments) {
  std::vector<std::string> argv{"/usr/bin/curl", "-s", "-i", "-g", "--max-time", "20"};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  std::string error;
  auto child = ChildProcess::start(argv, {}, &error);
  EXPECT_TRUE(child) << error;
  if (!child) return {};
  EXPECT_TRUE(child->signalAndWaitForExit(0, 30s));
  child->waitForOutput("\x01", false, 100ms);  // lets the reader collect the last bytes
  return child->standardOutput();
}

// A port free right now on ::1 (the server listens on both families).
int freePort() {
  const int fd = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in6 address{};
  address.sin6_family = AF_INET6;
  address.sin6_addr = in6addr_loopback;
  socklen_t length = sizeof address;
  ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  ::close(fd);
  return ntohs(address.sin6_port);
}

// Starts the server on a free port and answers it, or 0. Another test may take
// a probed port before the server listens on it (or on its other family), so a
// few ports are tried.
int startOnAFreePort(CVNWebServer& server) {
  for (int attempt = 0; attempt < 20; ++attempt) {
    const int port = freePort();
    server.setPort(port);
    if (server.start()) return port;
  }
  return 0;
}

class WebServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    server_->setDelegate(log_);
    server_->setConnectionClass<TestConnection>();
    server_->setAllowedOrigins({"http://panel.test"});
    const int port = startOnAFreePort(*server_);
    ASSERT_NE(port, 0);
    port_ = std::to_string(port);
  }
  void TearDown() override { server_->stop(); }
  std::string url(const std::string& target, const std::string& host = "127.0.0.1") {
    return "http://" + host + ":" + port_ + target;
  }

  std::shared_ptr<LogRecorder> log_ = std::make_shared<LogRecorder>();
  std::shared_ptr<CVNWebServer> server_ = CVNWebServer::create(0);
  std::string port_;
};

constexpr const char* kNotFoundBody =
    "<!doctype html><html><head><title>Page Not Found</title><meta charset=\"utf-8\" /></head><body><h1>Page Not "
    "Found</h1></body></html>";

struct Exchange {
  const char* name;
  std::vector<std::string> arguments;  // before the URL
  const char* target;
  std::vector<std::string> expected;   // texts the answer holds
  std::vector<std::string> absent;     // texts it must not hold
};

class WebServerExchangeTest : public WebServerTest, public ::testing::WithParamInterface<Exchange> {};

TEST_P(WebServerExchangeTest, AnswersAsExpected) {
  for (const char* host : {"127.0.0.1", "[::1]"}) {
    auto arguments = GetParam().arguments;
    arguments.push_back(url(GetParam().target, host));
    const std::string answer = curl(arguments);
    for (const std::string& text : GetParam().expected) EXPECT_NE(answer.find(text), std::string::npos) << text << "\n" << answer;
    for (const std::string& text : GetParam().absent) EXPECT_EQ(answer.find(text), std::string::npos) << text << "\n" << answer;
    EXPECT_NE(answer.find("\r\nConnection: close\r\n"), std::string::npos) << answer;
    EXPECT_NE(answer.find(" GMT\r\n"), std::string::npos) << answer;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Requests, WebServerExchangeTest,
    ::testing::Values(
        Exchange{"UnknownGet", {}, "/nothing", {"HTTP/1.1 404 Not Found\r\n", std::string("\r\n\r\n") + kNotFoundBody, "Content-Type: text/html"}, {}},
        Exchange{"Delete", {"-X", "DELETE"}, "/echo", {"HTTP/1.1 400 ", "Content-Length: 0\r\n"}, {}},
        Exchange{"PostWithoutLength", {"-X", "POST"}, "/echo", {"HTTP/1.1 411 "}, {}},
        Exchange{"PostTooLong", {"-X", "POST", "-H", "Content-Length: 100663297"}, "/echo", {"HTTP/1.1 413 "}, {}},
        Exchange{"PostBody", {"--data-binary", "hello"}, "/echo", {"HTTP/1.1 200 OK\r\n", "\r\n\r\n5", "Cache-Control: no-cache, must-revalidate"}, {}},
        Exchange{"OptionsAllowedOrigin",
                 {"-X", "OPTIONS", "-H", "Origin: http://panel.test", "-H", "Access-Control-Request-Headers: X-Take"},
                 "/options",
                 {"HTTP/1.1 200 OK\r\n", "Content-Length: 0\r\n", "Access-Control-Allow-Origin: http://panel.test\r\n",
                  "Vary: Origin\r\n", "Access-Control-Allow-Methods: GET, POST, PUT, DELETE, OPTIONS\r\n",
                  "Access-Control-Allow-Headers: X-Take\r\n"},
                 {}},
        Exchange{"OptionsOtherOrigin", {"-X", "OPTIONS", "-H", "Origin: http://evil.test"}, "/options", {"HTTP/1.1 200 OK\r\n"}, {"Access-Control"}},
        Exchange{"SecretWithoutLogin", {}, "/secret", {"HTTP/1.1 401 ", "WWW-Authenticate: Basic realm=\"Corvane\"\r\n", "<h1>401 Unauthorized</h1>"}, {}},
        Exchange{"SecretWithQueryLogin", {}, "/secret?user=op&password=pw", {"HTTP/1.1 401 "}, {}},
        Exchange{"SecretWithLogin", {"-u", "op:pw"}, "/secret", {"HTTP/1.1 200 OK\r\n", "\r\n\r\nok"}, {}},
        Exchange{"Root", {}, "/", {"\r\n\r\nroot"}, {}},
        Exchange{"QueryLaterKeyWins", {}, "/query?a=1&b&A=2", {"\r\n\r\na=2;"}, {}},
        Exchange{"QueryArray", {}, "/query?ids[]=1%2C2%2C3", {"\r\n\r\nids[]=[1][2][3];"}, {}},
        Exchange{"UpgradeWithoutVersion", {"-H", "Upgrade: websocket", "-H", "Connection: Upgrade"}, "/feed", {"HTTP/1.1 400 "}, {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(WebServerTest, ReadsABodyOfTheLargestAllowedLength) {
  testing_support::TemporaryDirectory folder;
  const auto body = folder / "body";
  std::ofstream(body).close();
  std::filesystem::resize_file(body, std::uintmax_t(CVNWebConnection::kMaximumBodyLength));
  const std::string answer = curl({"--data-binary", "@" + body.string(), "-H", "Expect:", url("/echo")});
  EXPECT_NE(answer.find("\r\n\r\n100663296"), std::string::npos) << answer.substr(0, 300);
}

TEST_F(WebServerTest, RefusesHeadsBeyondTheLimitsAndRequestsWithoutAMethod) {
  for (const std::string& head : {std::string(" / HTTP/1.1\r\n\r\n"),
                                  "GET / HTTP/1.1\r\n" + [] {
                                    std::string lines;
                                    for (int i = 0; i < 101; ++i) lines += "X-Line-" + std::to_string(i) + ": x\r\n";
                                    return lines;
                                  }() + "\r\n"}) {
    auto delegate = std::make_shared<RecordingDelegate>();
    auto client = CVNSocket::create(delegate, makeDelegateQueue());
    ASSERT_TRUE(client->connectToHost("127.0.0.1", static_cast<std::uint16_t>(std::stoi(port_)), 10));
    client->writeData(control::makeBytes(head), 10, 1);
    client->readDataToData(CVNSocket::CRLFData(), 10, 2);
    ASSERT_TRUE(delegate->waitFor("read 2"));
    EXPECT_TRUE(delegate->has("read 2 HTTP/1.1 400 Bad Request\r\n")) << testing::PrintToString(delegate->events());
    client->disconnect();
  }
}

TEST_F(WebServerTest, ClosesConnectionsBeyondTheLimitAtAcceptAndSaysSoOnce) {
  const auto connectRaw = [&] {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(std::stoi(port_)));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    return fd;
  };
  std::vector<int> open;
  for (std::size_t i = 0; i < CVNWebServer::kMaximumConnections; ++i) open.push_back(connectRaw());
  ASSERT_TRUE(testing_support::waitForCondition([&] { return server_->connectionCount() == CVNWebServer::kMaximumConnections; }));
  std::vector<int> refused{connectRaw(), connectRaw()};
  for (int fd : refused) {
    pollfd polled{fd, POLLIN, 0};
    char byte;
    ASSERT_EQ(::poll(&polled, 1, 20000), 1);
    EXPECT_EQ(::read(fd, &byte, 1), 0);  // closed unanswered
    ::close(fd);
  }
  const auto lines = log_->lines();
  EXPECT_EQ(std::count(lines.begin(), lines.end(), std::string("Closing new connections: 256 are open")), 1);
  for (int fd : open) ::close(fd);
}

TEST(WebServerTimeOutTest, AnswerToAPeerThatStoppedReadingTimesOutWithALogLine) {
  platform::ManualClock clock;
  platform::ScopedClockOverride useClock(clock);
  auto log = std::make_shared<LogRecorder>();
  auto server = CVNWebServer::create(0);
  server->setDelegate(log);
  server->setConnectionClass<TestConnection>();
  const int port = startOnAFreePort(*server);
  ASSERT_NE(port, 0);
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  const std::string request = "GET /big HTTP/1.1\r\nHost: x\r\n\r\n";
  ASSERT_EQ(::send(fd, request.data(), request.size(), MSG_NOSIGNAL), ssize_t(request.size()));
  // Once the answer's first bytes arrive its write (and its time-out) has started;
  // advancing earlier would end the head's read instead.
  pollfd polled{fd, POLLIN, 0};
  ASSERT_EQ(::poll(&polled, 1, 20000), 1);
  // 16 MiB never read: past 30 + 16384/55 s on the clock the write gives up.
  const auto timedOut = [&] {
    const auto lines = log->lines();
    return std::count(lines.begin(), lines.end(), std::string("Responding to request /big timed out")) == 1;
  };
  ASSERT_TRUE(testing_support::waitForCondition([&] {
    clock.advance(std::chrono::seconds(400));
    return timedOut();
  }));
  ::close(fd);
  server->stop();
}

TEST_F(WebServerTest, PythonWebSocketClientUpgradesWithTheChosenProtocol) {
  std::string error;
  auto client = ChildProcess::start({"/usr/bin/python3", kPeers + "/websocket_echo_client.py", port_}, {}, &error);
  ASSERT_TRUE(client) << error;
  ASSERT_TRUE(client->waitForOutput("done\n", false, 20s)) << client->standardError();
  const std::string out = client->standardOutput();
  EXPECT_NE(out.find("protocol chat"), std::string::npos) << out;
  EXPECT_NE(out.find("echo hello"), std::string::npos) << out;
}

TEST(WebServerTLSTest, ServesOverTLSAndNeverFallsBackToPlain) {
  testing_support::TemporaryDirectory folder;
  std::string error;
  auto maker = ChildProcess::start({"/bin/sh", kPeers + "/make_test_certificates.sh", folder.path().string()}, {}, &error);
  ASSERT_TRUE(maker) << error;
  ASSERT_TRUE(maker->signalAndWaitForExit(0, 30s));
  std::filesystem::create_directory(folder / "resources");
  std::filesystem::copy_file(folder / "good.pem", folder / "resources" / "SSLCertificate.cer");
  auto log = std::make_shared<LogRecorder>();
  const int port = freePort();
  auto server = CVNWebServer::create(port);
  server->setDelegate(log);
  server->setIsSSL(true);
  server->setBundle(std::make_shared<platform::Bundle>(folder / "resources"));
  server->setPrivateKeyPath(folder / "good.key");
  ::chmod((folder / "good.key").c_str(), 0644);
  EXPECT_FALSE(server->start());
  ASSERT_FALSE(log->lines().empty());
  EXPECT_EQ(log->lines().back(), "Error: Could not listen on port " + std::to_string(port) +
                                    ": the private key file may be read by others than its owner");
  ::chmod((folder / "good.key").c_str(), 0600);
  server->setConnectionClass<TestConnection>();
  ASSERT_TRUE(server->start());
  EXPECT_EQ(log->lines().back(), "Remote Control is enabled on port: " + std::to_string(port));
  const std::string answer = curl({"--cacert", (folder / "ca.pem").string(), "https://localhost:" + std::to_string(port) + "/"});
  EXPECT_NE(answer.find("HTTP/1.1 200 OK\r\n"), std::string::npos) << answer;
  EXPECT_NE(answer.find("\r\n\r\nroot"), std::string::npos) << answer;
  EXPECT_EQ(curl({"http://127.0.0.1:" + std::to_string(port) + "/"}).find("root"), std::string::npos);
  server->stop();
}

// Announced through a private avahi-daemon on the loopback interface only.
class WebServerBonjourTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { daemons_ = testing_support::DiscoveryDaemons::start(&skipReason_); }
  static void TearDownTestSuite() { daemons_.reset(); }
  void SetUp() override {
    if (!daemons_) GTEST_SKIP() << skipReason_;
  }
  // avahi-browse's resolved lines for the test type, once `expected` shows.
  static std::string browse(const std::string& expected) {
    std::string out;
    for (int attempt = 0; attempt < 20 && out.find(expected) == std::string::npos; ++attempt) {
      std::string error;
      auto browser = ChildProcess::start({"/usr/bin/avahi-browse", "-rpt", "_corvanetest._tcp"}, daemons_->environment(), &error);
      EXPECT_TRUE(browser) << error;
      if (!browser) return {};
      EXPECT_TRUE(browser->signalAndWaitForExit(0, 20s));
      browser->waitForOutput("\x01", false, 100ms);
      out = browser->standardOutput();
    }
    return out;
  }
  static inline std::unique_ptr<testing_support::DiscoveryDaemons> daemons_;
  static inline std::string skipReason_;
};

TEST_F(WebServerBonjourTest, PublishesNamePortAndTXTRecordAndRepublishesOnRename) {
  if (::access("/usr/bin/avahi-browse", X_OK) != 0) GTEST_SKIP() << "avahi-browse (avahi-utils) is not installed";
  auto log = std::make_shared<LogRecorder>();
  auto server = CVNWebServer::create(0, "_corvanetest._tcp", "", std::string("Studio Panel"),
                                     platform::BonjourPublisher::TXTRecord{{"path", "/api"}});
  server->setDelegate(log);
  const int port = startOnAFreePort(*server);
  ASSERT_NE(port, 0);
  const std::string first = browse("Studio\\032Panel");
  EXPECT_NE(first.find("=;lo;IPv4;Studio\\032Panel;_corvanetest._tcp;local;"), std::string::npos) << first;
  EXPECT_NE(first.find(";" + std::to_string(port) + ";\"path=/api\""), std::string::npos) << first;
  server->setNetServiceName("Second Panel");
  EXPECT_EQ(server->netServiceName(), "Second Panel");
  const std::string second = browse("Second\\032Panel");
  EXPECT_NE(second.find("=;lo;IPv4;Second\\032Panel;"), std::string::npos) << second;
  // Every line names the loopback interface and nothing else.
  std::size_t start = 0;
  for (std::size_t end; (end = second.find('\n', start)) != std::string::npos; start = end + 1) {
    EXPECT_EQ(second.compare(start + 1, 4, ";lo;"), 0) << second.substr(start, end - start);
  }
  server->stop();
  EXPECT_FALSE(server->isNetServicePublished());
  EXPECT_EQ(control::CVNWebConnection::defaultBonjourServiceName().empty(), false);
}

}  // namespace
}  // namespace control_testing
