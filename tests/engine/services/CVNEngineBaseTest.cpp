// CVNEngineBase's class services against files made with ffmpeg at test time:
// the media information dictionary against ffprobe, the reasons of files no
// reader opens, thumbnails through the work queue, the device lists and the
// texts of clip end behaviours.

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "engine/CVNEngineBase.h"
#include "engine/services/MediaInformation.h"
#include "media/readers/StandardAssetReaders.h"
#include "platform/UserDefaults.h"
#include "tests/control/support/CapturedTechnicalLog.h"
#include "tests/media/FilesOfEachKind.h"
#include "tests/support/MediaFixtures.h"
#include "tests/support/RunLoopWait.h"
#include "tests/support/TemporaryDirectory.h"

namespace {

using engine::CVNEngineBase;
using media::MediaURL;
using testing_support::shellQuoted;

class CVNEngineBaseTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { media::registerStandardAssetReaders(); }

  // The dictionary a load hands to its completion, which must come on the main queue.
  std::optional<platform::Dictionary> loadInfo(const MediaURL& url) {
    std::optional<platform::Dictionary> info;
    bool onMain = false;
    CVNEngineBase::loadInfoDictionaryForURL(url, [&](const platform::Dictionary& answer) {
      onMain = platform::DispatchQueue::main().isCurrent();
      info = answer;
    });
    EXPECT_TRUE(testing_support::runMainLoopUntil([&] { return info.has_value(); }, "the information"));
    EXPECT_TRUE(onMain);
    return info;
  }

  std::string probe(const std::filesystem::path& file, const std::string& entries) {
    return testing_support::commandOutput("ffprobe -v error " + entries + " -of default=nw=1:nk=1 " +
                                          shellQuoted(file));
  }

  testing_support::TemporaryDirectory folder_;
  platform::UserDefaults defaults_{folder_.path() / "defaults.plist"};
  testing_support::CapturedTechnicalLog log_{defaults_};
};

TEST_F(CVNEngineBaseTest, TheInformationOfAMovieMatchesFFprobe) {
  const auto file = folder_.path() / "interlaced.mov";
  ASSERT_TRUE(testing_support::runCommand(
      "ffmpeg -v error -y -f lavfi -i testsrc=size=352x288:rate=25 -f lavfi -i sine=r=48000 -t 2 -map 0:v -map 1:a "
      "-map 1:a -c:v mpeg2video -flags +ilme+ildct -top 1 -c:a pcm_s16le -timecode 10:00:00:00 " +
      shellQuoted(file)));
  const auto info = loadInfo(MediaURL::fileURLWithPath(file));
  ASSERT_TRUE(info);
  const platform::Value item(*info);
  ASSERT_TRUE(item[engine::kItemIsValidMediaFileKey].booleanOr(false)) << item.describe();
  EXPECT_EQ(item[engine::kItemURLKey].stringOr(""), file.string());
  EXPECT_NEAR(item[engine::kItemDurationKey].realOr(0), std::stod(probe(file, "-show_entries format=duration")), 0.05);
  EXPECT_NEAR(item[engine::kItemFrameRateKey].realOr(0), 25.0, 1e-6);
  EXPECT_EQ(probe(file, "-select_streams v -show_entries stream=field_order"), "tt\n");
  EXPECT_EQ(item[engine::kItemFieldOrderKey].integerOr(-1), 2) << "top field first";
  EXPECT_EQ(item[engine::kItemMediaFileDisplayWidthKey].realOr(0), 352);
  EXPECT_EQ(item[engine::kItemMediaFileDisplayHeightKey].realOr(0), 288);
  EXPECT_EQ(item[engine::kItemNumberOfAudioStreamsKey].integerOr(0), 2);
  EXPECT_TRUE(item.contains(engine::kItemAudioCodecKey));
  EXPECT_TRUE(item.contains(engine::kItemVideoCodecKey));
  EXPECT_FALSE(item[engine::kItemIsStillImageKey].booleanOr(true));
  EXPECT_FALSE(item[engine::kItemIsSoundOnlyKey].booleanOr(true));
  EXPECT_FALSE(item.contains(engine::kItemIsStreamedKey));
  EXPECT_EQ(item[engine::kItemTimeCodeFirstTimeCodeKey].stringOr(""), "10:00:00:00");
  EXPECT_EQ(item[engine::kItemTimeCodeFramePerSecondKey].integerOr(0), 25);
  EXPECT_FALSE(item[engine::kItemTimeCodeIsDropFrameKey].booleanOr(true));
  EXPECT_TRUE(item.contains(engine::kItemMediaFileLastModificationDateKey));
}

TEST_F(CVNEngineBaseTest, StillsAndSoundsSayWhatTheyAre) {
  testing_support::FilesOfEachKind files;
  ASSERT_TRUE(files.made());
  const auto still = loadInfo(MediaURL::fileURLWithPath(files.still));
  const auto sound = loadInfo(MediaURL::fileURLWithPath(files.sound));
  ASSERT_TRUE(still && sound);
  EXPECT_TRUE(platform::Value(*still)[engine::kItemIsStillImageKey].booleanOr(false));
  EXPECT_TRUE(platform::Value(*sound)[engine::kItemIsSoundOnlyKey].booleanOr(false));
  EXPECT_EQ(platform::Value(*sound)[engine::kItemNumberOfAudioStreamsKey].integerOr(0), 1);
}

TEST_F(CVNEngineBaseTest, URLsNoReaderOpensGiveTheirReason) {
  testing_support::FilesOfEachKind files;
  const struct {
    MediaURL url;
    std::int32_t reason;
  } rows[] = {
      {MediaURL::fileURLWithPath(folder_.path() / "missing.mov"), media::kValidationReasonFileNotFound},
      {MediaURL::fileURLWithPath(files.text), media::kValidationReasonFormatNotSupported},
      {MediaURL::URLWithString("gopher://127.0.0.1/clip"), media::kValidationReasonURLNotSupported},
  };
  for (const auto& row : rows) {
    const auto info = loadInfo(row.url);
    ASSERT_TRUE(info) << row.url.absoluteString();
    const platform::Value item(*info);
    EXPECT_FALSE(item[engine::kItemIsValidMediaFileKey].booleanOr(true)) << row.url.absoluteString();
    EXPECT_EQ(item[engine::kItemValidationErrorKey].integerOr(0), row.reason) << row.url.absoluteString();
  }
}

TEST_F(CVNEngineBaseTest, ThumbnailsAnswerOnTheMainQueueAndFailuresFreeTheirSlots) {
  testing_support::FilesOfEachKind files;
  ASSERT_TRUE(files.made());
  struct Answer {
    bool called = false;
    bool onMain = false;
    media::ThumbnailDataRef data;
    std::int64_t bytesPerRow = -1;
  };
  // More failing jobs than slots: each must give its slot back.
  std::vector<Answer> answers(6);
  for (std::size_t i = 0; i < answers.size(); ++i) {
    const auto path = i == 0 ? files.movie : folder_.path() / ("missing" + std::to_string(i) + ".mov");
    CVNEngineBase::thumbnailForURL(MediaURL::fileURLWithPath(path), {32, 24}, 0.1, false,
                                   [&answer = answers[i]](media::ThumbnailDataRef data, std::int64_t bytesPerRow) {
                                     answer = {true, platform::DispatchQueue::main().isCurrent(), std::move(data),
                                               bytesPerRow};
                                   });
  }
  ASSERT_TRUE(testing_support::runMainLoopUntil(
      [&] { return std::all_of(answers.begin(), answers.end(), [](const Answer& a) { return a.called; }); },
      "every thumbnail"));
  ASSERT_TRUE(answers[0].data);
  EXPECT_EQ(answers[0].data->bytes()[0], 0xFF) << "a JPEG";
  EXPECT_EQ(answers[0].bytesPerRow, 0);
  for (const auto& answer : answers) EXPECT_TRUE(answer.onMain);
  for (std::size_t i = 1; i < answers.size(); ++i) {
    EXPECT_EQ(answers[i].data, nullptr);
    EXPECT_EQ(answers[i].bytesPerRow, 0);
  }
  // The synchronous form makes the same kind of picture.
  const auto picture = CVNEngineBase::thumbnailForURL(MediaURL::fileURLWithPath(files.movie), {32, 24}, 0.1, false);
  ASSERT_TRUE(picture);
  EXPECT_EQ(picture->bytes()[1], 0xD8);
  EXPECT_EQ(CVNEngineBase::thumbnailForURL(MediaURL::fileURLWithPath(files.text), {32, 24}, 0, false), nullptr);
}

TEST_F(CVNEngineBaseTest, DeviceOutputsLeaveTheVirtualOutputOut) {
  const auto devices = pluginframework::CVNDeviceController::sharedDeviceController();
  devices->loadPluginsFromFolder(VZ_PLUGINS);
  ASSERT_TRUE(devices->createVirtualOutputWithName("Virtual Output", pluginframework::kHiddenVirtualOutputUniqueID, true));
  ASSERT_TRUE(devices->createVirtualOutputWithName("Program", "Program", true));
  const auto names = [](const pluginframework::OutputList& outputs) {
    std::vector<std::string> ids;
    for (const auto& output : outputs) ids.push_back(output->uniqueID());
    std::sort(ids.begin(), ids.end());
    return ids;
  };
  EXPECT_EQ(names(CVNEngineBase::availableOutputs()), (std::vector<std::string>{"Program", "Virtual Output"}));
  EXPECT_EQ(names(CVNEngineBase::availableDeviceOutputs()), std::vector<std::string>{"Program"});
  EXPECT_EQ(CVNEngineBase::inputWithName("none"), nullptr);
  pluginframework::CVNDeviceController::quit();
}

TEST_F(CVNEngineBaseTest, ClipEndBehavioursHaveNamesAndOthersALogLine) {
  const char* names[] = {"Normal", "Stop", "Hold", "Chain", "Loop", "Color", "Image", "Cue Next"};
  for (std::int32_t value = 0; value < 8; ++value) {
    EXPECT_EQ(CVNEngineBase::stringFromClipEndBehaviour(value), std::optional<std::string>(names[value])) << value;
  }
  for (const std::int32_t value : {8, -1}) {
    EXPECT_EQ(CVNEngineBase::stringFromClipEndBehaviour(value), std::nullopt) << value;
    EXPECT_EQ(log_.linesWith("Missing string for clip End Behaviour " + std::to_string(value)), 1u) << value;
  }
}

TEST_F(CVNEngineBaseTest, OverlayLogosMustBeImagesThatLoad) {
  testing_support::FilesOfEachKind files;
  ASSERT_TRUE(files.made());
  const auto fake = folder_.path() / "fake.png";
  std::filesystem::copy_file(files.text, fake);
  EXPECT_TRUE(CVNEngineBase::isValidOverlayLogoFileAtURL(MediaURL::fileURLWithPath(files.still)));
  EXPECT_FALSE(CVNEngineBase::isValidOverlayLogoFileAtURL(MediaURL::fileURLWithPath(files.movie)));
  EXPECT_FALSE(CVNEngineBase::isValidOverlayLogoFileAtURL(MediaURL::fileURLWithPath(fake)));
}

}  // namespace
