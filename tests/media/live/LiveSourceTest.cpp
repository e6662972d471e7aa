#include "media/live/CVNZiraSource.h"

#include <gtest/gtest.h>

#include "captions/CVNVANCPacket.h"
#include "media/live/CVNZiraInputSession.h"
#include "media/live/CVNZiraSourceController.h"
#include "platform/Clock.h"
#include "platform/DispatchQueue.h"
#include "platform/NotificationCenter.h"
#include "platform/UserDefaults.h"
#include "platform/media/BlockBuffer.h"
#include "platform/media/FormatDescription.h"
#include "tests/control/support/CapturedTechnicalLog.h"
#include "tests/media/live/LiveFakes.h"
#include "tests/support/CapturedDiagnostics.h"
#include "tests/support/RunLoopWait.h"
#include "tests/support/TemporaryDirectory.h"

namespace media {
namespace {

namespace pm = platform::media;

class LiveSourceTest : public ::testing::Test {
 protected:
  std::shared_ptr<testing::ScriptedInput> input(const std::string& name, const std::string& id) {
    auto made = std::make_shared<testing::ScriptedInput>(name, id);
    made->setSelectedDisplayMode(std::make_shared<pluginframework::CVNDisplayMode>(
        "1080p25", 1, 25, 1920, 1080, pluginframework::FieldDominance::Progressive));
    return made;
  }

  testing_support::TemporaryDirectory folder_;
  platform::UserDefaults defaults_{folder_.path() / "defaults.plist"};
  testing_support::CapturedTechnicalLog log_{defaults_};
};

TEST_F(LiveSourceTest, DictionaryFormKeepsOnlyValuesOfTheRightKind) {
  const struct {
    platform::Dictionary dictionary;
    bool enabled;
    std::optional<std::string> logo;
  } rows[] = {
      {{{"enabled", platform::Value("yes")}, {"DeviceType", platform::Value(9)}}, false, "Source_NDI"},
      {{{"enabled", platform::Value(true)}, {"DeviceType", platform::Value(8)}}, true, std::nullopt},
      {{{"DeviceType", platform::Value("1")}}, false, "Source_ZRXV"},
  };
  for (const auto& row : rows) {
    auto source = CVNZiraSource::createWithDictionary(row.dictionary);
    EXPECT_EQ(source->isEnabled(), row.enabled);
    EXPECT_EQ(source->inputDeviceLogoImage(), row.logo);
  }
  const platform::Dictionary full = {{"displayName", platform::Value("Studio")},
                                     {"inputUniqueID", platform::Value("card-1")},
                                     {"inputDisplayName", platform::Value("Card 1")},
                                     {"DeviceType", platform::Value(1)},
                                     {"enabled", platform::Value(false)},
                                     {"shouldProcessVANCTriggers", platform::Value(true)},
                                     {"inputSettings", platform::Value(platform::Dictionary{
                                                           {"displayModeName", platform::Value("1080i50")}})},
                                     {"connectionDescription", platform::Value("SDI 1")}};
  auto source = CVNZiraSource::createWithDictionary(full);
  EXPECT_EQ(source->dictionaryRepresentation(), full);
  source->updateInputDescription();
  EXPECT_EQ(source->inputDescription(), "Card 1 (1080i50) <Missing>");
  EXPECT_EQ(source->JSONDictionary(),
            (platform::Dictionary{{"display_name", platform::Value("Studio")},
                                  {"input_description", platform::Value("Card 1 (1080i50) <Missing>")}}));
  EXPECT_EQ(CVNZiraSource::stringFromValidationErrorReason(14), "Vovi capture not started");
  EXPECT_EQ(CVNZiraSource::stringFromValidationErrorReason(16), std::nullopt);
}

TEST_F(LiveSourceTest, ConnectionChangesAlertOnlyAfterAFirstConnectionWasSeen) {
  testing_support::CapturedDiagnostics diagnostics;
  CVNZiraSourceController registry({&defaults_, nullptr, nullptr});
  auto source = std::make_shared<CVNZiraSource>();
  source->setDisplayName("Studio");
  registry.insertZiraSources({source}, 0);
  auto card = input("Card 1", "card-1");
  source->setInput(card);
  source->setIsEnabled(true);
  EXPECT_TRUE(card->isRunning());

  card->connectionDescription().set("SDI 1");
  ASSERT_TRUE(testing_support::runMainLoopUntil([&] { return source->lastKnownConnectionDescription() == "SDI 1"; }));
  EXPECT_EQ(diagnostics.count("!!!!! starting alert runModal"), 0u);
  card->connectionDescription().set("SDI 2");
  ASSERT_TRUE(testing_support::runMainLoopUntil([&] { return source->lastKnownConnectionDescription() == "SDI 2"; }));
  EXPECT_EQ(diagnostics.count("!!!!! starting alert runModal \"Card 1: SDI 2"), 1u);
  const auto saved = defaults_.objectForKey(kZiraSourcesDefaultsKey);
  ASSERT_NE(saved.array(), nullptr);
  EXPECT_EQ((*saved.array())[0]["connectionDescription"], platform::Value("SDI 2"));

  // Another input forgets the last connection, so its first one shows no alert.
  source->setInput(input("Card 2", "card-2"));
  EXPECT_EQ(source->lastKnownConnectionDescription(), "");
  EXPECT_FALSE(card->isRunning());
  registry.removeZiraSources(0, 1);
  EXPECT_FALSE(source->isEnabled());
  EXPECT_FALSE(source->input()->isRunning());
}

TEST_F(LiveSourceTest, SCTEPacketsAreAnnouncedOnlyWhenTriggersAreOn) {
  const std::vector<captions::VANCPacketRef> packets = {
      std::make_shared<captions::CVNVANCPacket>(9, 0x41, 0x07, std::vector<std::uint8_t>{1, 2}),
      std::make_shared<captions::CVNVANCPacket>(10, 0x41, 0x07, std::vector<std::uint8_t>{3}),
      std::make_shared<captions::CVNVANCPacket>(11, 0x61, 0x01, std::vector<std::uint8_t>{4})};
  const auto element = captions::CVNVANCPacket::MXFDataPacketWithVANCPackets(packets);
  pluginframework::CVNInputFrame frame;
  frame.video = testing::videoFrame(0, 1, 25);
  pm::SampleBuffer::createReady(pm::BlockBuffer::createWithCopy(element),
                                pm::FormatDescription::create(pm::fourCC("meta"), captions::kVANCBufferFormatSMPTE436M),
                                1, {}, {element.size()}, &frame.vanc);
  for (const auto& [triggers, expected] : {std::pair{true, 2u}, {false, 0u}}) {
    auto source = std::make_shared<CVNZiraSource>();
    source->setShouldProcessVANCTriggers(triggers);
    std::atomic<unsigned> posted{0};
    auto token = platform::NotificationCenter::defaultCenter().addObserver(
        kZiraSourceDidReceiveSCTEPacketNotification, source.get(), [&](const platform::Notification&) { ++posted; });
    source->inputDidProduceFrame(frame);
    EXPECT_EQ(posted.load(), expected) << triggers;
  }
}

TEST_F(LiveSourceTest, InputLogsAreMutedWhileNoSessionPlaysTheSource) {
  auto source = std::make_shared<CVNZiraSource>();
  auto card = input("Card 1", "card-1");
  source->setInput(card);
  EXPECT_TRUE(card->ignoringLogs());
  auto queue = std::make_shared<platform::SerialQueue>("test.live");
  auto delegate = std::make_shared<testing::CountingDelegate>();
  auto first = CVNZiraInputSession::create(source, delegate, queue);
  auto second = CVNZiraInputSession::create(source, delegate, queue);
  first->startBuffering();
  EXPECT_FALSE(card->ignoringLogs());
  second->startBuffering();
  first->discard();
  EXPECT_FALSE(card->ignoringLogs());
  second.reset();  // a session let go without discard detaches too
  EXPECT_TRUE(card->ignoringLogs());
  EXPECT_EQ(log_.linesWith("New session added (count: 2)"), 1u);
}

TEST_F(LiveSourceTest, RegistryLoadsFromTheDefaultsAndFindsSources) {
  platform::Array stored;
  for (const char* name : {"A", "B"}) {
    stored.emplace_back(platform::Dictionary{{"displayName", platform::Value(name)},
                                             {"inputUniqueID", platform::Value("card-1")},
                                             {"enabled", platform::Value(std::string(name) == "B")}});
  }
  stored.emplace_back("not a dictionary");
  defaults_.setObject(platform::Value(stored), kZiraSourcesDefaultsKey);
  CVNZiraSourceController registry({&defaults_, nullptr, nullptr});
  ASSERT_EQ(registry.ziraSources().size(), 2u);
  EXPECT_EQ(registry.sourceWithName("B")->displayName(), "B");
  EXPECT_EQ(registry.sourceWithName("C"), nullptr);
  EXPECT_EQ(registry.sourcesWithInputUniqueID("card-1").size(), 2u);
  EXPECT_EQ(registry.firstEnabledSourceWithInputUniqueID("card-1", nullptr)->displayName(), "B");
  EXPECT_EQ(registry.firstEnabledSourceWithInputUniqueID("card-1", registry.sourceWithName("B").get()), nullptr);
}

}  // namespace
}  // namespace media
