#include <gtest/gtest.h>

#include <fstream>
#include <memory>

#include "foundation/CVNAlertUtilities.h"
#include "foundation/RecordingAlertPresenter.h"
#include "platform/Bundle.h"
#include "tests/support/CapturedDiagnostics.h"
#include "tests/support/TemporaryDirectory.h"

namespace foundation {
namespace {

class AlertUtilitiesTest : public ::testing::Test {
 protected:
  std::shared_ptr<RecordingAlertPresenter> presenter_ = std::make_shared<RecordingAlertPresenter>();
  ScopedAlertPresenter installed_{presenter_};
};

TEST_F(AlertUtilitiesTest, EachStyleReachesThePresenterWithItsButtons) {
  struct Case {
    ModalResponse (*run)(std::string_view, std::string_view, const std::vector<std::string>&);
    AlertStyle style;
  } cases[] = {
      {&CVNAlertUtilities::runWarningAlertPanelWithTitle, AlertStyle::Warning},
      {&CVNAlertUtilities::runInformationalAlertPanelWithTitle, AlertStyle::Informational},
      {&CVNAlertUtilities::runCriticalAlertPanelWithTitle, AlertStyle::Critical},
  };
  for (const Case& c : cases) c.run("Node Connection Error !", "Node is gone.", {"Retry", "Cancel"});
  ASSERT_EQ(presenter_->alerts().size(), 3u);
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(presenter_->alerts()[i], (AlertRequest{cases[i].style, "Node Connection Error !", "Node is gone.",
                                                     {"Retry", "Cancel"}}));
  }
}

TEST_F(AlertUtilitiesTest, AnswersTheButtonPressedAndGivesOneDefaultButton) {
  presenter_->queueResponse(kAlertSecondButtonReturn);
  EXPECT_EQ(CVNAlertUtilities::runAlertPanelWithStyle(AlertStyle::Critical, "T", "M", {"A", "B"}),
            kAlertSecondButtonReturn);
  EXPECT_EQ(CVNAlertUtilities::runAlertPanelWithStyle(AlertStyle::Warning, "T", "M"), kAlertFirstButtonReturn);
  EXPECT_EQ(presenter_->alerts().back().buttonTitles, (std::vector<std::string>{"OK"}));
}

TEST_F(AlertUtilitiesTest, WithoutPresenterAlertsAndErrorsAreLoggedAndTheFirstButtonAnswers) {
  setAlertPresenter(nullptr);
  testing_support::CapturedDiagnostics diagnostics;
  EXPECT_EQ(CVNAlertUtilities::runCriticalAlertPanelWithTitle("Authentication Error !", "Wrong password.", {"Retry"}),
            kAlertFirstButtonReturn);
  CVNAlertUtilities::presentError(platform::Error("d", 3, "Disk full"));
  const auto messages = diagnostics.messages();
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_NE(messages[0].find("Authentication Error !"), std::string::npos);
  EXPECT_NE(messages[0].find("Retry"), std::string::npos);
  EXPECT_NE(messages[1].find("Disk full"), std::string::npos);
  EXPECT_TRUE(presenter_->alerts().empty());
}

TEST_F(AlertUtilitiesTest, ErrorsCarryTheApplicationDomainAndOnlyTheTextsGiven) {
  testing_support::TemporaryDirectory folder;
  std::ofstream(folder / "Info.plist") << R"(<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0"><dict><key>CFBundleIdentifier</key><string>com.dirarovazovo.test</string></dict></plist>
)";
  platform::Bundle::setMainForTesting(std::make_shared<platform::Bundle>(folder.path()));
  struct RestoreBundle {
    ~RestoreBundle() { platform::Bundle::setMainForTesting(nullptr); }
  } restoreBundle;
  const std::string domain = CVNAlertUtilities::applicationErrorDomain();
  EXPECT_EQ(domain, "com.dirarovazovo.test.ErrorDomain");

  const platform::Error both = CVNAlertUtilities::errorWithCode(-7, "Could not save.", "The disk is full.");
  EXPECT_EQ(both.domain, domain);
  EXPECT_EQ(both.code, -7);
  EXPECT_EQ(both.localizedDescription, "Could not save.");
  EXPECT_EQ(both.userInfo, (platform::Dictionary{{kLocalizedFailureReasonKey, platform::Value("The disk is full.")}}));

  const platform::Error description = CVNAlertUtilities::errorWithCodeLocalizedErrorDescription(1, "Only this.");
  EXPECT_EQ(description.localizedDescription, "Only this.");
  EXPECT_TRUE(description.userInfo.empty());

  const platform::Error reason = CVNAlertUtilities::errorWithCodeLocalizedFailureReason(2, "Because.");
  EXPECT_EQ(reason.localizedDescription, "");
  EXPECT_EQ(reason.userInfo.at(kLocalizedFailureReasonKey), platform::Value("Because."));

  CVNAlertUtilities::presentError(both);
  EXPECT_EQ(presenter_->errors(), (std::vector<platform::Error>{both}));
}

}  // namespace
}  // namespace foundation
