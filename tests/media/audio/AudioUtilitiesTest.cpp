#include "media/audio/CVNAudioUtilities.h"

#include <gtest/gtest.h>

namespace media {
namespace {

namespace pm = platform::media;

TEST(CVNAudioUtilitiesTest, FourCharCodesAndFlags) {
  struct Row {
    std::uint32_t code;
    const char* text;
  };
  for (const Row& row : {Row{pm::fourCC("aac "), "aac "}, Row{0x666d743f, "fmt?"}, Row{pm::fourCC("lpcm"), "lpcm"},
                         Row{0x61626300, " abc"}}) {
    EXPECT_EQ(CVNAudioUtilities::stringFromFourCharCode(row.code), row.text) << row.text;
  }
  struct FlagRow {
    std::uint32_t flags;
    const char* text;
  };
  for (const FlagRow& row : {FlagRow{9, "float, packed"}, FlagRow{0, ""}, FlagRow{0x20, "non-interleaved"},
                             FlagRow{0x80000044, "signed integer, non-mixable, all clear"}}) {
    EXPECT_EQ(CVNAudioUtilities::stringFromAsbdFlags(row.flags), row.text) << row.flags;
  }
}

TEST(CVNAudioUtilitiesTest, DescriptionTextAndComparison) {
  pm::AudioStreamBasicDescription format{48000.0, pm::kAudioFormatLinearPCM, 9, 8, 1, 8, 2, 32, 0};
  EXPECT_EQ(CVNAudioUtilities::stringFromAudioStreamBasicDescription(format),
            " 2 ch, 48000.000000 Hz, 'lpcm' (0x9) 32 bits float, packed");

  struct Row {
    double otherRate;
    std::uint32_t otherChannels;
    bool equal;
  };
  for (const Row& row : {Row{48000.00000001, 2, true}, Row{44100.0, 2, false}, Row{48000.0, 1, false}}) {
    pm::AudioStreamBasicDescription other = format;
    other.sampleRate = row.otherRate;
    other.channelsPerFrame = row.otherChannels;
    EXPECT_EQ(CVNAudioUtilities::isAsbd(format, other), row.equal) << row.otherRate << " " << row.otherChannels;
  }
}

}  // namespace
}  // namespace media
