#include "media/parsers/CVNStreamingSRTUtilities.h"

#include <gtest/gtest.h>

namespace media {
namespace {

TEST(CVNStreamingSRTUtilitiesTest, ModeFromTheQuery) {
  struct Case {
    const char* url;
    SRTMode mode;
  } cases[] = {
      {"srt://127.0.0.1:9000", SRTMode::Caller},
      {"srt://127.0.0.1:9000?mode=listener", SRTMode::Listener},
      {"srt://127.0.0.1:9000?mode=rendezvous", SRTMode::Rendezvous},
      {"srt://127.0.0.1:9000?mode=Listener", SRTMode::Caller},
      {"srt://127.0.0.1:9000?mode=caller", SRTMode::Caller},
      {"srt://127.0.0.1:9000?mode=listener&mode=rendezvous", SRTMode::Rendezvous},
      {"srt://127.0.0.1:9000?mode=rendezvous&latency=200&mode=caller", SRTMode::Caller},
      {"srt://127.0.0.1:9000?latency=200", SRTMode::Caller},
      {"srt://127.0.0.1:9000?m%6Fde=l%69stener", SRTMode::Listener},  // percent-encoded
      {"srt://127.0.0.1:9000?mode=", SRTMode::Caller},
      {"srt://127.0.0.1:9000?mode", SRTMode::Caller},
      {"srt://:9000?mode=listener", SRTMode::Listener},  // no host
      {"srt://?mode=rendezvous#mode=listener", SRTMode::Rendezvous},
      {"srt://127.0.0.1:9000?mode=listener%", SRTMode::Caller},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.url);
    const MediaURL url = MediaURL::URLWithString(c.url);
    EXPECT_TRUE(CVNStreamingSRTUtilities::isSRTURL(url));
    EXPECT_EQ(CVNStreamingSRTUtilities::SRTModeWithURL(url), c.mode);
    EXPECT_EQ(CVNStreamingSRTUtilities::isSRTInCallerModeWithURL(url), c.mode == SRTMode::Caller);
    EXPECT_EQ(CVNStreamingSRTUtilities::isSRTInListenerModeWithURL(url), c.mode == SRTMode::Listener);
    EXPECT_EQ(CVNStreamingSRTUtilities::isSRTInRendezVousModeWithURL(url), c.mode == SRTMode::Rendezvous);
  }
  EXPECT_EQ(CVNStreamingSRTUtilities::SRTModeWithURL(std::nullopt), SRTMode::Caller);
  EXPECT_FALSE(CVNStreamingSRTUtilities::isSRTURL(MediaURL::URLWithString("udp://127.0.0.1:9000")));
  EXPECT_FALSE(CVNStreamingSRTUtilities::isSRTURL(MediaURL::fileURLWithPath("/srt/clip.mov")));
  EXPECT_TRUE(CVNStreamingSRTUtilities::isSRTURL(MediaURL::URLWithString("SRT://127.0.0.1:1")));
}

}  // namespace
}  // namespace media
