// The operator application: starts the Qt application, runs the platform main
// queue on its event loop, installs the operator alerts, and hands over to
// the application delegate, which runs the start-up steps in their order.
//
// Arguments of the form "-key value" set user defaults for this run only
// (e.g. -discoveredNodes '<array>...</array>'); Qt's own options
// ("-platform offscreen") are understood too. Other arguments ending in
// ".vzplaylist" are playlist documents, opened once launching has finished.

#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include <QApplication>
#include <QTimer>

#include "app/shell/ApplicationDelegate.h"
#include "app/playlist/DataSourcePlaylistNodeControl.h"
#include "app/shell/LaunchDocuments.h"
#include "app/shell/TechnicalLogStart.h"
#include "app/views/browser/MediaBrowserWindowHandle.h"
#include "app/views/inspector/ClipInspectorWindowHandle.h"
#include "app/views/shell/CountDownWindowHandle.h"
#include "app/views/shell/ApplicationActivityNotifier.h"
#include "app/views/shell/ApplicationMainWindow.h"
#include "app/views/playlist/PlaylistWindowHandle.h"
#include "app/views/shell/QtAlertPresenter.h"
#include "app/views/shell/QtApplicationWindows.h"
#include "app/views/shell/QtDocumentPanels.h"
#include "app/views/shell/PlaylistWindowMenus.h"
#include "app/views/shell/PreferencesWindowHandle.h"
#include "app/views/shell/QtMainQueueDriver.h"
#include "app/views/shell/TerminationSignalQuitter.h"
#include "app/views/shell/VantelioZiraApplication.h"
#include "app/views/shell/WindowAppearanceReporter.h"
#include "foundation/AlertPresenter.h"
#include "foundation/CVNLogController.h"
#include "media/readers/StandardAssetReaders.h"
#include "platform/Bundle.h"
#include "platform/NotificationCenter.h"
#include "platform/UserDefaults.h"

namespace {

constexpr const char* kFallbackDefaultsSuiteName = "VantelioZira";
constexpr const char* kWillTerminateNotification = "applicationWillTerminate";
constexpr std::chrono::seconds kLogFlushLimit{5};

}  // namespace

int main(int argc, char** argv) {
  // The defaults domain is the bundle identifier; set before anything reads
  // the defaults (the technical log does).
  std::string suiteName = platform::Bundle::main()->bundleIdentifier();
  if (suiteName.empty()) suiteName = kFallbackDefaultsSuiteName;
  platform::UserDefaults::configureStandard(suiteName, argc, argv);
  // Read before Qt takes its own options out of argv.
  std::error_code noWorkingFolder;
  const std::vector<std::filesystem::path> launchDocuments = app::playlistDocumentsInArguments(
      std::vector<std::string>(argv + 1, argv + argc), std::filesystem::current_path(noWorkingFolder));
  // The defaults (the technical log's folder among them) before the first line.
  app::ApplicationDelegate::initialize(platform::UserDefaults::standard());
  foundation::CVNLogController& log = foundation::CVNLogController::sharedLogController();
  log.installAsDiagnosticHandler();
  app::startTechnicalLog(platform::UserDefaults::standard(), log);
  media::registerStandardAssetReaders();

  app::views::VantelioZiraApplication application(argc, argv);
  app::views::QtMainQueueDriver mainQueueDriver;
  app::views::TerminationSignalQuitter signalQuitter;
  // The application's activity and the windows it shows, for telemetry.
  app::views::ApplicationActivityNotifier activityNotifier;
  app::views::WindowAppearanceReporter appearanceReporter;
  foundation::setAlertPresenter(std::make_shared<app::views::QtAlertPresenter>());

  int exitCode = 0;
  {
    // The playlist windows' way to their nodes; made once the data source
    // exists, and kept until the windows (owned by the delegate) are gone.
    std::optional<app::DataSourcePlaylistNodeControl> nodeControl;
    app::ApplicationDelegate::Environment environment;
    environment.windowFactories.mediaBrowser = app::views::makeMediaBrowserFactory([] {
      const app::ApplicationDelegate* current = app::ApplicationDelegate::current();
      return current ? current->mediaCollectionNodeController() : nullptr;
    });
    environment.windowFactories.preferences = app::views::makePreferencesFactory(&app::ApplicationDelegate::current);
    environment.windowFactories.countDown = app::views::makeCountDownFactory(&app::ApplicationDelegate::current);
    environment.windowFactories.clipInspector = app::views::makeClipInspectorFactory(&app::ApplicationDelegate::current);
    app::ApplicationDelegate delegate(application, std::move(environment));
    app::views::QtApplicationWindows windows(QApplication::applicationDisplayName());
    delegate.setApplicationWindows(&windows);
    app::views::ApplicationMainWindow mainWindow(delegate);
    app::views::QtDocumentPanels documentPanels;
    delegate.setDocumentPanels(&documentPanels);
    // Closing the last playlist leaves the application running, with the
    // start window; closing that window quits.
    QApplication::setQuitOnLastWindowClosed(false);
    delegate.documentController().setDocumentsChangedHandler([&mainWindow] { mainWindow.followOpenDocuments(); });
    // A termination signal asks about edited documents as File > Quit does.
    signalQuitter.setQuitGuard([&delegate] { return delegate.applicationShouldTerminate(); });

    const QMetaObject::Connection willTerminate =
        QObject::connect(&application, &QCoreApplication::aboutToQuit, &application, [&delegate] {
      delegate.applicationWillTerminate(platform::Notification{kWillTerminateNotification});
    });
    // Start-up runs once the event loop does, so an alert it shows (a
    // catalogue that cannot be opened) runs inside the loop, where a
    // termination signal still ends it and the application.
    QTimer::singleShot(0, &application, [&] {
      delegate.awakeFromNib();
      if (app::views::TerminationSignalQuitter::quitRequested()) return;
      nodeControl.emplace(delegate.dataSource());
      app::views::PlaylistWindowHooks hooks;
      hooks.closed = [&delegate](const nodes::VideoPlaylistDocument& document) {
        delegate.documentController().closeDocument(document);
      };
      hooks.shouldClose = [&delegate](const std::shared_ptr<nodes::VideoPlaylistDocument>& document) {
        return delegate.documentController().shouldCloseDocument(document);
      };
      hooks.decorate = [&delegate](app::views::PlaylistWindow& window,
                                   const std::shared_ptr<nodes::VideoPlaylistDocument>& document) {
        app::views::decoratePlaylistWindow(window, document, delegate);
      };
      delegate.setPlaylistWindowFactory(app::views::makePlaylistWindowFactory(*nodeControl, std::move(hooks)));
      delegate.applicationWillFinishLaunching();
      mainWindow.followOpenDocuments();
      delegate.applicationDidFinishLaunching();
      application.finishLaunching();
      for (const std::filesystem::path& document : launchDocuments) {
        if (app::views::TerminationSignalQuitter::quitRequested()) return;
        delegate.openDocument(document);
      }
    });
    exitCode = application.exec();

    // Windows close first, then the delegate lets go of the data source and its node connections.
    signalQuitter.setQuitGuard({});
    delegate.documentController().setDocumentsChangedHandler({});
    delegate.documentController().closeAllDocuments();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    delegate.setDocumentPanels(nullptr);
    delegate.setApplicationWindows(nullptr);
    QObject::disconnect(willTerminate);
  }
  foundation::setAlertPresenter(nullptr);
  log.flush(kLogFlushLimit);
  return exitCode;
}
