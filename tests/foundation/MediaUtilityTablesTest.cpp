// Status names, codec names, audio format records and system facts.

#include <gtest/gtest.h>

#include <limits>

#include "foundation/CVNAudioUtility.h"
#include "foundation/CVNIOLibUtilities.h"
#include "foundation/CVNSystemUtilities.h"
#include "foundation/CodecTypeDescription.h"

namespace foundation {
namespace {

TEST(MediaUtilityStatus, PlaybackStatusNamesRoundTrip) {
  const char* names[] = {"Stopped", "Waiting", "Playing", "Paused", "Holding Last Frame", "Holding First Frame",
                         "Stopping"};
  for (std::size_t status = 0; status < std::size(names); ++status) {
    EXPECT_EQ(CVNIOLibUtilities::stringFromPlaybackStatus(status), names[status]);
    EXPECT_EQ(CVNIOLibUtilities::playbackStatusFromString(names[status]), status);
  }
  EXPECT_EQ(CVNIOLibUtilities::stringFromPlaybackStatus(7), "Missing description for Playback status: 7");
  EXPECT_EQ(CVNIOLibUtilities::playbackStatusFromString("playing"), 0u);
  EXPECT_EQ(CVNIOLibUtilities::playbackStatusFromString("Missing description for Playback status: 7"), 0u);
}

TEST(MediaUtilityStatus, LoadingStatusAndCombinedNames) {
  EXPECT_EQ(CVNIOLibUtilities::stringFromLoadingStatus(0), "");
  EXPECT_EQ(CVNIOLibUtilities::stringFromLoadingStatus(1), "Loading");
  EXPECT_EQ(CVNIOLibUtilities::stringFromLoadingStatus(2), "Loaded");
  EXPECT_EQ(CVNIOLibUtilities::stringFromLoadingStatus(3), "");
  EXPECT_EQ(CVNIOLibUtilities::loadingStatusFromString("Loaded"), 2u);
  EXPECT_EQ(CVNIOLibUtilities::loadingStatusFromString("Loading"), 1u);
  EXPECT_EQ(CVNIOLibUtilities::loadingStatusFromString("loaded"), 0u);

  struct Case {
    std::size_t playback;
    std::size_t loading;
    const char* name;
  };
  const Case cases[] = {
      {0, 0, ""},        {0, 1, "Loading"}, {0, 2, "Stopped"},
      {2, 1, "Playing"}, {3, 0, "Paused"},  {9, 2, "Missing description for Playback status: 9"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CVNIOLibUtilities::stringFromPlaybackStatus(c.playback, c.loading), c.name)
        << "playback " << c.playback << ", loading " << c.loading;
  }
}

TEST(MediaUtilityStatus, IndexSetsAndItemAttributeTypes) {
  EXPECT_TRUE(CVNIOLibUtilities::numbersArrayFromIndexSet({}).empty());
  EXPECT_EQ(CVNIOLibUtilities::numbersArrayFromIndexSet({7, 2, 40}),
            (platform::Array{platform::Value(2), platform::Value(7), platform::Value(40)}));

  const std::pair<const char*, unsigned> types[] = {
      {"textField", 2},
      {"ticker", 2},
      {"image", 3},
      {"imageSequence", 3},
      {"watchFolderTicker", 3},
      {"analogClock", 3},
      {"sound", 3},
      {"movie", 3},
      {"shape", 0},
      {"Movie", 0},
      {"", 0},
  };
  for (const auto& [type, attributeType] : types) {
    EXPECT_EQ(CVNIOLibUtilities::attributeTypeForCGItemType(type), attributeType) << type;
  }
}

TEST(MediaUtilityStatus, JSONDatesAreGMTWithNumericOffset) {
  using namespace std::chrono;
  const CVNIOLibUtilities::TimePoint reference = sys_days{year{2001} / 1 / 1};
  EXPECT_EQ(CVNIOLibUtilities::JSONStringWithDate(reference), "2001-01-01T00:00:00+0000");
  EXPECT_EQ(CVNIOLibUtilities::JSONStringWithDate(reference + hours{13} + minutes{5} + milliseconds{999}),
            "2001-01-01T13:05:00+0000");

  EXPECT_EQ(CVNIOLibUtilities::dateWithJSONString("2001-01-01T00:00:00+0000"), reference);
  EXPECT_EQ(CVNIOLibUtilities::dateWithJSONString("2001-01-01T02:00:00+0200"), reference);
  EXPECT_FALSE(CVNIOLibUtilities::dateWithJSONString("2001-01-01"));
  EXPECT_FALSE(CVNIOLibUtilities::dateWithJSONString("yesterday"));
  EXPECT_EQ(&CVNIOLibUtilities::JSONDateFormatter(), &CVNIOLibUtilities::JSONDateFormatter());
}

std::int32_t code(const char* chars) { return static_cast<std::int32_t>(fourCharCode(chars)); }

TEST(MediaUtilityCodecs, NamesVideoAndAudioCodes) {
  const std::pair<const char*, const char*> video[] = {
      {"2vuy", "YUV 8 bits"},
      {"avc1", "H.264"},
      {"hdv3", "HVD 1080i50"},
      {"xd5c", "XDCAM HD422 1080i50 (50Mb/s CBR)"},
      {"xdvf", "XDCAM EX 1080p30 (35Mb/s VBR)"},
      {"dvh4", "dvh4"},  // not in the table
      {"abcd", "abcd"},
  };
  for (const auto& [chars, name] : video) {
    EXPECT_EQ(CodecTypeDescription::videoCodecTypeDescriptionWith(code(chars)), name) << chars;
  }
  const std::pair<const char*, const char*> audio[] = {
      {".mp2", "MP2"}, {"aac ", "AAC"}, {"lpcm", "PCM"}, {"ulaw", "\u00b5Law"}, {"avc1", "avc1"},
  };
  for (const auto& [chars, name] : audio) {
    EXPECT_EQ(CodecTypeDescription::audioCodecTypeDescriptionWith(code(chars)), name) << chars;
  }
}

TEST(MediaUtilityCodecs, FourCharactersOfAnyCode) {
  EXPECT_EQ(CodecTypeDescription::codecTypeDescriptionWith(fourCharCode("tmcd")), "tmcd");
  // Negative as a signed number: the top byte 0xA9 is read as Latin-1.
  EXPECT_EQ(CodecTypeDescription::videoCodecTypeDescriptionWith(static_cast<std::int32_t>(0xA9786666u)), "\u00a9xff");
}

TEST(MediaUtilityCodecs, ImageAndSoundFormatCodes) {
  for (const char* image : {"bmp ", "gif ", "img ", "jpeg", "png ", "tiff"}) {
    EXPECT_TRUE(CodecTypeDescription::isImageFormatDescription(code(image))) << image;
  }
  for (const char* sound : {".mp2", ".mp3", "aac ", "alac", "alaw", "flac", "lpcm", "ulaw"}) {
    EXPECT_TRUE(CodecTypeDescription::isSoundFileFormatDescription(code(sound))) << sound;
  }
  EXPECT_FALSE(CodecTypeDescription::isImageFormatDescription(code("avc1")));
  EXPECT_FALSE(CodecTypeDescription::isSoundFileFormatDescription(code("jpeg")));
}

AudioStreamBasicDescription pcmStereo(double sampleRate) {
  AudioStreamBasicDescription format;
  format.sampleRate = sampleRate;
  format.formatID = fourCharCode("lpcm");
  format.formatFlags = 9;
  format.bytesPerPacket = 8;
  format.framesPerPacket = 1;
  format.bytesPerFrame = 8;
  format.channelsPerFrame = 2;
  format.bitsPerChannel = 32;
  return format;
}

TEST(MediaUtilityAudio, FormatsCompareEveryFieldButReserved) {
  AudioStreamBasicDescription other = pcmStereo(48000);
  other.reserved = 5;
  EXPECT_TRUE(CVNAudioUtility::isAudioFormat(pcmStereo(48000), other));
  other.channelsPerFrame = 1;
  EXPECT_FALSE(CVNAudioUtility::isAudioFormat(pcmStereo(48000), other));
  EXPECT_FALSE(CVNAudioUtility::isAudioFormat(pcmStereo(48000), pcmStereo(44100)));
}

TEST(MediaUtilityAudio, DictionaryFormRoundTripsAtSinglePrecision) {
  const platform::Dictionary dictionary = CVNAudioUtility::dictionaryFromAudioStreamBasicDescription(pcmStereo(48000));
  EXPECT_EQ(dictionary.size(), 8u);
  EXPECT_EQ(dictionary.at("SampleRate"), platform::Value(48000.0));
  EXPECT_EQ(dictionary.at("AudioFormatID"), platform::Value(std::int64_t{fourCharCode("lpcm")}));
  EXPECT_TRUE(CVNAudioUtility::isAudioFormat(CVNAudioUtility::audioStreamBasicDescriptionFromDictionary(dictionary),
                                             pcmStereo(48000)));

  const AudioStreamBasicDescription rounded = CVNAudioUtility::audioStreamBasicDescriptionFromDictionary(
      CVNAudioUtility::dictionaryFromAudioStreamBasicDescription(pcmStereo(44100.1)));
  EXPECT_EQ(rounded.sampleRate, static_cast<double>(44100.1f));

  platform::Dictionary partial;
  partial["ChannelsPerFrame"] = platform::Value(6);
  partial["BitsPerChannel"] = platform::Value("24");  // not a number
  const AudioStreamBasicDescription read = CVNAudioUtility::audioStreamBasicDescriptionFromDictionary(partial);
  EXPECT_EQ(read.channelsPerFrame, 6u);
  EXPECT_EQ(read.bitsPerChannel, 0u);
  EXPECT_EQ(read.sampleRate, 0.0);
}

TEST(MediaUtilityAudio, SampleOffsetsFollowTheFrameCadence) {
  EXPECT_EQ(CVNAudioUtility::audioSampleOffsetForFrameNumber(1, 48000, 29.97), 1601u);
  const std::uint32_t ntscCadence[] = {1601, 1602, 1601, 1602, 1602};
  for (std::int32_t frame = 0; frame < 5; ++frame) {
    EXPECT_EQ(CVNAudioUtility::audioSamplesCountForFrameNumber(frame, 48000, 29.97), ntscCadence[frame])
        << "frame " << frame;
  }
  EXPECT_EQ(CVNAudioUtility::audioSamplesCountForFrameNumber(100, 48000, 25.0), 1920u);
  const std::int32_t last = std::numeric_limits<std::int32_t>::max();
  EXPECT_EQ(CVNAudioUtility::audioSampleOffsetForFrameNumber(last, 48000, 25.0), 4123168602240u);
  EXPECT_EQ(CVNAudioUtility::audioSamplesCountForFrameNumber(last, 48000, 25.0), 1920u);
}

TEST(MediaUtilityAudio, OffsetsOutsideTheUnsignedRangeClamp) {
  EXPECT_EQ(CVNAudioUtility::audioSampleOffsetForFrameNumber(-1, 48000, 25.0), 0u);
  EXPECT_EQ(CVNAudioUtility::audioSampleOffsetForFrameNumber(0, 48000, 0.0), 0u);  // 0/0
  EXPECT_EQ(CVNAudioUtility::audioSampleOffsetForFrameNumber(1, 48000, 0.0), std::numeric_limits<std::uint64_t>::max());
}

TEST(MediaUtilitySystem, RecognisesArmMachineNames) {
  const std::pair<const char*, bool> names[] = {
      {"x86_64", false}, {"i686", false}, {"", false}, {"arm64", true}, {"armv7l", true}, {"aarch64", true},
  };
  for (const auto& [name, isArm] : names) EXPECT_EQ(CVNSystemUtilities::isARMMachineName(name), isArm) << name;
  EXPECT_FALSE(CVNSystemUtilities::isRunningRosetta());
}

}  // namespace
}  // namespace foundation
