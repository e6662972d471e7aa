// The external mixer pane's Qt view on the offscreen platform with stand-in
// switcher states: the controls it draws and the defaults its controls set.
// With VZ_SHOW_PANE_SECONDS set, the pane also stays on screen that long
// (for looking at it under a real X server).

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QProgressBar>

#include "control/views/ExternalMixerPreferencesViewController.h"
#include "tests/app/views/QtTestApplication.h"
#include "tests/support/TemporaryDirectory.h"

namespace control {
namespace {

class ExternalMixerPreferencesViewControllerTest : public ::testing::Test {
 protected:
  ExternalMixerPreferencesViewControllerTest() {
    testing_support::qtTestApplication();
    atemInputs_.set({ATEMInput("Camera 1", atem::kPortTypeExternal, 1), ATEMInput("Bars", atem::fourCharCode("blck"), 1000),
                     ATEMInput("Clips", atem::kPortTypeExternal, 2)});
    defaults_.setObject(platform::Value(true), kExternalMixerPaneTriggerKey);
    defaults_.setObject(platform::Value("ATEM"), kExternalMixerPaneBrandKey);
    defaults_.setObject(platform::Value("2"), kExternalMixerPaneSourceBKey);
    controller_ = std::make_unique<ExternalMixerPreferencesViewController>(
        defaults_, ExternalMixerSwitchers{atemConnected_, atemConnecting_, atemInputs_, triCasterConnected_,
                                          triCasterConnecting_});
    controller_->view()->show();
  }
  template <typename Widget>
  Widget* child(const char* name) {
    return controller_->view()->findChild<Widget*>(name);
  }

  testing_support::TemporaryDirectory folder_;
  platform::UserDefaults defaults_{folder_ / "defaults.plist"};
  platform::Observable<bool> atemConnected_{true};
  platform::Observable<bool> atemConnecting_{false};
  platform::Observable<std::vector<ATEMInput>> atemInputs_;
  platform::Observable<bool> triCasterConnected_{false};
  platform::Observable<bool> triCasterConnecting_{true};
  std::unique_ptr<ExternalMixerPreferencesViewController> controller_;
};

TEST_F(ExternalMixerPreferencesViewControllerTest, TheViewShowsTheSwitcherAndItsExternalInputs) {
  auto* status = child<QLabel>("connectionStatusImageView");
  auto* progress = child<QProgressBar>("connectionProgressIndicator");
  auto* inputA = child<QComboBox>("inputAPopUpButton");
  auto* inputB = child<QComboBox>("inputBPopUpButton");
  ASSERT_TRUE(status && progress && inputA && inputB);
  EXPECT_EQ(status->property("imageName").toString(), "Green");
  EXPECT_TRUE(status->isVisible());
  EXPECT_FALSE(progress->isVisible());
  ASSERT_EQ(inputA->count(), 2);
  EXPECT_EQ(inputA->itemText(1), "Clips");
  EXPECT_EQ(inputA->itemData(1).toString(), "2");
  EXPECT_EQ(inputB->currentText(), "Clips");  // the default's choice
  EXPECT_EQ(inputA->currentIndex(), -1);

  if (const int seconds = qEnvironmentVariableIntValue("VZ_SHOW_PANE_SECONDS")) {
    QElapsedTimer shown;
    shown.start();
    while (shown.elapsed() < seconds * 1000) QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
  }

  // The brand menu sets the default; the pane follows it.
  auto* brand = child<QComboBox>("brandPopUpButton");
  brand->setCurrentIndex(1);
  emit brand->textActivated(brand->currentText());
  EXPECT_EQ(defaults_.stringForKey(kExternalMixerPaneBrandKey), std::optional<std::string>("TriCaster"));
  EXPECT_EQ(inputA->count(), 0);
  EXPECT_TRUE(progress->isVisible());
  EXPECT_FALSE(status->isVisible());

  child<QCheckBox>("useExternalMixerCheckBox")->setChecked(false);
  EXPECT_FALSE(defaults_.boolForKey(kExternalMixerPaneTriggerKey));
  EXPECT_FALSE(progress->isVisible());
  EXPECT_FALSE(status->isVisible());
}

}  // namespace
}  // namespace control
