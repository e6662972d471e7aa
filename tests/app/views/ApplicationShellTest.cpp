#include <gtest/gtest.h>

#include <QAction>
#include <QElapsedTimer>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <memory>
#include <string>
#include <vector>

#include "app/shell/ApplicationDelegate.h"
#include "app/views/shell/AboutPanel.h"
#include "app/views/shell/ApplicationMainWindow.h"
#include "app/views/shell/ApplicationMenus.h"
#include "app/views/shell/ContactSupportWindowHandle.h"
#include "app/views/shell/QtAlertPresenter.h"
#include "app/views/shell/QtApplicationWindows.h"
#include "foundation/CVNLogController.h"
#include "nodes/playlist/PlaylistItem.h"
#include "nodes/playlist/VideoPlaylistDocument.h"
#include "platform/Clock.h"
#include "platform/PropertyList.h"
#include "platform/RunLoop.h"
#include "platform/UserDefaults.h"
#include "tests/app/views/QtTestApplication.h"
#include "tests/support/SilentNotificationCenter.h"
#include "tests/supportwindow/ScriptedSupportCollaborators.h"
#include "tests/support/TemporaryDirectory.h"

namespace app::views {
namespace {

using platform::Dictionary;
using platform::Value;

class FakeApplication : public CorvaneApplication {
 public:
  std::shared_ptr<const platform::Bundle> applicationMainBundle() const override { return bundle; }
  void terminate() override {}
  bool hasModalWindow() const override { return false; }
  std::shared_ptr<const platform::Bundle> bundle;
};

// The shell as main() puts it together, on a data source without a catalogue.
class ApplicationShellTest : public ::testing::Test {
 protected:
  ApplicationShellTest() {
    testing_support::qtTestApplication();
    platform::RunLoop::main().attachCurrentThread();
    foundation::CVNLogController::Environment environment;
    environment.defaults = &defaults_;
    environment.notificationCenter = std::make_shared<testing_support::SilentNotificationCenter>();
    environment.console = [](std::string_view) {};
    log_ = std::make_unique<foundation::CVNLogController>(std::move(environment));
    foundation::CVNLogController::setSharedLogControllerForTesting(log_.get());

    const std::filesystem::path bundleFolder = folder_ / "bundle";
    std::filesystem::create_directories(bundleFolder);
    const Dictionary info{{"CFBundleName", Value("Test Player")}, {"CFBundleShortVersionString", Value("3.4.5")}};
    EXPECT_TRUE(platform::writePropertyListFile(bundleFolder / "Info.plist", Value(info)).ok());
    application_.bundle = std::make_shared<platform::Bundle>(bundleFolder);

    ApplicationDelegate::initialize(defaults_);
    ApplicationDelegate::Environment delegateEnvironment;
    delegateEnvironment.defaults = &defaults_;
    delegateEnvironment.documentsFolder = folder_ / "Documents";
    delegateEnvironment.dataSourceFactory = [](const std::filesystem::path&, ApplicationDelegate&) {
      return nodes::DataSource::create();
    };
    delegate_ = std::make_unique<ApplicationDelegate>(application_, std::move(delegateEnvironment));
    windows_ = std::make_unique<QtApplicationWindows>("Test Player");
    delegate_->setApplicationWindows(windows_.get());
    mainWindow_ = std::make_unique<ApplicationMainWindow>(*delegate_);
    delegate_->awakeFromNib();
    delegate_->applicationWillFinishLaunching();
    mainWindow_->show();
    delegate_->applicationDidFinishLaunching();
  }

  ~ApplicationShellTest() override {
    delegate_->applicationWillTerminate(platform::Notification{"applicationWillTerminate"});
    mainWindow_.reset();
    delegate_->setApplicationWindows(nullptr);
    windows_.reset();
    delegate_.reset();
    foundation::CVNLogController::setSharedLogControllerForTesting(nullptr);
  }

  QAction* action(const char* name) const { return mainWindow_->menuBar()->findChild<QAction*>(name); }

  platform::ManualClock clock_;
  platform::ScopedClockOverride clockOverride_{clock_};
  testing_support::TemporaryDirectory folder_;
  platform::UserDefaults defaults_{folder_ / "defaults.plist"};
  platform::ScopedStandardUserDefaultsOverride standardDefaults_{defaults_};
  std::unique_ptr<foundation::CVNLogController> log_;
  FakeApplication application_;
  std::unique_ptr<ApplicationDelegate> delegate_;
  std::unique_ptr<QtApplicationWindows> windows_;
  std::unique_ptr<ApplicationMainWindow> mainWindow_;
};

TEST_F(ApplicationShellTest, AboutMenuShowsThePanelWithTheBundleVersion) {
  QAction* about = action(kAboutActionName);
  ASSERT_NE(about, nullptr);
  about->trigger();

  AboutPanel* panel = windows_->aboutPanel();
  ASSERT_NE(panel, nullptr);
  EXPECT_TRUE(panel->isVisible());
  EXPECT_EQ(panel->versionText().toStdString(), "version 3.4.5");
}

TEST_F(ApplicationShellTest, MenusCarryTheApplicationActions) {
  for (const char* name : {kPreferencesActionName, kQuitActionName, kNewPlaylistActionName, kOpenPlaylistActionName}) {
    EXPECT_NE(action(name), nullptr) << name;
  }
  // Linux desktops have no standard preferences key: the window sets Ctrl+, itself.
  EXPECT_EQ(action(kPreferencesActionName)->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Comma));
  auto* fromNode = mainWindow_->menuBar()->findChild<QMenu*>(kPlaylistFromNodeMenuName);
  ASSERT_NE(fromNode, nullptr);
  emit fromNode->aboutToShow();
  ASSERT_EQ(fromNode->actions().size(), 1);
  EXPECT_EQ(fromNode->actions()[0]->text().toStdString(), "Looking for nodes...");
  EXPECT_FALSE(fromNode->actions()[0]->isEnabled());
}

TEST_F(ApplicationShellTest, ContactSupportWindowCarriesTheMenusAboveItsControls) {
  testing_support::FakeApplication application;
  ContactSupportWindowHandle handle(Dictionary{}, application, delegate_.get());
  support::views::ContactSupportWindow& window = handle.window();
  auto* bar = window.findChild<QMenuBar*>();
  ASSERT_NE(bar, nullptr);
  EXPECT_NE(bar->findChild<QAction*>(kPreferencesActionName), nullptr);
  EXPECT_NE(bar->findChild<QAction*>(kQuitActionName), nullptr);
  // Nothing hides under the bar, and the window grew to keep its bottom row.
  for (QWidget* child : window.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
    if (child != bar && !child->isWindow()) {
      EXPECT_GE(child->y(), bar->height()) << child->objectName().toStdString();
    }
  }
  EXPECT_EQ(window.height(), 680 + bar->height());
}

// A panel working on whichever playlist is current (the clip inspector)
// saves that playlist from its own menus; with none current, Save does nothing.
TEST_F(ApplicationShellTest, APanelFollowingTheCurrentPlaylistSavesIt) {
  std::shared_ptr<nodes::VideoPlaylistDocument> current;
  QWidget panel;
  QMenuBar bar(&panel);
  ApplicationMenus::populate(bar, *delegate_, MenuOwner{&panel, nullptr, {}, [&current] { return current; }});
  QAction* save = bar.findChild<QAction*>(kSaveActionName);
  ASSERT_NE(save, nullptr);
  ASSERT_TRUE(save->isEnabled());
  save->trigger();

  current = std::make_shared<nodes::VideoPlaylistDocument>();
  const std::filesystem::path path = folder_ / "Current.vzplaylist";
  ASSERT_TRUE(current->writeToURL(path, nodes::kVideoPlaylistDocumentType,
                                  nodes::VideoPlaylistDocument::SaveOperation::SaveAs).ok());
  current->insertClip(std::make_shared<nodes::PlaylistItem>(), 0);
  ASSERT_TRUE(current->isDocumentEdited());
  save->trigger();
  EXPECT_FALSE(current->isDocumentEdited());
  nodes::VideoPlaylistDocument reread;
  ASSERT_TRUE(reread.readFromURL(path, nodes::kVideoPlaylistDocumentType).ok());
  EXPECT_EQ(reread.clips().size(), 1u);
}

// Quit from the start window ends the event loop: the start window answers a
// close by asking to quit, so quitting must not ask the windows to close.
TEST_F(ApplicationShellTest, QuitFromTheStartWindowEndsTheEventLoop) {
  ASSERT_TRUE(mainWindow_->isVisible());
  QAction* quit = action(kQuitActionName);
  ASSERT_NE(quit, nullptr);
  QTimer::singleShot(0, quit, [quit] { quit->trigger(); });
  // A guard in real time: a quit that loops leaves the loop only through it.
  QTimer guard;
  guard.setSingleShot(true);
  QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(7); });
  guard.start(10000);
  EXPECT_EQ(QApplication::exec(), 0);
}

TEST(QtAlertPresenterTest, AnswersByThePositionOfThePressedButton) {
  testing_support::qtTestApplication();
  QtAlertPresenter presenter;
  QString shownText;
  // Presses "OK" once the alert is up; a real-time limit closes it instead of
  // leaving the test hanging in the alert's event loop.
  QTimer presser;
  QElapsedTimer elapsed;
  elapsed.start();
  QObject::connect(&presser, &QTimer::timeout, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box) return;
    if (elapsed.elapsed() > 10000) box->done(0);
    shownText = box->text();
    for (QAbstractButton* button : box->buttons()) {
      if (button->text() == "OK") button->click();
    }
  });
  presser.start(10);
  const foundation::ModalResponse response = presenter.runAlert(
      {foundation::AlertStyle::Warning, "Are you sure you want to do this ?", "Details", {"Cancel", "OK"}});
  EXPECT_EQ(response, foundation::kAlertSecondButtonReturn);
  EXPECT_EQ(shownText.toStdString(), "Are you sure you want to do this ?");
}

}  // namespace
}  // namespace app::views
