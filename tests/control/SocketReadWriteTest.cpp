// The read and write queues over a socketpair.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

#include "control/sockets/CVNSocket.h"
#include "platform/Clock.h"
#include "tests/control/SocketTestSupport.h"
#include "tests/support/RunLoopWait.h"

namespace control_testing {
namespace {

using namespace std::chrono_literals;

class SocketReadWriteTest : public ::testing::Test {
 protected:
  void SetUp() override {
    pair_ = makeSocketPair(delegate_, queue_);
    ASSERT_TRUE(pair_.socket);
  }
  CVNSocket& socket() { return *pair_.socket; }

  std::shared_ptr<platform::DispatchQueue> queue_ = makeDelegateQueue();
  std::shared_ptr<RecordingDelegate> delegate_ = std::make_shared<RecordingDelegate>();
  SocketPair pair_;
};

TEST_F(SocketReadWriteTest, TerminatorSplitAtEveryOffsetCompletesWithTheTerminator) {
  const std::string message = "GET / HTTP/1.1\r\nHost: a\r\n";
  for (std::size_t split = 0; split <= message.size(); ++split) {
    SCOPED_TRACE("split at " + std::to_string(split));
    auto local = std::make_shared<RecordingDelegate>();
    SocketPair pair = makeSocketPair(local, queue_);
    pair.socket->readDataToData(CVNSocket::CRLFData(), -1, 1);
    pair.socket->readDataToData(CVNSocket::CRLFData(), -1, 2);
    writeAll(pair.peer, message.substr(0, split));
    if (split > 0) flushSocketQueue(*pair.socket);
    writeAll(pair.peer, message.substr(split));
    ASSERT_TRUE(local->waitFor("read 2"));
    EXPECT_TRUE(local->has("read 1 GET / HTTP/1.1\r\n"));
    EXPECT_TRUE(local->has("read 2 Host: a\r\n"));
  }
}

TEST_F(SocketReadWriteTest, BytesAfterTheTerminatorServeTheNextReadsAfterThePeerClosed) {
  writeAll(pair_.peer, "one\r\ntwo\r\nthree");
  ::shutdown(pair_.peer, SHUT_WR);
  socket().readDataToData(CVNSocket::CRLFData(), -1, 1);
  ASSERT_TRUE(delegate_->waitFor("read 1"));
  socket().readDataToData(CVNSocket::CRLFData(), -1, 2);
  socket().readDataToLength(5, -1, 3);
  ASSERT_TRUE(delegate_->waitFor("disconnect"));
  EXPECT_EQ(delegate_->events(), (std::vector<std::string>{"read 1 one\r\n", "read 2 two\r\n", "read 3 three",
                                                            "disconnect CVNSocketErrorDomain 7"}));
}

TEST_F(SocketReadWriteTest, LineWithoutTerminatorAtTheLimitClosesWithCode6) {
  socket().readDataToData(CVNSocket::CRLFData(), -1, 8190, 1);
  writeAll(pair_.peer, std::string(8190, 'a'));
  ASSERT_TRUE(delegate_->waitFor("disconnect"));
  EXPECT_TRUE(delegate_->has("disconnect CVNSocketErrorDomain 6"));
  EXPECT_FALSE(delegate_->has("read 1"));
}

TEST_F(SocketReadWriteTest, HugeFixedLengthFromAPeerAllocatesOnlyWhatArrives) {
  socket().readDataToLength(std::size_t{1} << 40, -1, 1);
  writeAll(pair_.peer, "0123456789");
  ASSERT_TRUE(delegate_->waitFor("partial 1 10"));
  ::shutdown(pair_.peer, SHUT_WR);
  ASSERT_TRUE(delegate_->waitFor("disconnect"));
  EXPECT_TRUE(delegate_->has("disconnect CVNSocketErrorDomain 7"));
}

TEST_F(SocketReadWriteTest, InvalidReadsAreDropped) {
  socket().readDataToLength(0, -1, 1);
  socket().readDataToData(Bytes{}, -1, 2);
  socket().readDataToData(CVNSocket::CRLFData(), -1, 1, 3);
  socket().readDataWithTimeout(-1, std::make_shared<Bytes>(4), 5, 0, 4);
  socket().readDataToLength(3, -1, 5);
  writeAll(pair_.peer, "abc");
  ASSERT_TRUE(delegate_->waitFor("read"));
  EXPECT_EQ(delegate_->events(), std::vector<std::string>{"read 5 abc"});
}

TEST_F(SocketReadWriteTest, ReadIntoACallersBufferKeepsItsPrefix) {
  auto buffer = std::make_shared<Bytes>(Bytes{'>', '>'});
  socket().readDataToData(CVNSocket::LFData(), -1, buffer, 2, 0, 1);
  writeAll(pair_.peer, "line\nrest");
  ASSERT_TRUE(delegate_->waitFor("read 1"));
  EXPECT_TRUE(delegate_->has("read 1 line\n"));
  flushSocketQueue(socket());
  EXPECT_EQ(std::string(buffer->begin(), buffer->end()), ">>line\n");
}

TEST_F(SocketReadWriteTest, ReadTimeOutExtensionReportsTheSummedElapsedTime) {
  platform::ManualClock clock;
  platform::ScopedClockOverride useClock(clock);
  delegate_->readExtensions = {5.0};
  socket().readDataToLength(4, 2.0, 9);
  flushSocketQueue(socket());
  clock.advance(2s);
  ASSERT_TRUE(delegate_->waitFor("timeout? 9 elapsed 2 done 0"));
  // The answer goes from the delegate queue to the socket queue, which arms the extension.
  queue_->sync([] {}, 5s);
  flushSocketQueue(socket());
  clock.advance(4s);
  flushSocketQueue(socket());
  EXPECT_FALSE(delegate_->has("disconnect"));
  clock.advance(1s);
  ASSERT_TRUE(delegate_->waitFor("disconnect"));
  EXPECT_TRUE(delegate_->has("timeout? 9 elapsed 7 done 0"));
  EXPECT_TRUE(delegate_->has("disconnect CVNSocketErrorDomain 4"));
}

TEST_F(SocketReadWriteTest, WriteTimeOutToAPeerThatStoppedReadingClosesWithCode5) {
  platform::ManualClock clock;
  platform::ScopedClockOverride useClock(clock);
  // Far more than the pair's buffers hold: the write stays unfinished.
  socket().writeData(std::make_shared<const Bytes>(8 << 20, 'x'), 2.0, 3);
  flushSocketQueue(socket());
  clock.advance(2s);
  ASSERT_TRUE(delegate_->waitFor("disconnect"));
  EXPECT_TRUE(delegate_->has("disconnect CVNSocketErrorDomain 5"));
  EXPECT_FALSE(delegate_->has("wrote 3"));
}

TEST_F(SocketReadWriteTest, ReadWithoutTimeOutNeverTimesOut) {
  platform::ManualClock clock;
  platform::ScopedClockOverride useClock(clock);
  socket().readDataToLength(4, -1, 1);
  flushSocketQueue(socket());
  clock.advance(24h);
  flushSocketQueue(socket());
  writeAll(pair_.peer, "data");
  ASSERT_TRUE(delegate_->waitFor("read 1 data"));
  EXPECT_FALSE(delegate_->has("disconnect"));
}

TEST_F(SocketReadWriteTest, DisconnectAfterReadingServesQueuedReadsThenCloses) {
  socket().readDataToData(CVNSocket::LFData(), -1, 1);
  socket().readDataToData(CVNSocket::LFData(), -1, 2);
  socket().disconnectAfterReading();
  socket().readDataToData(CVNSocket::LFData(), -1, 3);
  writeAll(pair_.peer, "a\nb\nc\n");
  ASSERT_TRUE(delegate_->waitFor("disconnect"));
  EXPECT_EQ(delegate_->events(), (std::vector<std::string>{"read 1 a\n", "read 2 b\n", "disconnect"}));
}

TEST_F(SocketReadWriteTest, DisconnectAfterWritingDeliversEveryQueuedByteFirst) {
  const std::string big(1 << 20, 'x');
  socket().writeData(control::makeBytes(big), -1, 1);
  socket().writeData(control::makeBytes("tail"), -1, 2);
  socket().disconnectAfterWriting();
  socket().writeData(control::makeBytes("dropped"), -1, 3);
  const std::string received = readExactly(pair_.peer, big.size() + 4 + 7);
  EXPECT_EQ(received.size(), big.size() + 4);
  EXPECT_EQ(received.substr(big.size()), "tail");
  ASSERT_TRUE(delegate_->waitFor("disconnect"));
  EXPECT_EQ(delegate_->events(), (std::vector<std::string>{"wrote 1", "wrote 2", "disconnect"}));
}

TEST_F(SocketReadWriteTest, HalfCloseKeptOpenIsReportedOnceAndWritesGoOn) {
  socket().setAutoDisconnectOnClosedReadStream(false);
  socket().readDataToLength(10, -1, 1);
  ::shutdown(pair_.peer, SHUT_WR);
  ASSERT_TRUE(delegate_->waitFor("read stream closed"));
  socket().writeData(control::makeBytes("still here"), -1, 2);
  EXPECT_EQ(readExactly(pair_.peer, 10), "still here");
  ASSERT_TRUE(delegate_->waitFor("wrote 2"));
  socket().readDataToLength(1, -1, 3);
  flushSocketQueue(socket());
  queue_->sync([] {}, 5s);
  EXPECT_EQ(delegate_->count("read stream closed"), 1u);
  EXPECT_FALSE(delegate_->has("disconnect"));
}

TEST_F(SocketReadWriteTest, PeerThatStoppedReadingFailsTheWriteWithAnErrnoError) {
  ::shutdown(pair_.peer, SHUT_RD);
  socket().writeData(control::makeBytes(std::string(1 << 16, 'x')), -1, 1);
  ASSERT_TRUE(delegate_->waitFor("disconnect"));
  auto error = delegate_->disconnectError();
  ASSERT_TRUE(error);
  EXPECT_EQ(error->domain, "NSPOSIXErrorDomain");
  EXPECT_EQ(error->code, EPIPE);
  EXPECT_EQ(error->userInfo.at("NSLocalizedFailureReason"), platform::Value("Error in write() function"));
}

}  // namespace
}  // namespace control_testing
