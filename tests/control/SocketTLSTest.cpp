// TLS over the socket: client sockets against openssl s_server, a server
// socket against openssl s_client, both ends in process, and the settings
// checks. Certificates are made with openssl when the suite starts.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "tests/control/SocketTestSupport.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TemporaryDirectory.h"

namespace control_testing {
namespace {

using namespace std::chrono_literals;
using testing_support::ChildProcess;

const std::string kPeers = VZ_CONTROL_TEST_PEERS;

std::string fileText(const std::filesystem::path& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

class SocketTLSTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    certificates_ = new testing_support::TemporaryDirectory();
    std::string error;
    auto maker = ChildProcess::start({"/bin/sh", kPeers + "/make_test_certificates.sh", certificates_->path().string()},
                                     {}, &error);
    ASSERT_TRUE(maker) << error;
    ASSERT_TRUE(maker->signalAndWaitForExit(0, 30s));
    ASSERT_EQ(maker->exitStatus(), 0) << maker->standardError();
  }
  static void TearDownTestSuite() {
    delete certificates_;
    certificates_ = nullptr;
  }
  // The client's roots: the test CA only.
  void SetUp() override { ::setenv("SSL_CERT_FILE", path("ca.pem").c_str(), 1); }
  void TearDown() override {
    ::unsetenv("SSL_CERT_FILE");
    if (server_) server_->stop();
  }

  static std::string path(const std::string& name) { return (*certificates_ / name).string(); }
  static platform::Dictionary serverSettings(const std::string& name) {
    return {{"kCFStreamSSLIsServer", platform::Value(true)},
            {"kCFStreamSSLCertificates",
             platform::Value(platform::Array{platform::Value(fileText(path(name + ".pem"))),
                                             platform::Value(fileText(path(name + ".key")))})}};
  }

  // openssl s_server with `name`'s certificate, answering each line reversed; its port.
  std::uint16_t startServer(const std::string& name) {
    std::string error;
    server_ = ChildProcess::start({"/usr/bin/openssl", "s_server", "-accept", "127.0.0.1:0", "-cert", path(name + ".pem"),
                                   "-key", path(name + ".key"), "-rev", "-naccept", "1"},
                                  {}, &error);
    EXPECT_TRUE(server_) << error;
    if (!server_ || !server_->waitForOutput("ACCEPT 127.0.0.1:", false, 20s)) return 0;
    EXPECT_TRUE(server_->waitForOutput("\n", false, 5s));
    const std::string out = server_->standardOutput();
    return static_cast<std::uint16_t>(std::atoi(out.c_str() + out.find("ACCEPT 127.0.0.1:") + 17));
  }

  // Connects to `port`, starts TLS with `settings`, sends a line and reads the answer.
  std::shared_ptr<CVNSocket> exchange(std::uint16_t port, platform::Dictionary settings) {
    auto socket = CVNSocket::create(delegate_, queue_);
    EXPECT_TRUE(socket->connectToHost("127.0.0.1", port, 10));
    socket->startTLS(std::move(settings));
    socket->writeData(control::makeBytes("hello\n"), 10, 1);
    socket->readDataToData(CVNSocket::LFData(), 10, 2);
    return socket;
  }

  static testing_support::TemporaryDirectory* certificates_;
  std::shared_ptr<platform::DispatchQueue> queue_ = makeDelegateQueue();
  std::shared_ptr<RecordingDelegate> delegate_ = std::make_shared<RecordingDelegate>();
  std::unique_ptr<ChildProcess> server_;
};
testing_support::TemporaryDirectory* SocketTLSTest::certificates_ = nullptr;

TEST_F(SocketTLSTest, ClientTrustsAServerItsRootsVouchFor) {
  const std::uint16_t port = startServer("good");
  ASSERT_NE(port, 0);
  auto socket = exchange(port, {{"kCFStreamSSLPeerName", platform::Value("localhost")}});
  ASSERT_TRUE(delegate_->waitFor("read 2")) << server_->standardOutput();
  EXPECT_TRUE(delegate_->has("secure"));
  EXPECT_TRUE(delegate_->has("read 2 olleh\n"));
  EXPECT_TRUE(socket->isSecure());
  socket->disconnect();
}

// Certificates the client must refuse, with and without a peer name (the
// connected address is then checked).
struct RefusedServer {
  const char* certificate;
  const char* peerName;
};
class RefusedServerTest : public SocketTLSTest, public ::testing::WithParamInterface<RefusedServer> {};

TEST_P(RefusedServerTest, FailsTheCertificateCheck) {
  const std::uint16_t port = startServer(GetParam().certificate);
  ASSERT_NE(port, 0);
  platform::Dictionary settings;
  if (*GetParam().peerName) settings["kCFStreamSSLPeerName"] = platform::Value(GetParam().peerName);
  auto socket = exchange(port, settings);
  ASSERT_TRUE(delegate_->waitFor("disconnect"));
  EXPECT_TRUE(delegate_->has("disconnect kCFStreamErrorDomainSSL -9807")) << testing::PrintToString(delegate_->events());
  EXPECT_FALSE(delegate_->has("secure"));
}

INSTANTIATE_TEST_SUITE_P(Certificates, RefusedServerTest,
                         ::testing::Values(RefusedServer{"wronghost", "localhost"}, RefusedServer{"wronghost", ""},
                                           RefusedServer{"expired", "localhost"},
                                           RefusedServer{"selfsigned", "localhost"}));

TEST_F(SocketTLSTest, ManualTrustAsksTheDelegateOnceAndFollowsItsAnswer) {
  for (const bool answer : {true, false}) {
    delegate_ = std::make_shared<RecordingDelegate>();
    delegate_->trustAnswer = answer;
    const std::uint16_t port = startServer("selfsigned");
    ASSERT_NE(port, 0);
    auto socket = exchange(port, {{"CVNSocketManuallyEvaluateTrust", platform::Value(true)}});
    if (answer) {
      ASSERT_TRUE(delegate_->waitFor("read 2")) << testing::PrintToString(delegate_->events());
      EXPECT_TRUE(delegate_->has("read 2 olleh\n"));
    } else {
      ASSERT_TRUE(delegate_->waitFor("disconnect"));
      EXPECT_TRUE(delegate_->has("disconnect kCFStreamErrorDomainSSL -9825"))
          << testing::PrintToString(delegate_->events());
    }
    EXPECT_EQ(delegate_->count("trust unverified"), 1u);
    socket->disconnect();
    server_->stop();
  }
}

TEST_F(SocketTLSTest, ServerSocketIsVerifiedByOpensslClient) {
  delegate_->echo = true;
  delegate_->acceptTLS = serverSettings("good");
  auto listener = CVNSocket::create(delegate_, queue_);
  ASSERT_TRUE(listener->acceptOnInterface("127.0.0.1", 0));
  std::string error;
  auto client = ChildProcess::start({"/bin/sh", "-c",
                                     "echo hello | /usr/bin/openssl s_client -connect 127.0.0.1:" +
                                         std::to_string(listener->localPort()) + " -CAfile " + path("ca.pem") +
                                         " -verify_return_error -verify_hostname localhost -ign_eof"},
                                    {}, &error);
  ASSERT_TRUE(client) << error;
  ASSERT_TRUE(client->waitForOutput("hello\n", false, 20s)) << client->standardOutput() << client->standardError();
  EXPECT_NE(client->standardOutput().find("Verify return code: 0 (ok)"), std::string::npos);
  listener->disconnect();
}

TEST_F(SocketTLSTest, PlainBytesBeforeTheUpgradeAndTheCloseNoticeAfterIt) {
  // The server reads a plain line, then upgrades; the client sends the line
  // and its handshake back to back, so TLS bytes wait in the read-ahead buffer.
  auto serverDelegate = std::make_shared<RecordingDelegate>();
  auto listener = CVNSocket::create(serverDelegate, queue_);
  ASSERT_TRUE(listener->acceptOnInterface("127.0.0.1", 0));
  auto client = CVNSocket::create(delegate_, queue_);
  ASSERT_TRUE(client->connectToHost("127.0.0.1", listener->localPort(), 10));
  client->writeData(control::makeBytes("STARTTLS\r\n"), 10, 1);
  client->startTLS({{"kCFStreamSSLPeerName", platform::Value("localhost")}});
  client->writeData(control::makeBytes("secret\r\n"), 10, 3);
  client->readDataToData(CVNSocket::CRLFData(), 10, 4);
  ASSERT_TRUE(serverDelegate->waitFor("accept"));
  auto server = serverDelegate->acceptedSockets().front();
  server->readDataToData(CVNSocket::CRLFData(), 10, 1);
  server->startTLS(serverSettings("good"));
  server->readDataToData(CVNSocket::CRLFData(), 10, 2);
  server->writeData(control::makeBytes("answer\r\n"), 10, 5);
  ASSERT_TRUE(serverDelegate->waitFor("read 2")) << testing::PrintToString(serverDelegate->events());
  EXPECT_TRUE(serverDelegate->has("read 1 STARTTLS\r\n"));
  EXPECT_TRUE(serverDelegate->has("read 2 secret\r\n"));
  ASSERT_TRUE(delegate_->waitFor("read 4"));
  EXPECT_TRUE(delegate_->has("read 4 answer\r\n"));
  client->readDataWithTimeout(10, 6);
  server->disconnect();
  ASSERT_TRUE(delegate_->waitFor("disconnect"));
  EXPECT_TRUE(delegate_->has("disconnect CVNSocketErrorDomain 7")) << testing::PrintToString(delegate_->events());
  listener->disconnect();
}

TEST_F(SocketTLSTest, ClientHelloSentWithTheLastPlainLineFeedsTheHandshake) {
  auto serverDelegate = std::make_shared<RecordingDelegate>();
  auto listener = CVNSocket::create(serverDelegate, queue_);
  ASSERT_TRUE(listener->acceptOnInterface("127.0.0.1", 0));
  std::string error;
  auto client = ChildProcess::start({"/usr/bin/python3", kPeers + "/tls_line_then_hello_client.py",
                                     std::to_string(listener->localPort()), path("ca.pem")},
                                    {}, &error);
  ASSERT_TRUE(client) << error;
  ASSERT_TRUE(serverDelegate->waitFor("accept"));
  auto server = serverDelegate->acceptedSockets().front();
  server->readDataToData(CVNSocket::CRLFData(), 10, 1);
  server->startTLS(serverSettings("good"));
  server->readDataToData(CVNSocket::CRLFData(), 10, 2);
  server->writeData(control::makeBytes("answer\r\n"), 10, 3);
  ASSERT_TRUE(client->waitForOutput("reply answer\n", false, 20s)) << client->standardError();
  ASSERT_TRUE(serverDelegate->waitFor("read 2"));  // the answer does not wait for the line
  EXPECT_TRUE(serverDelegate->has("read 1 STARTTLS\r\n"));
  EXPECT_TRUE(serverDelegate->has("read 2 secret\r\n"));
  listener->disconnect();
}

TEST_F(SocketTLSTest, LargeWritesCrossTheEngineInSlicesBothWays) {
  auto serverDelegate = std::make_shared<RecordingDelegate>();
  serverDelegate->echo = true;
  serverDelegate->acceptTLS = serverSettings("good");
  auto listener = CVNSocket::create(serverDelegate, queue_);
  ASSERT_TRUE(listener->acceptOnInterface("127.0.0.1", 0));
  auto client = CVNSocket::create(delegate_, queue_);
  ASSERT_TRUE(client->connectToHost("127.0.0.1", listener->localPort(), 10));
  client->startTLS({{"kCFStreamSSLPeerName", platform::Value("localhost")}});
  const std::string payload(4 << 20, 'x');
  client->writeData(control::makeBytes(payload), 30, 8);
  client->readDataToLength(payload.size(), 30, 9);
  ASSERT_TRUE(delegate_->waitFor("read 9"));
  EXPECT_TRUE(delegate_->has("wrote 8"));
  EXPECT_TRUE(delegate_->has("read 9 " + payload));
  client->disconnect();
  listener->disconnect();
}

// Settings that end the upgrade before any handshake, with their messages.
struct RefusedSettings {
  const char* key;
  platform::Value value;
  bool server;
  const char* message;
};
class RefusedSettingsTest : public SocketTLSTest, public ::testing::WithParamInterface<RefusedSettings> {};

TEST_P(RefusedSettingsTest, ClosesWithTheMessage) {
  auto peerDelegate = std::make_shared<RecordingDelegate>();
  auto pair = makeSocketPair(peerDelegate, queue_);
  platform::Dictionary settings = GetParam().server ? serverSettings("good") : platform::Dictionary{};
  settings[GetParam().key] = GetParam().value;
  pair.socket->startTLS(settings);
  ASSERT_TRUE(peerDelegate->waitFor("disconnect"));
  const auto error = peerDelegate->disconnectError();
  ASSERT_TRUE(error);
  EXPECT_EQ(error->domain, "CVNSocketErrorDomain");
  EXPECT_EQ(error->code, 8);
  EXPECT_EQ(error->localizedDescription, GetParam().message);
}

INSTANTIATE_TEST_SUITE_P(
    Keys, RefusedSettingsTest,
    ::testing::Values(
        RefusedSettings{"CVNSocketManuallyEvaluateTrust", platform::Value(true), true,
                        "Manual trust validation is not supported for server sockets"},
        RefusedSettings{"kCFStreamSSLLevel", platform::Value("any"), false, "Security option unavailable - kCFStreamSSLLevel"},
        RefusedSettings{"kCFStreamSSLAllowsAnyRoot", platform::Value(false), false,
                        "Security option unavailable - kCFStreamSSLAllowsAnyRoot"},
        RefusedSettings{"kCFStreamSSLPeerName", platform::Value(7), false, "Invalid value for kCFStreamSSLPeerName."},
        RefusedSettings{"kCFStreamSSLCertificates", platform::Value("x"), true,
                        "Invalid value for kCFStreamSSLCertificates."},
        RefusedSettings{"CVNSocketSSLPeerID", platform::Value("x"), false, "Invalid value for CVNSocketSSLPeerID."},
        RefusedSettings{"CVNSocketSSLProtocolVersionMin", platform::Value(0x0301), false,
                        "Error in SSLSetProtocolVersionMin"},
        RefusedSettings{"CVNSocketSSLProtocolVersionMax", platform::Value("1.3"), false,
                        "Invalid value for CVNSocketSSLProtocolVersionMax."},
        RefusedSettings{"CVNSocketSSLSessionOptionFalseStart", platform::Value("yes"), false,
                        "Invalid value for CVNSocketSSLSessionOptionFalseStart."},
        RefusedSettings{"CVNSocketSSLCipherSuites", platform::Value(platform::Array{platform::Value(0xFFFF)}), false,
                        "Error in SSLSetEnabledCiphers"},
        RefusedSettings{"CVNSocketSSLDiffieHellmanParameters", platform::Value(platform::Data{1, 2, 3}), true,
                        "Error in SSLSetDiffieHellmanParams"}));

}  // namespace
}  // namespace control_testing
