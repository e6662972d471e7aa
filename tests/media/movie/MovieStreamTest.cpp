// Network streams on loopback: an SRT listener fed by ffmpeg opens as a live
// stream; a TCP peer that accepts and stays silent is abandoned once the
// clock passes the 20 s connection limit, without holding up file readers.

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fstream>
#include <future>
#include <sstream>

#include "media/readers/movie/CVNFFmpegMovieAssetReader.h"
#include "media/validation/CVNEngineValidation.h"
#include "platform/Clock.h"
#include "tests/media/movie/MovieFixtures.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/RunLoopWait.h"

namespace {

using media::CVNFFmpegMovieAssetReader;
using media::MediaURL;

// A UDP port free right now on 127.0.0.1.
int freeUDPPort() {
  const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  socklen_t length = sizeof address;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  ::close(fd);
  return ntohs(address.sin_port);
}

bool udpPortBound(int port) {
  std::ifstream table("/proc/net/udp");
  char hex[8];
  std::snprintf(hex, sizeof hex, ":%04X", port);
  std::stringstream text;
  text << table.rdbuf();
  return text.str().find(std::string("0100007F") + hex) != std::string::npos;
}

TEST(MovieStream, SrtListenerOpensAsLiveStream) {
  const int port = freeUDPPort();
  std::string error;
  auto sender = testing_support::ChildProcess::start(
      {"/usr/bin/ffmpeg", "-nostdin", "-loglevel", "error", "-re", "-f", "lavfi", "-i",
       "testsrc2=size=64x48:rate=25", "-t", "30", "-c:v", "mpeg2video", "-f", "mpegts",
       "srt://127.0.0.1:" + std::to_string(port) + "?mode=listener"},
      {}, &error);
  ASSERT_TRUE(sender) << error;
  ASSERT_TRUE(testing_support::waitForCondition([&] { return udpPortBound(port); }, "the SRT listener"));

  CVNFFmpegMovieAssetReader reader(MediaURL::URLWithString("srt://127.0.0.1:" + std::to_string(port)), "srt");
  ASSERT_TRUE(reader.isZiraStream());
  reader.loadInfo(false, false);
  EXPECT_TRUE(reader.isValid()) << reader.validationError();
  EXPECT_EQ(reader.assetType(), media::kAssetTypeZiraStream);
  ASSERT_TRUE(reader.videoFormatDescription());
  EXPECT_EQ(reader.videoFormatDescription()->dimensions().width, 64);
  reader.close();
}

TEST(MovieStream, SilentPeerFailsOnceTheClockPassesTheLimit) {
  platform::ManualClock clock;
  platform::ScopedClockOverride useClock(clock);
  std::string error;
  auto peer = testing_support::ChildProcess::start(
      {"/usr/bin/python3", "-u", "-c",
       "import socket,sys\n"
       "s=socket.socket(); s.bind(('127.0.0.1',0)); s.listen(1)\n"
       "print('port', s.getsockname()[1])\n"
       "c,_=s.accept(); print('accepted')\n"
       "sys.stdin.read(); c.recv(1)\n"},
      {}, &error);
  ASSERT_TRUE(peer) << error;
  ASSERT_TRUE(peer->waitForOutput("port ", false, testing_support::kRealTimeLimit));
  ASSERT_TRUE(testing_support::waitForCondition(
      [&] { return peer->standardOutput().find('\n') != std::string::npos; }, "the peer's port"));
  const int port = std::stoi(peer->standardOutput().substr(5));

  CVNFFmpegMovieAssetReader reader(MediaURL::URLWithString("tcp://127.0.0.1:" + std::to_string(port)), "tcp");
  auto opened = std::async(std::launch::async, [&] { return reader.open(); });
  ASSERT_TRUE(peer->waitForOutput("accepted", false, testing_support::kRealTimeLimit));

  // While the dead peer blocks its probe, a file still opens: the stream does
  // not hold the shared codec lock.
  CVNFFmpegMovieAssetReader file(MediaURL::fileURLWithPath(movie_fixtures::fixture("movie.mkv")), "file");
  EXPECT_TRUE(file.open());
  EXPECT_EQ(opened.wait_for(std::chrono::milliseconds(0)), std::future_status::timeout);

  clock.advance(std::chrono::seconds(21));
  ASSERT_EQ(opened.wait_for(testing_support::kRealTimeLimit), std::future_status::ready);
  EXPECT_FALSE(opened.get());
  EXPECT_EQ(reader.validationError(), media::kValidationReasonStreamNotFound);
  EXPECT_TRUE(reader.streamContext().aborting);
}

}  // namespace
