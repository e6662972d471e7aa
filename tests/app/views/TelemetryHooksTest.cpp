// The window layer's reports for telemetry: Qt's application state becomes the
// two activity notifications (and the hidden state), and each window or
// dialog about to be shown is reported by class name, pop-ups and child
// widgets not.

#include <gtest/gtest.h>

#include <QDialog>
#include <QMainWindow>
#include <QMenu>

#include <string>
#include <vector>

#include "app/views/shell/ApplicationActivityNotifier.h"
#include "app/views/shell/WindowAppearanceReporter.h"
#include "platform/ApplicationActivity.h"
#include "platform/NotificationCenter.h"
#include "platform/RunLoop.h"
#include "platform/ViewControllerAppearance.h"
#include "telemetry/core/DRTLUtility.h"
#include "tests/app/views/QtTestApplication.h"

namespace app::views {
namespace {

TEST(ApplicationActivityNotifierTest, StateChangesPostTheActivityNotificationsAndTheHiddenState) {
  testing_support::qtTestApplication();
  platform::RunLoop::main().attachCurrentThread();
  std::vector<std::string> posted;
  auto& center = platform::NotificationCenter::defaultCenter();
  platform::ObserverToken resign = center.addObserver(
      platform::kApplicationDidResignActiveNotification, nullptr,
      [&](const platform::Notification&) { posted.push_back("resign"); });
  platform::ObserverToken activate = center.addObserver(
      platform::kApplicationWillBecomeActiveNotification, nullptr,
      [&](const platform::Notification&) { posted.push_back("activate"); });

  ApplicationActivityNotifier notifier;
  notifier.applicationStateChanged(Qt::ApplicationActive);
  posted.clear();
  struct Step {
    Qt::ApplicationState state;
    std::vector<std::string> posted;
    int applicationState;  // as the telemetry reads it on the main thread
  };
  const Step steps[] = {
      {Qt::ApplicationActive, {}, 0},
      {Qt::ApplicationInactive, {"resign"}, 0},
      {Qt::ApplicationHidden, {}, 2},
      {Qt::ApplicationActive, {"activate"}, 0},
      {Qt::ApplicationSuspended, {"resign"}, 2},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(static_cast<int>(step.state));
    notifier.applicationStateChanged(step.state);
    EXPECT_EQ(posted, step.posted);
    EXPECT_EQ(telemetry::core::DRTLUtility::applicationState(), step.applicationState);
    posted.clear();
  }
}

TEST(WindowAppearanceReporterTest, WindowsAndDialogsAreReportedEachTimeTheyAreShown) {
  testing_support::qtTestApplication();
  std::vector<std::string> reported;
  platform::setViewControllerAppearanceHandler([&](const std::string& className) { reported.push_back(className); });
  {
    WindowAppearanceReporter reporter;
    QMainWindow window;
    auto* child = new QWidget(&window);
    window.show();
    window.hide();
    window.show();
    child->hide();
    child->show();
    QDialog dialog;
    dialog.show();
    QMenu menu;
    menu.popup(QPoint(0, 0));
    menu.hide();
    EXPECT_EQ(reported, (std::vector<std::string>{"QMainWindow", "QMainWindow", "QDialog"}));
  }
  reported.clear();
  QMainWindow later;
  later.show();  // the reporter is gone
  EXPECT_TRUE(reported.empty());
  platform::setViewControllerAppearanceHandler(nullptr);
}

}  // namespace
}  // namespace app::views
