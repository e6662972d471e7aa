// The countdown window on the offscreen platform: what the controller says
// reaches the widgets, the counter fills its field, full screen, and the
// window's record follows a move once it settles and goes when the operator
// closes the window.

#include <QComboBox>
#include <QLabel>
#include <gtest/gtest.h>

#include "app/shell/RegisteredDefaults.h"
#include "app/views/shell/CountDownWindowHandle.h"
#include "platform/Clock.h"
#include "platform/RunLoop.h"
#include "tests/app/views/QtTestApplication.h"
#include "tests/support/RunLoopWait.h"
#include "tests/support/TemporaryDirectory.h"

namespace {

using namespace std::chrono_literals;
using app::countdown::TimeCountColour;

class CountDownWindowTest : public ::testing::Test {
 protected:
  CountDownWindowTest() {
    testing_support::qtTestApplication();
    platform::RunLoop::main().attachCurrentThread();
  }

  std::unique_ptr<app::views::CountDownWindowHandle> open(const std::optional<platform::Dictionary>& record) {
    app::countdown::CountDownWindowController::Services services{
        defaults_, center_, [] { return std::shared_ptr<nodes::DataSource>(); }, [] { return false; }};
    return std::make_unique<app::views::CountDownWindowHandle>(std::move(services), record);
  }

  platform::Value savedRecord(std::string_view key) const {
    const auto records = defaults_.arrayForKey(app::kCountDownWindowPositionsKey).value_or(platform::Array{});
    return records.empty() ? platform::Value() : records.back()[key];
  }

  platform::ManualClock clock_;
  platform::ScopedClockOverride clockOverride_{clock_};
  testing_support::TemporaryDirectory folder_;
  platform::UserDefaults defaults_{folder_ / "defaults.plist"};
  platform::NotificationCenter center_;
};

TEST_F(CountDownWindowTest, ShowsTheCounterLargeAndColouredWithTheTypesAsTags) {
  auto handle = open(std::nullopt);
  app::views::CountDownWindow& window = handle->window();
  window.resize(800, 400);
  handle->showWindow();

  auto* types = window.findChild<QComboBox*>("timeCountTypePopUp");
  ASSERT_NE(types, nullptr);
  ASSERT_EQ(types->count(), 7);
  EXPECT_EQ(types->itemData(6).toInt(), 7);
  EXPECT_EQ(window.findChild<QComboBox*>("nodeListPopUp")->currentText(), "<none>");

  window.setTimeCount({"00:00:09", TimeCountColour::Red});
  window.setClipNames("News", "Weather");
  auto* counter = window.findChild<QLabel*>("timeCountField");
  EXPECT_EQ(counter->text(), "00:00:09");
  const QColor red = counter->palette().color(QPalette::WindowText);
  EXPECT_GT(red.red(), 200);
  EXPECT_LT(red.green(), 60);
  EXPECT_NEAR(red.alphaF(), 0.9, 0.01);
  EXPECT_EQ(window.findChild<QLabel*>("nextClipDisplayNameField")->text(), "Weather");

  // The largest size that fits, so the counter grows with the window.
  const int small = window.timeCountSize();
  EXPECT_GT(small, 50);
  window.resize(1400, 700);
  EXPECT_GT(window.timeCountSize(), small);
}

TEST_F(CountDownWindowTest, FullScreenAndMovesReachTheRecordAndTheOperatorsCloseRemovesIt) {
  auto handle = open(platform::Dictionary{{"UniqueID", platform::Value("w1")}});
  app::views::CountDownWindow& window = handle->window();
  handle->showWindow();
  handle->controller().toogleFullScreen();
  EXPECT_TRUE(window.isFullScreen());
  EXPECT_EQ(savedRecord("FullScreen"), platform::Value(true));
  handle->controller().toogleFullScreen();
  EXPECT_FALSE(window.isFullScreen());

  window.move(window.pos() + QPoint(37, 0));
  const platform::Value xBefore = savedRecord("x");
  clock_.advance(app::views::kFrameSettleDelay);
  ASSERT_TRUE(testing_support::runMainLoopUntil([&] { return savedRecord("x") != xBefore; }, "the moved record"));
  EXPECT_EQ(savedRecord("x"), platform::Value(window.frameGeometry().x()));

  window.close();
  EXPECT_TRUE(defaults_.arrayForKey(app::kCountDownWindowPositionsKey).value_or(platform::Array{}).empty());
}

}  // namespace
