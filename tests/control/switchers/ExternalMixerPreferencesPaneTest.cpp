// The external mixer pane's decisions with stand-in switcher states: the
// status image and progress by brand, connection and trigger default, and the
// source menus from the ATEM switcher's external inputs only.

#include <gtest/gtest.h>

#include "control/switchers/ExternalMixerPreferencesPane.h"
#include "tests/support/TemporaryDirectory.h"

namespace control {
namespace {

class RecordingOutlets : public ExternalMixerPreferencesOutlets {
 public:
  void showStatusImage(const std::string& name, bool visible) override {
    image = name;
    imageVisible = visible;
  }
  void showProgress(bool isAnimating, bool visible) override {
    animating = isAnimating;
    progressVisible = visible;
  }
  void setSourceMenuItems(const std::vector<ExternalMixerSourceItem>& newItems) override {
    items = newItems;
    ++menuFills;
  }
  std::string image;
  bool imageVisible = false;
  bool animating = false;
  bool progressVisible = false;
  std::vector<ExternalMixerSourceItem> items;
  int menuFills = 0;
};

class ExternalMixerPreferencesPaneTest : public ::testing::Test {
 protected:
  ExternalMixerPreferencesPaneTest() {
    atemInputs_.set({ATEMInput("Camera 1", atem::kPortTypeExternal, 1), ATEMInput("Bars", atem::fourCharCode("blck"), 1000),
                     ATEMInput("Player", atem::fourCharCode("mpst"), 3010), ATEMInput("Aux", atem::kPortTypeAuxOutput, 8001),
                     ATEMInput("Clips", atem::kPortTypeExternal, 2)});
  }
  ExternalMixerPreferencesPane& makePane() {
    pane_ = std::make_unique<ExternalMixerPreferencesPane>(
        defaults_, ExternalMixerSwitchers{atemConnected_, atemConnecting_, atemInputs_, triCasterConnected_,
                                          triCasterConnecting_},
        outlets_);
    pane_->viewDidLoad();
    return *pane_;
  }
  void set(const char* key, platform::Value value) { defaults_.setObject(std::move(value), key); }

  testing_support::TemporaryDirectory folder_;
  platform::UserDefaults defaults_{folder_ / "defaults.plist"};
  platform::Observable<bool> atemConnected_{false};
  platform::Observable<bool> atemConnecting_{false};
  platform::Observable<std::vector<ATEMInput>> atemInputs_;
  platform::Observable<bool> triCasterConnected_{false};
  platform::Observable<bool> triCasterConnecting_{false};
  RecordingOutlets outlets_;
  std::unique_ptr<ExternalMixerPreferencesPane> pane_;
};

TEST_F(ExternalMixerPreferencesPaneTest, TheStatusFollowsTheChosenSwitcherWhileTheTriggerIsOn) {
  set(kExternalMixerPaneTriggerKey, platform::Value(true));
  atemConnected_.set(true);
  triCasterConnecting_.set(true);
  ExternalMixerPreferencesPane& pane = makePane();
  // No brand: "Red", whatever the controllers say.
  EXPECT_EQ(outlets_.image, "Red");
  EXPECT_TRUE(outlets_.imageVisible);
  EXPECT_FALSE(outlets_.progressVisible);
  EXPECT_TRUE(outlets_.items.empty());

  set(kExternalMixerPaneBrandKey, platform::Value("ATEM"));
  EXPECT_EQ(outlets_.image, "Green");
  EXPECT_EQ(pane.externalMixerBrand(), std::optional<std::string>("ATEM"));
  atemConnected_.set(false);
  EXPECT_EQ(outlets_.image, "Red");

  set(kExternalMixerPaneBrandKey, platform::Value("TriCaster"));
  EXPECT_TRUE(outlets_.animating);
  EXPECT_TRUE(outlets_.progressVisible);
  EXPECT_FALSE(outlets_.imageVisible);
  triCasterConnecting_.set(false);
  triCasterConnected_.set(true);
  EXPECT_EQ(outlets_.image, "Green");
  EXPECT_FALSE(outlets_.progressVisible);
  EXPECT_FALSE(outlets_.animating);

  // Trigger off: neither control shows, connecting or not.
  set(kExternalMixerPaneTriggerKey, platform::Value(false));
  triCasterConnecting_.set(true);
  EXPECT_FALSE(outlets_.progressVisible);
  EXPECT_TRUE(outlets_.animating);
  EXPECT_FALSE(outlets_.imageVisible);
  EXPECT_FALSE(pane.useExternalMixerToTriggerPlayback());
}

TEST_F(ExternalMixerPreferencesPaneTest, TheMenusListOnlyTheATEMSwitchersExternalInputs) {
  set(kExternalMixerPaneBrandKey, platform::Value("ATEM"));
  makePane();
  const std::vector<ExternalMixerSourceItem> external = {{"Camera 1", 1}, {"Clips", 2}};
  EXPECT_EQ(outlets_.items, external);
  atemInputs_.set({ATEMInput("Camera 2", atem::kPortTypeExternal, 7)});
  EXPECT_EQ(outlets_.items, (std::vector<ExternalMixerSourceItem>{{"Camera 2", 7}}));
  set(kExternalMixerPaneBrandKey, platform::Value("TriCaster"));
  EXPECT_TRUE(outlets_.items.empty());
  // A default set to the value the pane already holds changes nothing.
  const int fills = outlets_.menuFills;
  set(kExternalMixerPaneBrandKey, platform::Value("TriCaster"));
  set(kExternalMixerPaneSourceAKey, platform::Value("7"));
  EXPECT_EQ(outlets_.menuFills, fills + 1);
  EXPECT_EQ(pane_->externalMixerVideoSourceAIdentifier(), std::optional<std::string>("7"));
}

}  // namespace
}  // namespace control
