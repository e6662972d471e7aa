// Clients that hold memory, flood the log, probe passwords or just sit on a
// connection: none of them may cost the node more than they last, or lock
// other clients out.

#include <gtest/gtest.h>

#include <malloc.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <memory>

#include "tests/node-standin/StandinNodeFixture.h"

namespace standin {
namespace {

using namespace testing_node;

// Resident memory of this process.
std::size_t residentBytes() {
  std::ifstream statm("/proc/self/statm");
  std::size_t pages = 0;
  std::size_t resident = 0;
  statm >> pages >> resident;
  return resident * static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
}

class HostileClientTest : public NodeProtocolTest {
 protected:
  // Commands from `probe` until the server holds `count` clients; each round
  // trip is one more turn of its loop. False when it never gets there.
  bool waitForClientCount(TestClient& probe, std::size_t count) {
    for (int turn = 0; turn < 2000; ++turn) {
      if (server_->clientCountForTesting() == count) return true;
      if (probe.command("version") != "200\r\n") return false;
    }
    return false;
  }

  std::size_t countLogLines(std::string_view text) const {
    const std::vector<std::string> lines = logLines();
    return static_cast<std::size_t>(
        std::count_if(lines.begin(), lines.end(), [&](const std::string& line) { return line.find(text) != std::string::npos; }));
  }
};

// Clients that leave with unfinished lines hand their memory back: the
// process keeps no more than a fraction of what they made it hold. The C
// library keeps freed heap blocks for reuse once large blocks have come and
// gone (it raises its thresholds as they do); the test sets those thresholds
// as a long-running node ends up with, so the result does not hang on the
// allocator's history.
TEST_F(HostileClientTest, MemoryOfUnfinishedLinesGoesBackWhenTheClientsLeave) {
  constexpr std::size_t kLineBytes = 2 * 1024 * 1024;
  constexpr std::size_t kClients = 24;
  ::mallopt(M_MMAP_THRESHOLD, 32 * 1024 * 1024);
  ::mallopt(M_TRIM_THRESHOLD, 1024 * 1024 * 1024);
  startNode(std::nullopt, {.maxLineBytes = kLineBytes});
  TestClient probe(server_->port());
  const std::string unfinished(kLineBytes - 1, 'x');

  const std::size_t before = residentBytes();
  std::size_t held = 0;
  {
    std::vector<std::unique_ptr<TestClient>> clients;
    for (std::size_t i = 1; i <= kClients; ++i) {
      clients.push_back(std::make_unique<TestClient>(server_->port()));
      clients.back()->send(unfinished);
    }
    for (int turn = 0; turn < 2000 && server_->bufferedBytesForTesting() < kClients * unfinished.size(); ++turn) {
      ASSERT_EQ(probe.command("version"), "200\r\n");
    }
    ASSERT_EQ(server_->bufferedBytesForTesting(), kClients * unfinished.size());
    held = residentBytes() - before;
  }
  ASSERT_TRUE(waitForClientCount(probe, 1));
  ASSERT_GE(held, kClients * unfinished.size() / 2);  // the buffers were really there
  const std::size_t after = residentBytes();
  EXPECT_LT(after, before + held / 4) << "kept " << (after - before) / 1024 << " KiB of " << held / 1024;
}

// A flood of junk lines is answered line by line, but the log takes a few
// lines a second and then one line counting what it dropped.
TEST_F(HostileClientTest, JunkLinesAreLoggedAtALimitedRateWithACountOfTheRest) {
  startNode();
  TestClient client(server_->port());
  std::string chunk;
  while (chunk.size() < 64 * 1024) chunk += "junk\n\r";
  const std::size_t linesPerChunk = chunk.size() / 6;
  constexpr int kChunks = 4;
  for (int i = 0; i < kChunks; ++i) {
    client.send(chunk);
    ASSERT_TRUE(client.readRepeatedReply("ERROR\r\n", linesPerChunk));
  }
  const std::size_t refusedLogged = countLogLines("\"junk\" refused");
  EXPECT_GT(refusedLogged, 0u);
  EXPECT_LE(refusedLogged, 50u);

  clock_.advance(2s);
  EXPECT_EQ(client.command("junk"), "ERROR\r\n");
  const std::size_t dropped = kChunks * linesPerChunk - refusedLogged;
  EXPECT_EQ(countLogLines(std::to_string(dropped) + " more log lines dropped"), 1u);
  EXPECT_EQ(countLogLines("\"junk\" refused"), refusedLogged + 1);
}

// The password is the whole rest of the line, blanks included, and never
// reaches the log, whatever else the line holds.
TEST_F(HostileClientTest, UnlockTakesThePasswordAsSentAndNeverLogsIt) {
  startNode(" open sesame ");
  TestClient client(server_->port());
  const struct {
    std::string line;
    const char* reply;
  } cases[] = {
      {"unlock open sesame", "ERROR\r\n"},
      {"unlock  open sesame", "ERROR\r\n"},
      {"unlock sesame\xff", "ERROR\r\n"},
      {std::string("unlock sesame\0", 14), "ERROR\r\n"},
      {"unlock\tsesame\x01", "ERROR\r\n"},
      {"unlock  open sesame ", "OK\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    EXPECT_EQ(client.command(c.line), c.reply);
  }
  EXPECT_EQ(client.command("setslavemode 1"), "OK\r\n");
  EXPECT_GE(countLogLines("\"unlock\" refused"), 5u);
  EXPECT_EQ(countLogLines("sesame"), 0u);
}

// Connections that never send a command cannot lock anyone out: there is no
// fixed cap on clients, and the silent ones are closed after the limit on the
// node's clock. Clients that sent a command stay, however quiet.
TEST_F(HostileClientTest, SilentConnectionsAreClosedAfterTheLimitAndLockNoOneOut) {
  startNode(std::nullopt, {.maxLineBytes = kTestLineLimit, .firstCommandLimit = 30s});
  std::vector<std::unique_ptr<TestClient>> silent;
  for (int i = 0; i < 300; ++i) silent.push_back(std::make_unique<TestClient>(server_->port()));
  TestClient halfLine(server_->port());
  halfLine.send("versi");
  TestClient quiet(server_->port());
  EXPECT_EQ(quiet.command("version"), "200\r\n");
  TestClient probe(server_->port());
  EXPECT_EQ(probe.command("nodename"), "Studio A\r\n");
  EXPECT_EQ(server_->clientCountForTesting(), 303u);

  clock_.advance(29s);
  EXPECT_EQ(probe.command("version"), "200\r\n");
  EXPECT_EQ(server_->clientCountForTesting(), 303u);

  clock_.advance(1s);
  EXPECT_EQ(silent.front()->readUntilClosed(), "");
  EXPECT_EQ(halfLine.readUntilClosed(), "");
  EXPECT_TRUE(waitForClientCount(probe, 2));
  EXPECT_EQ(quiet.command("nodename"), "Studio A\r\n");
}

}  // namespace
}  // namespace standin
