// Listening, accepting, connecting and closing over loopback.
#include <gtest/gtest.h>

#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <fstream>
#include <random>

#include "control/sockets/CVNSocket.h"
#include "platform/Clock.h"
#include "tests/control/SocketTestSupport.h"
#include "tests/support/RunLoopWait.h"
#include "tests/support/TemporaryDirectory.h"

namespace control_testing {
namespace {

using namespace std::chrono_literals;
using control::CVNSocketErrorDomain;
namespace addresses = control::socket_addresses;

class SocketConnectionTest : public ::testing::Test {
 protected:
  std::shared_ptr<platform::DispatchQueue> queue_ = makeDelegateQueue();
  std::shared_ptr<RecordingDelegate> serverDelegate_ = std::make_shared<RecordingDelegate>();
  std::shared_ptr<RecordingDelegate> clientDelegate_ = std::make_shared<RecordingDelegate>();
};

enum class Transport { IPv4, IPv6, Unix };

class LoopbackEchoTest : public SocketConnectionTest, public ::testing::WithParamInterface<Transport> {};

TEST_P(LoopbackEchoTest, EchoesALineAndReportsTheDisconnect) {
  testing_support::TemporaryDirectory folder;
  serverDelegate_->echo = true;
  auto server = CVNSocket::create(serverDelegate_, queue_);
  auto client = CVNSocket::create(clientDelegate_, queue_);
  const std::filesystem::path path = folder / "echo.sock";
  switch (GetParam()) {
    case Transport::IPv4:
      ASSERT_TRUE(server->acceptOnInterface("127.0.0.1", 0));
      ASSERT_TRUE(client->connectToHost("127.0.0.1", server->localPort(), 5));
      break;
    case Transport::IPv6:
      ASSERT_TRUE(server->acceptOnInterface("::1", 0));
      ASSERT_TRUE(client->connectToAddress(addresses::ipv6Loopback([&] {
        std::uint16_t port = 0;
        server->performBlock([&] {
          sockaddr_in6 a{};
          socklen_t length = sizeof a;
          ::getsockname(server->socket6FD(), reinterpret_cast<sockaddr*>(&a), &length);
          port = ntohs(a.sin6_port);
        });
        return port;
      }())));
      break;
    case Transport::Unix:
      ASSERT_TRUE(server->acceptOnUrl(path));
      ASSERT_TRUE(client->connectToUrl(path, 5));
      break;
  }
  ASSERT_TRUE(clientDelegate_->waitFor("connect"));
  client->writeData(control::makeBytes("hello\r\nworld"), -1, 1);
  client->readDataToData(CVNSocket::CRLFData(), 5, 2);
  ASSERT_TRUE(clientDelegate_->waitFor("read 2"));
  EXPECT_TRUE(clientDelegate_->has("read 2 hello\r\n"));
  EXPECT_TRUE(clientDelegate_->has("wrote 1"));
  if (GetParam() == Transport::Unix) {
    EXPECT_TRUE(clientDelegate_->has("connect url " + path.string()));
  }

  // The end of stream shows while a read waits.
  client->readDataToLength(100, -1, 3);
  server->disconnect();
  for (auto& accepted : serverDelegate_->acceptedSockets()) accepted->disconnect();
  ASSERT_TRUE(clientDelegate_->waitFor("disconnect"));
  EXPECT_TRUE(clientDelegate_->has("disconnect CVNSocketErrorDomain 7"));
  if (GetParam() == Transport::Unix) {
    EXPECT_FALSE(std::filesystem::exists(path));
  }
}

INSTANTIATE_TEST_SUITE_P(Transports, LoopbackEchoTest, ::testing::Values(Transport::IPv4, Transport::IPv6, Transport::Unix));

TEST_F(SocketConnectionTest, PortZeroGivesBothFamiliesTheSamePort) {
  auto server = CVNSocket::create(serverDelegate_, queue_);
  ASSERT_TRUE(server->acceptOnInterface("localhost", 0));
  std::uint16_t port4 = 0, port6 = 0;
  server->performBlock([&] {
    sockaddr_in a4{};
    sockaddr_in6 a6{};
    socklen_t l4 = sizeof a4, l6 = sizeof a6;
    ::getsockname(server->socket4FD(), reinterpret_cast<sockaddr*>(&a4), &l4);
    ::getsockname(server->socket6FD(), reinterpret_cast<sockaddr*>(&a6), &l6);
    port4 = ntohs(a4.sin_port);
    port6 = ntohs(a6.sin6_port);
  });
  EXPECT_NE(port4, 0);
  EXPECT_EQ(port4, port6);
  for (const Bytes& address : {addresses::ipv4Loopback(port4), addresses::ipv6Loopback(port6)}) {
    auto delegate = std::make_shared<RecordingDelegate>();
    auto client = CVNSocket::create(delegate, queue_);
    ASSERT_TRUE(client->connectToAddress(address, 5));
    EXPECT_TRUE(delegate->waitFor("connect " + addresses::hostFromAddress(address)));
  }
}

TEST_F(SocketConnectionTest, RefusesASecondConnectOrAcceptAndUnusableArguments) {
  auto server = CVNSocket::create(serverDelegate_, queue_);
  ASSERT_TRUE(server->acceptOnInterface("localhost", 0));
  auto again = server->acceptOnPort(0);
  ASSERT_FALSE(again);
  EXPECT_EQ(again.error().domain, CVNSocketErrorDomain);
  EXPECT_EQ(again.error().code, 1);
  EXPECT_EQ(again.error().localizedDescription,
            "Attempting to accept while connected or accepting connections. Disconnect first.");

  auto client = CVNSocket::create(clientDelegate_, queue_);
  ASSERT_TRUE(client->connectToHost("localhost", server->localPort(), 5));
  auto second = client->connectToHost("localhost", server->localPort(), 5);
  ASSERT_FALSE(second);
  EXPECT_EQ(second.error().code, 1);
  EXPECT_EQ(second.error().localizedDescription,
            "Attempting to connect while connected or accepting connections. Disconnect first.");

  struct Row {
    std::function<platform::Status(CVNSocket&)> call;
    int code;
    std::string message;
  };
  const Row rows[] = {
      {[](CVNSocket& s) { return s.connectToHost("", 80); }, 2,
       "Invalid host parameter (nil or \"\"). Should be a domain name or IP address string."},
      {[](CVNSocket& s) { return s.connectToAddress(Bytes(20, 0)); }, 2, "A valid IPv4 or IPv6 address was not given"},
      {[](CVNSocket& s) { return s.acceptOnInterface("no-such-interface0", 0); }, 2,
       "Unknown interface. Specify valid interface by name (e.g. \"en1\") or IP address."},
  };
  for (const Row& row : rows) {
    auto fresh = CVNSocket::create(clientDelegate_, queue_);
    auto status = row.call(*fresh);
    ASSERT_FALSE(status) << row.message;
    EXPECT_EQ(status.error().code, row.code) << row.message;
    EXPECT_EQ(status.error().localizedDescription, row.message);
    EXPECT_TRUE(fresh->isDisconnected());
  }
  auto noDelegate = CVNSocket::create({}, queue_);
  auto status = noDelegate->acceptOnPort(0);
  ASSERT_FALSE(status);
  EXPECT_EQ(status.error().localizedDescription, "Attempting to accept without a delegate. Set a delegate first.");
}

TEST_F(SocketConnectionTest, DisconnectOfANeverStartedSocketIsSilent) {
  auto socket = CVNSocket::create(clientDelegate_, queue_);
  socket->disconnect();
  socket.reset();
  auto marker = CVNSocket::create(clientDelegate_, queue_);
  queue_->sync([] {}, 5s);
  EXPECT_TRUE(clientDelegate_->events().empty());
}

TEST_F(SocketConnectionTest, ConnectTimeOutClosesWithCode3AndIgnoresTheLateLookup) {
  platform::ManualClock clock;
  platform::ScopedClockOverride useClock(clock);
  auto resolver = std::make_shared<ScriptedResolver>(std::vector<Bytes>{addresses::ipv4Loopback(9)}, true);
  auto client = CVNSocket::create(clientDelegate_, queue_);
  client->setHostResolver(resolver);
  ASSERT_TRUE(client->connectToHost("studio.invalid", 9, 2.0));
  clock.advance(2s);
  ASSERT_TRUE(clientDelegate_->waitFor("disconnect"));
  EXPECT_TRUE(clientDelegate_->has("disconnect CVNSocketErrorDomain 3"));
  EXPECT_EQ(clientDelegate_->disconnectError()->localizedDescription, "Attempt to connect to host timed out");
  resolver->release();
  ASSERT_TRUE(resolver->waitUntilAnswered());
  // The answer is queued back on the socket queue from the pool; give it
  // many turns to arrive and run.
  for (int turn = 0; turn < 200; ++turn) {
    flushSocketQueue(*client);
    std::this_thread::yield();
  }
  queue_->sync([] {}, 5s);
  EXPECT_EQ(clientDelegate_->events(), std::vector<std::string>{"disconnect CVNSocketErrorDomain 3"});
  EXPECT_TRUE(client->isDisconnected());
}

TEST_F(SocketConnectionTest, LookupWithoutAddressesFailsInTheResolverDomain) {
  auto client = CVNSocket::create(clientDelegate_, queue_);
  client->setHostResolver(std::make_shared<ScriptedResolver>(std::vector<Bytes>{}));
  ASSERT_TRUE(client->connectToHost("studio.invalid", 80, 5));
  ASSERT_TRUE(clientDelegate_->waitFor("disconnect"));
  EXPECT_EQ(clientDelegate_->disconnectError()->domain, "kCFStreamErrorDomainNetDB");
  EXPECT_EQ(clientDelegate_->disconnectError()->code, EAI_FAIL);
}

// The race of the two families, with both loopback addresses from a scripted
// resolver; the 0.3 s delay runs on the manual clock.
struct RaceRow {
  const char* name;
  bool preferIPv6;
  bool listen4;
  bool listen6;
  bool resolve4;
  bool resolve6;
  bool needsDelay;  // the winner is the delayed second family
  const char* winner;
};

class FamilyRaceTest : public SocketConnectionTest, public ::testing::WithParamInterface<RaceRow> {};

// Binds the loopback port of a family without listening, so a connect there is
// refused instead of reaching another process's listener on the same number.
// -1 when the port is taken on that family.
int holdPortWithoutListening(bool ipv6, std::uint16_t port) {
  const Bytes address = ipv6 ? addresses::ipv6Loopback(port) : addresses::ipv4Loopback(port);
  int fd = ::socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int on = 1;
  if (ipv6) ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
  if (::bind(fd, reinterpret_cast<const sockaddr*>(address.data()), static_cast<socklen_t>(address.size())) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

TEST_P(FamilyRaceTest, ConnectsWithTheExpectedFamily) {
  const RaceRow& row = GetParam();
  platform::ManualClock clock;
  platform::ScopedClockOverride useClock(clock);
  std::shared_ptr<CVNSocket> server;
  std::uint16_t port = 0;
  int held = -1;
  for (int attempt = 0; attempt < 20 && held < 0; ++attempt) {
    if (server) server->disconnect();
    server = CVNSocket::create(serverDelegate_, queue_);
    server->setIPv4Enabled(row.listen4);
    server->setIPv6Enabled(row.listen6);
    ASSERT_TRUE(server->acceptOnInterface("localhost", 0));
    server->performBlock([&] {
      sockaddr_storage a{};
      socklen_t length = sizeof a;
      ::getsockname(server->socketFD() >= 0 ? server->socketFD() : server->socket6FD(),
                    reinterpret_cast<sockaddr*>(&a), &length);
      const auto* p = reinterpret_cast<const std::uint8_t*>(&a);
      port = addresses::portFromAddress(Bytes(p, p + length));
    });
    if (row.listen4 && row.listen6) break;
    held = holdPortWithoutListening(!row.listen6, port);
  }
  ASSERT_TRUE((row.listen4 && row.listen6) || held >= 0) << "no port free on both families";
  std::shared_ptr<void> release(nullptr, [held](void*) {
    if (held >= 0) ::close(held);
  });
  std::vector<Bytes> answer;
  if (row.resolve4) answer.push_back(addresses::ipv4Loopback(port));
  if (row.resolve6) answer.push_back(addresses::ipv6Loopback(port));
  auto client = CVNSocket::create(clientDelegate_, queue_);
  client->setHostResolver(std::make_shared<ScriptedResolver>(answer));
  client->setIPv4PreferredOverIPv6(!row.preferIPv6);
  ASSERT_TRUE(client->connectToHost("studio.invalid", port, -1));
  if (row.needsDelay) {
    // The first family is refused at once; the second waits for the delay.
    ASSERT_TRUE(testing_support::waitForCondition([&] {
      int first = -1;
      client->performBlock([&] { first = row.preferIPv6 ? client->socket6FD() : client->socket4FD(); });
      return first < 0;
    }));
    EXPECT_FALSE(clientDelegate_->has("connect"));
    // The second family's delay may be armed only after the lookup and the refusal, which a slow
    // build reaches later: keep moving the clock by the delay until the connection is made.
    ASSERT_TRUE(testing_support::waitForCondition([&] {
      clock.advance(300ms);
      return clientDelegate_->has("connect");
    })) << row.name;
  }
  ASSERT_TRUE(clientDelegate_->waitFor("connect")) << row.name;
  EXPECT_TRUE(clientDelegate_->has(std::string("connect ") + row.winner)) << row.name;
  int fd4 = -1, fd6 = -1;
  client->performBlock([&] {
    fd4 = client->socket4FD();
    fd6 = client->socket6FD();
  });
  EXPECT_EQ(fd4 >= 0, std::string(row.winner) == "127.0.0.1") << row.name;
  EXPECT_EQ(fd6 >= 0, std::string(row.winner) == "::1") << row.name;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, FamilyRaceTest,
    ::testing::Values(RaceRow{"IPv4Preferred", false, true, true, true, true, false, "127.0.0.1"},
                      RaceRow{"IPv6Preferred", true, true, true, true, true, false, "::1"},
                      RaceRow{"OnlyIPv6Resolved", false, true, true, false, true, false, "::1"},
                      RaceRow{"OnlyIPv4Resolved", true, true, true, true, false, false, "127.0.0.1"},
                      RaceRow{"PreferredIPv4Refused", false, false, true, true, true, true, "::1"},
                      RaceRow{"PreferredIPv6Refused", true, true, false, true, true, true, "127.0.0.1"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SocketConnectionTest, UnixListeningTakesOverOnlyAStaleSocketFile) {
  testing_support::TemporaryDirectory folder;
  // A fresh path.
  auto fresh = CVNSocket::create(serverDelegate_, queue_);
  EXPECT_TRUE(fresh->acceptOnUrl(folder / "fresh.sock"));
  // A live socket: refused, left alone.
  auto second = CVNSocket::create(serverDelegate_, queue_);
  auto live = second->acceptOnUrl(folder / "fresh.sock");
  ASSERT_FALSE(live);
  EXPECT_EQ(live.error().code, 8);
  EXPECT_EQ(live.error().localizedDescription, "Could not remove previous unix domain socket at given url.");
  // A regular file: refused and kept.
  std::ofstream(folder / "notes.txt") << "keep me";
  auto file = second->acceptOnUrl(folder / "notes.txt");
  ASSERT_FALSE(file);
  EXPECT_TRUE(std::filesystem::exists(folder / "notes.txt"));
  // A stale socket file (bound, then its owner went away without removing it).
  {
    int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    auto address = addresses::unixAddress(folder / "stale.sock");
    ASSERT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(address->data()), address->size()), 0);
    ::close(fd);
  }
  EXPECT_TRUE(second->acceptOnUrl(folder / "stale.sock"));
}

// Thousands of connect attempts ended at random points, by disconnect or by
// a zero time-out: each started socket reports exactly one disconnect, nothing
// after it, and no descriptor is closed twice.
TEST_F(SocketConnectionTest, CloseRacesCloseEachDescriptorOnceAndReportOnce) {
  serverDelegate_->echo = true;
  auto server = CVNSocket::create(serverDelegate_, queue_);
  ASSERT_TRUE(server->acceptOnInterface("localhost", 0));
  const std::uint16_t port = server->localPort();
  const int badBefore = closeRecord().badCloses.load();
  std::mt19937 random(42);
  constexpr int kAttempts = 2000;
  std::vector<std::shared_ptr<RecordingDelegate>> delegates;
  std::vector<std::shared_ptr<CVNSocket>> sockets;
  for (int i = 0; i < kAttempts; ++i) {
    auto delegate = std::make_shared<RecordingDelegate>();
    auto socket = CVNSocket::create(delegate, queue_);
    const int mode = random() % 4;
    const bool byTimeout = mode == 0;
    ASSERT_TRUE(socket->connectToHost(i % 2 ? "127.0.0.1" : "localhost", port, byTimeout ? 0.0 : 5.0));
    socket->writeData(control::makeBytes("ping"), 5, 1);
    if (mode == 1) socket->disconnect();
    for (unsigned spin = random() % 200; spin > 0; --spin) std::this_thread::yield();
    if (mode == 2) socket->disconnect();
    if (mode == 3) socket->disconnectAfterWriting();
    delegates.push_back(delegate);
    sockets.push_back(socket);
  }
  for (auto& socket : sockets) socket->disconnect();
  for (int i = 0; i < kAttempts; ++i) {
    ASSERT_TRUE(delegates[i]->waitFor("disconnect")) << i;
  }
  queue_->sync([] {}, 10s);
  for (int i = 0; i < kAttempts; ++i) {
    auto events = delegates[i]->events();
    EXPECT_EQ(delegates[i]->count("disconnect"), 1u) << i;
    EXPECT_EQ(events.back().rfind("disconnect", 0), 0u) << i << ": " << events.back();
  }
  sockets.clear();
  server->disconnect();
  for (auto& accepted : serverDelegate_->acceptedSockets()) accepted->disconnect();
  EXPECT_EQ(closeRecord().badCloses.load(), badBefore);
}

}  // namespace
}  // namespace control_testing
