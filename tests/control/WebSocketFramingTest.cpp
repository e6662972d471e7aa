// Frames written and read back through a socketpair, and what a hostile peer gets.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

#include <map>
#include <mutex>
#include <thread>

#include "control/websocket/CVNWebSocket.h"
#include "tests/control/SocketTestSupport.h"
#include "tests/support/RunLoopWait.h"

namespace control_testing {
namespace {

using control::CVNWebSocket;

std::string hex(const Bytes& bytes) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (i) out += ' ';
    out += digits[bytes[i] >> 4];
    out += digits[bytes[i] & 15];
  }
  return out;
}

Bytes bytesOf(std::string_view text) { return Bytes(text.begin(), text.end()); }

TEST(WebSocketFrameTest, WritesTheThreeLengthFormsAndControlHeaders) {
  EXPECT_EQ(hex(CVNWebSocket::frame(bytesOf("hello"), CVNWebSocket::Text, nullptr)), "81 05 68 65 6c 6c 6f");
  auto header = [](std::size_t n) {
    Bytes frame = CVNWebSocket::frame(Bytes(n, 'a'), CVNWebSocket::Text, nullptr);
    return hex(Bytes(frame.begin(), frame.begin() + static_cast<long>(frame.size() - n)));
  };
  EXPECT_EQ(header(200), "81 7e 00 c8");
  EXPECT_EQ(header(70000), "81 7f 00 00 00 00 00 01 11 70");
  EXPECT_EQ(hex(CVNWebSocket::frame({}, CVNWebSocket::Pong, nullptr)), "8a 00");
  EXPECT_EQ(hex(CVNWebSocket::frame({}, CVNWebSocket::Ping, nullptr)), "89 00");
  EXPECT_EQ(CVNWebSocket::frame(bytesOf("x"), CVNWebSocket::Binary, nullptr)[0], 0x81);
  const std::uint8_t key[4] = {1, 2, 3, 4};
  EXPECT_EQ(hex(CVNWebSocket::frame(bytesOf("abcde"), CVNWebSocket::Text, key)), "81 85 01 02 03 04 60 60 60 60 64");
}

TEST(WebSocketFrameTest, MasksEveryPayloadByteWithItsKeyByte) {
  const std::uint8_t key[4] = {0x37, 0xfa, 0x21, 0x3d};
  for (std::size_t n : {7u, 8u, 9u, 21u, 300u}) {
    Bytes payload(n);
    for (std::size_t i = 0; i < n; ++i) payload[i] = static_cast<std::uint8_t>(i * 7 + 1);
    const Bytes frame = CVNWebSocket::frame(payload, CVNWebSocket::Text, key);
    const std::size_t start = frame.size() - n;
    for (std::size_t i = 0; i < n; ++i) {
      ASSERT_EQ(frame[start + i], payload[i] ^ key[i % 4]) << "length " << n << " byte " << i;
    }
  }
}

// Reads frames as a server (masked frames in) or a client (unmasked in) and
// records each text payload.
class RecordingWebSocket : public CVNWebSocket {
 public:
  static std::shared_ptr<RecordingWebSocket> attach(const std::shared_ptr<CVNSocket>& socket, bool clientSide) {
    auto ws = std::shared_ptr<RecordingWebSocket>(new RecordingWebSocket());
    ws->socket_ = socket;
    ws->socketQueue_ = socket->delegateQueue();
    ws->useMask_ = clientSide;
    socket->synchronouslySetDelegate(std::static_pointer_cast<control::CVNSocketDelegate>(ws));
    ws->readNextFrame();
    return ws;
  }
  void handleReceivedData(const control::CVNSocketData& payload) override {
    std::lock_guard guard(mutex);
    messages.push_back(std::string(payload.view()));
  }
  void socketDidDisconnect(const std::shared_ptr<CVNSocket>&, const std::optional<platform::Error>&) override {
    disconnected = true;
  }
  std::size_t count() {
    std::lock_guard guard(mutex);
    return messages.size();
  }
  std::mutex mutex;
  std::vector<std::string> messages;
  std::atomic<bool> disconnected{false};
};

struct FrameRow {
  std::size_t length;
  bool masked;
};

class WebSocketReaderTest : public ::testing::TestWithParam<FrameRow> {
 protected:
  std::shared_ptr<platform::DispatchQueue> queue_ = makeDelegateQueue();
  std::shared_ptr<RecordingDelegate> unused_ = std::make_shared<RecordingDelegate>();
};

TEST_P(WebSocketReaderTest, ReadsTheFrameBackWhateverTheSplit) {
  const FrameRow row = GetParam();
  const std::uint8_t key[4] = {0x37, 0xfa, 0x21, 0x3d};
  Bytes payload(row.length);
  for (std::size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<std::uint8_t>('a' + i % 26);
  const Bytes frame = CVNWebSocket::frame(payload, CVNWebSocket::Text, row.masked ? key : nullptr);
  const Bytes end = CVNWebSocket::frame(bytesOf("end"), CVNWebSocket::Text, row.masked ? key : nullptr);
  std::vector<std::size_t> splits;
  for (std::size_t i = 1; i < std::min<std::size_t>(frame.size(), 20); ++i) splits.push_back(i);
  if (frame.size() > 20) splits.push_back(frame.size() / 2), splits.push_back(frame.size() - 1);
  if (splits.empty()) splits.push_back(frame.size());
  for (std::size_t split : splits) {
    SCOPED_TRACE("length " + std::to_string(row.length) + " split " + std::to_string(split));
    SocketPair pair = makeSocketPair(unused_, queue_);
    auto ws = RecordingWebSocket::attach(pair.socket, /*clientSide=*/!row.masked);
    const std::string all(frame.begin(), frame.end());
    writeAll(pair.peer, all.substr(0, split));
    flushSocketQueue(*pair.socket);
    writeAll(pair.peer, all.substr(split));
    writeAll(pair.peer, std::string(end.begin(), end.end()));
    const std::size_t expected = row.length == 0 ? 1 : 2;
    ASSERT_TRUE(testing_support::waitForCondition([&] { return ws->count() == expected; }));
    std::lock_guard guard(ws->mutex);
    if (row.length > 0) {
      EXPECT_EQ(ws->messages.front(), std::string(payload.begin(), payload.end()));
    }
    EXPECT_EQ(ws->messages.back(), "end");
  }
}

INSTANTIATE_TEST_SUITE_P(Lengths, WebSocketReaderTest,
                         ::testing::Values(FrameRow{0, false}, FrameRow{0, true}, FrameRow{125, false},
                                           FrameRow{125, true}, FrameRow{126, false}, FrameRow{126, true},
                                           FrameRow{65535, false}, FrameRow{65535, true}, FrameRow{65536, false},
                                           FrameRow{65536, true}));

// What the reader answers a peer with: the bytes written back, then the close.
struct HostileRow {
  const char* name;
  std::string input;    // bytes the peer sends (a client's, so masked unless noted)
  std::string answer;   // hex of what comes back before the socket closes
};

std::string masked(std::uint8_t first, std::string payload, bool mask = true) {
  const std::uint8_t key[4] = {9, 8, 7, 6};
  Bytes frame = CVNWebSocket::frame(bytesOf(payload), CVNWebSocket::Text, mask ? key : nullptr);
  frame[0] = first;
  return std::string(frame.begin(), frame.end());
}

class WebSocketHostilePeerTest : public ::testing::TestWithParam<HostileRow> {};

TEST_P(WebSocketHostilePeerTest, AnswersWithTheRightCloseFrameAndCloses) {
  const HostileRow& row = GetParam();
  auto queue = makeDelegateQueue();
  auto unused = std::make_shared<RecordingDelegate>();
  SocketPair pair = makeSocketPair(unused, queue);
  auto ws = RecordingWebSocket::attach(pair.socket, /*clientSide=*/false);
  ws->setMaximumMessageLength(1000);
  writeAll(pair.peer, row.input);
  std::string back;
  char buffer[4096];
  while (true) {
    ssize_t n = ::read(pair.peer, buffer, sizeof buffer);
    if (n <= 0) break;
    back.append(buffer, static_cast<std::size_t>(n));
  }
  EXPECT_EQ(hex(Bytes(back.begin(), back.end())), row.answer) << row.name;
  EXPECT_TRUE(testing_support::waitForCondition([&] { return ws->disconnected.load(); }));
  EXPECT_EQ(ws->count(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, WebSocketHostilePeerTest,
    ::testing::Values(
        HostileRow{"Fragment", masked(0x01, "abc"), "88 02 03 eb"},
        HostileRow{"Binary", masked(0x82, "abc"), "88 02 03 eb"},
        HostileRow{"ReservedOpcode", masked(0x83, "abc"), "88 02 03 ea"},
        HostileRow{"ReservedBit", masked(0xC1, "abc"), "88 02 03 ea"},
        HostileRow{"UnmaskedToServer", masked(0x81, "abc", false), "88 02 03 ea"},
        HostileRow{"LongPing", masked(0x89, std::string(126, 'p')), "88 02 03 ea"},
        HostileRow{"TooLong", masked(0x81, std::string(1001, 'x')), "88 02 03 f1"},
        HostileRow{"HugeLengthNoBody", std::string("\x81\xff\x7f\xff\xff\xff\xff\xff\xff\xff", 10), "88 02 03 f1"},
        HostileRow{"CloseIsEchoed", masked(0x88, std::string("\x03\xe8", 2)), "88 02 03 e8"},
        HostileRow{"EmptyClose", masked(0x88, ""), "88 00"}),
    [](const auto& info) { return std::string(info.param.name); });

// Unmasked frames from the start of `bytes`: (type, payload) in order.
std::vector<std::pair<int, std::string>> framesIn(const std::string& bytes) {
  std::vector<std::pair<int, std::string>> frames;
  std::size_t at = 0;
  while (at + 2 <= bytes.size()) {
    const int type = static_cast<std::uint8_t>(bytes[at]) & 0x0F;
    std::uint64_t length = static_cast<std::uint8_t>(bytes[at + 1]) & 0x7F;
    at += 2;
    const int extra = length == 126 ? 2 : length == 127 ? 8 : 0;
    if (extra) length = 0;
    for (int i = 0; i < extra; ++i) length = (length << 8) | static_cast<std::uint8_t>(bytes[at++]);
    frames.emplace_back(type, bytes.substr(at, length));
    at += length;
  }
  return frames;
}

TEST(WebSocketWriterTest, BurstsFromTwoThreadsArriveWholeAndInOrderBeforeTheCloseAnswer) {
  auto queue = makeDelegateQueue();
  auto unused = std::make_shared<RecordingDelegate>();
  SocketPair pair = makeSocketPair(unused, queue);
  auto ws = RecordingWebSocket::attach(pair.socket, /*clientSide=*/false);
  constexpr int kMessages = 300;
  // Every seventh message is bigger than what is gathered for one write.
  auto message = [](char thread, int i) {
    std::string text = std::string(1, thread) + std::to_string(i);
    return i % 7 == 0 ? text + std::string(70000, '.') : text;
  };
  std::string received;
  std::thread reader([&] {
    char buffer[65536];
    ssize_t n;
    while ((n = ::read(pair.peer, buffer, sizeof buffer)) > 0) received.append(buffer, static_cast<std::size_t>(n));
  });
  std::vector<std::thread> senders;
  for (char thread : {'a', 'b'}) {
    senders.emplace_back([&, thread] {
      for (int i = 0; i < kMessages; ++i) ws->sendData(message(thread, i));
    });
  }
  for (auto& sender : senders) sender.join();
  writeAll(pair.peer, masked(0x88, std::string("\x03\xe8", 2)));
  reader.join();

  const auto frames = framesIn(received);
  ASSERT_EQ(frames.size(), 2u * kMessages + 1);
  std::map<char, int> next;
  for (std::size_t i = 0; i + 1 < frames.size(); ++i) {
    ASSERT_EQ(frames[i].first, CVNWebSocket::Text);
    const char thread = frames[i].second[0];
    ASSERT_EQ(frames[i].second, message(thread, next[thread]++)) << "frame " << i;
  }
  EXPECT_EQ(frames.back(), std::make_pair(int(CVNWebSocket::Close), std::string("\x03\xe8", 2)));
}

TEST(WebSocketPingTest, MaskedPingIsAnsweredWithTheUnmaskedPayload) {
  auto queue = makeDelegateQueue();
  auto unused = std::make_shared<RecordingDelegate>();
  SocketPair pair = makeSocketPair(unused, queue);
  auto ws = RecordingWebSocket::attach(pair.socket, /*clientSide=*/false);
  writeAll(pair.peer, masked(0x89, "live?") + masked(0x89, ""));
  EXPECT_EQ(hex(bytesOf(readExactly(pair.peer, 9))), "8a 05 6c 69 76 65 3f 8a 00");
  writeAll(pair.peer, masked(0x8A, "x"));
  ASSERT_TRUE(testing_support::waitForCondition([&] { return ws->receivedPong(); }));
}

}  // namespace
}  // namespace control_testing
