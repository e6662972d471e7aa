// The application as a supervisor runs it: a termination signal ends it even
// while a start-up alert waits for the operator, asks about edited documents
// as Quit does, and a second signal always ends the process.

#include <gtest/gtest.h>

#include <csignal>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>

#include <QCoreApplication>

#include "app/shell/PlaylistDocumentController.h"
#include "app/views/shell/TerminationSignalQuitter.h"
#include "nodes/playlist/PlaylistItem.h"
#include "platform/RunLoop.h"
#include "platform/UserDefaults.h"
#include "tests/app/shell/ScriptedDocumentPanels.h"
#include "tests/app/views/QtTestApplication.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TemporaryDirectory.h"

namespace app::views {
namespace {

using testing_support::ChildProcess;

constexpr std::chrono::seconds kStartLimit{60};
constexpr std::chrono::seconds kQuitLimit{30};

TEST(ApplicationTerminationTest, TerminationSignalDuringAStartUpAlertQuits) {
  testing_support::TemporaryDirectory home;
  // A file where the documents folder should be: the clip catalogue cannot
  // be made, and start-up shows that as an alert.
  const std::filesystem::path documents = home / "Documents";
  std::ofstream(documents) << "not a folder";
  const ChildProcess::Environment environment{
      {"QT_QPA_PLATFORM", "offscreen"},
      {"HOME", home.path().string()},
      {"XDG_CONFIG_HOME", (home / "config").string()},
      {"XDG_DATA_HOME", (home / "data").string()},
      {"XDG_CACHE_HOME", (home / "cache").string()},
      {"XDG_DOCUMENTS_DIR", documents.string()},
  };
  std::string error;
  auto application = ChildProcess::start({VZ_APPLICATION_PATH}, environment, &error);
  ASSERT_TRUE(application) << error;
  ASSERT_TRUE(application->waitForOutput("the clip catalogue is disabled", true, kStartLimit))
      << application->standardError();

  EXPECT_TRUE(application->signalAndWaitForExit(SIGTERM, kQuitLimit)) << application->standardError();
}

// One edited playlist in a document controller whose quit questions are
// scripted, and the quitter asking them as main() wires it. Runs in a child
// process (a death test): the signals are real.
class SignalledApplication {
 public:
  explicit SignalledApplication(std::vector<SaveChangesAnswer> answers) {
    platform::RunLoop::main().attachCurrentThread();
    controller_.setPlaylistWindowFactory([this](const PlaylistDocumentController::DocumentPtr&) {
      windows_.push_back(std::make_shared<app_testing::CountingWindow>());
      return windows_.back();
    });
    controller_.setDocumentPanels(&panels_);
    controller_.setDefaults(&defaults_);
    panels_.answers = std::move(answers);
    auto made = controller_.newDocument();
    if (!made.ok()) std::_Exit(2);
    document_ = *made;
    document_->insertClip(std::make_shared<nodes::PlaylistItem>(), 0);
    quitter_.setQuitGuard([this] { return controller_.reviewUnsavedDocumentsBeforeQuit(); });
  }

  // Raises the signal and lets the event loop take it, until the operator
  // has been asked (or the quitter's guard-free path ran).
  void terminate() {
    const std::size_t askedBefore = panels_.asked.size();
    ::raise(SIGTERM);
    for (int turn = 0; turn < 1000 && panels_.asked.size() == askedBefore &&
                       !TerminationSignalQuitter::quitRequested();
         ++turn) {
      QCoreApplication::processEvents();
    }
  }

  app_testing::ScriptedPanels& panels() { return panels_; }
  const PlaylistDocumentController::DocumentPtr& document() const { return document_; }
  PlaylistDocumentController& controller() { return controller_; }

 private:
  QApplication& qt_ = testing_support::qtTestApplication();  // before the quitter's notifier
  platform::UserDefaults defaults_{""};
  app_testing::ScriptedPanels panels_;
  PlaylistDocumentController controller_;
  std::vector<std::shared_ptr<app_testing::CountingWindow>> windows_;
  PlaylistDocumentController::DocumentPtr document_;
  TerminationSignalQuitter quitter_;
};

[[noreturn]] void cancelTheQuitThenSignalAgain() {
  SignalledApplication application({SaveChangesAnswer::Cancel});
  application.terminate();
  if (application.panels().asked.size() != 1) std::_Exit(10);
  if (TerminationSignalQuitter::quitRequested()) std::_Exit(11);
  if (!application.document()->isDocumentEdited() || application.controller().documents().size() != 1) {
    std::_Exit(12);
  }
  ::raise(SIGTERM);  // the default action: the process ends here
  std::_Exit(13);
}

[[noreturn]] void saveOnQuit() {
  SignalledApplication application({SaveChangesAnswer::Save});
  testing_support::TemporaryDirectory folder;
  application.panels().fileName = folder / "Signalled";
  application.terminate();
  const bool saved = std::filesystem::is_regular_file(folder / "Signalled.vzplaylist");
  const bool edited = application.document()->isDocumentEdited();
  std::filesystem::remove_all(folder.path());
  if (!saved || edited) std::_Exit(20);
  std::_Exit(TerminationSignalQuitter::quitRequested() ? 0 : 21);
}

TEST(ApplicationTerminationTest, SignalAsksAboutEditedDocumentsAndASecondSignalStillEndsTheProcess) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(cancelTheQuitThenSignalAgain(), ::testing::KilledBySignal(SIGTERM), "");
  EXPECT_EXIT(saveOnQuit(), ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace app::views
