#pragma once
// ApplicationDelegate: where the application's own logic starts. It registers
// the defaults table, creates the data source over the clip catalogue and
// the long-lived controllers (clip inspector, GPI box watcher, the two
// switcher controllers; Contact Support belongs to the application object), runs the start-up steps in their
// order, reopens the saved countdown windows, offers the application-menu
// actions and the accessors through which every window reaches the shared
// services, ties the switchers and the GPI box to the playlist windows, and
// records termination.
//
// No window code: the window layer it drives is reached through
// ApplicationWindows, the window factories and the playlist window factory,
// so every decision here runs headless.
//
// Ownership: one per application, owned by main() (or a test); it owns the
// data source, the controllers it creates and the document controller. The
// application object, the window layer and the defaults are not owned and
// outlive it. ApplicationDelegate::current() answers the live instance for
// windows that need the shared services.
//
// Main thread: the launch callbacks, the menu actions, the defaults
// observations and the notifications all arrive there.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/browser/MediaCollectionNodeController.h"
#include "control/gpi/CVNTrelvaneController.h"
#include "control/switchers/ATEMDeviceController.h"
#include "control/switchers/TriCasterController.h"
#include "app/shell/ApplicationWindows.h"
#include "app/shell/CorvaneApplication.h"
#include "app/shell/DocumentWindowController.h"
#include "app/shell/NotAvailableNotice.h"
#include "app/shell/PlaylistDocumentController.h"
#include "app/shell/WindowControllers.h"
#include "nodes/catalogue/CatalogueTransfer.h"
#include "nodes/link/DataSource.h"
#include "platform/NotificationCenter.h"
#include "platform/Observable.h"
#include "platform/Timer.h"
#include "platform/UserDefaults.h"

namespace app {

inline constexpr const char* kAboutVersionPrefix = "version ";
inline constexpr const char* kMissingShortVersionString = "0.0.0";
inline constexpr const char* kLookingForNodesMenuTitle = "Looking for nodes...";
inline constexpr std::chrono::milliseconds kCountDownWindowsReopenDelay{1000};
inline constexpr const char* kKnowledgeBaseURL = "https://support.dirarovazovo.com/hc";

inline constexpr const char* kResetMediaDatabaseTitle = "Are you sure you want to do this ?";
inline constexpr const char* kResetMediaDatabaseMessage =
    "This operation will delete all your offline clips and take a few minutes while locking the Media Browser.";
inline constexpr const char* kImportCompleteTitle = "Import Complete !";
inline constexpr const char* kImportCompleteMessage =
    "The data has been completely imported. Vantelio Vovi will now quit.";

// One entry of the playlist-from-node submenu. An entry without a node has
// no action.
struct PlaylistFromNodeMenuItem {
  std::string title;
  std::optional<std::string> nodeUniqueID;
  friend bool operator==(const PlaylistFromNodeMenuItem&, const PlaylistFromNodeMenuItem&) = default;
};

class ApplicationDelegate : public nodes::DataSourceDelegate,
                            public nodes::CatalogueTransferDelegate,
                            public control::ATEMDeviceController_Delegate,
                            public control::TriCasterController_Delegate {
 public:
  // Makes the catalogue data source over `folder` with `delegate` as its
  // delegate (initWithPath:delegate:).
  using DataSourceFactory =
      std::function<std::shared_ptr<nodes::DataSource>(const std::filesystem::path& folder, ApplicationDelegate& delegate)>;

  // The windows made on the operator's request; an empty factory means that
  // window is not available in this build (logged once when asked for).
  struct WindowFactories {
    std::function<std::shared_ptr<WindowController>()> preferences;
    std::function<std::shared_ptr<WindowController>()> clipInspector;
    std::function<std::shared_ptr<MediaBrowserWindowController>()> mediaBrowser;
    // Made from a saved "CountDownWindowPositions" entry, or none for a new one.
    std::function<std::shared_ptr<CountDownWindowController>(const std::optional<platform::Dictionary>&)> countDown;
  };

  struct Environment {
    platform::UserDefaults* defaults = nullptr;                // nullptr: UserDefaults::standard()
    platform::NotificationCenter* notificationCenter = nullptr;  // nullptr: the default centre
    std::filesystem::path documentsFolder;                     // empty: the user's Documents folder
    DataSourceFactory dataSourceFactory;                       // empty: makeCatalogueDataSource
    WindowFactories windowFactories;
    control::CVNTrelvaneController* trelvaneController = nullptr;  // nullptr: sharedController()
  };

  // The class initialiser: registers the defaults table.
  static void initialize(platform::UserDefaults& defaults);
  // init: creates the clip inspector, makes sure the GPI box watcher exists,
  // creates the two switcher controllers (delegate: this),
  // observes "playbackStatusDidChange". `application` is not owned and
  // outlives the delegate.
  ApplicationDelegate(CorvaneApplication& application, Environment environment);
  // Stops observing, then releases what it owns (the data source last).
  ~ApplicationDelegate() override;
  ApplicationDelegate(const ApplicationDelegate&) = delete;
  ApplicationDelegate& operator=(const ApplicationDelegate&) = delete;

  // The live delegate (the last one made and not yet destroyed), or nullptr.
  static ApplicationDelegate* current();

  // The application's data source: the clip catalogue under `folder`,
  // browsing for nodes, reporting export and import to `delegate`, which
  // also quits the application when the catalogue is refused.
  static std::shared_ptr<nodes::DataSource> makeCatalogueDataSource(const std::filesystem::path& folder,
                                                                    ApplicationDelegate& delegate);

  // The window layer; set once it exists (before awakeFromNib), cleared
  // before it goes. Not owned.
  void setApplicationWindows(ApplicationWindows* windows) { windows_ = windows; }
  // The hook through which the playlist window is made for each document.
  void setPlaylistWindowFactory(PlaylistWindowFactory factory);

  // ---- Start-up and termination ----
  void awakeFromNib();
  // Reopens the saved countdown windows kCountDownWindowsReopenDelay later.
  void applicationWillFinishLaunching();
  void applicationDidFinishLaunching();
  // Sets the terminating flag: countdown windows closing from now on keep
  // their saved records, so the next start reopens them.
  void applicationWillTerminate(const platform::Notification& notification);
  // The terminating flag.
  bool applicationWillTerminate() const { return applicationWillTerminate_; }

  // One countdown window per saved "CountDownWindowPositions" entry, in
  // order; unreadable and repeated entries are dropped from the list.
  void loadCountDownWindowsFromPrefs();

  // ---- Accessors ----
  const std::shared_ptr<nodes::DataSource>& dataSource() const { return dataSource_; }
  // The media browser's trees; made right after the data source.
  browser::MediaCollectionNodeController* mediaCollectionNodeController() const {
    return mediaCollectionNodeController_.get();
  }
  PlaylistDocumentController& documentController() { return documentController_; }
  const std::shared_ptr<WindowController>& preferencesWindowController() const { return preferencesWindowController_; }
  const std::shared_ptr<WindowController>& clipInspectorWindowController() const {
    return clipInspectorWindowController_;
  }
  const std::shared_ptr<MediaBrowserWindowController>& mediaBrowserWindowController() const {
    return mediaBrowserWindowController_;
  }
  const std::shared_ptr<CountDownWindowController>& countDownWindowController() const {
    return countDownWindowController_;
  }
  // The clips selected in the media browser; empty while it does not exist.
  std::vector<std::shared_ptr<nodes::PlaylistItem>> mediaBrowserSelectedPlaylistItems() const;
  std::shared_ptr<nodes::VideoPlaylistDocument> currentPlaylistDocument() const;
  // The window of the front-most document, nullptr when none is open.
  std::shared_ptr<DocumentWindowController> frontWindowController() const;
  // The window of every open document, front to back.
  std::vector<std::shared_ptr<DocumentWindowController>> allWindowControllers() const;
  control::ATEMDeviceController& atemDeviceController() { return atemDeviceController_; }
  control::TriCasterController& triCasterController() { return triCasterController_; }
  // The defaults the delegate reads (the preferences window binds to them).
  platform::UserDefaults& defaults() { return defaults_; }

  // The colour label names in label order: 1 "Gray" ... 7 "Orange" (the
  // names of the label images); "" outside 1 to 7.
  static std::string finderLabelImageNameForIndex(std::int64_t index);
  // "PLAYING" 3, "PAUSED" 1, "CUED" 2, anything else 0.
  static std::int32_t statusWithString(std::string_view status);
  // The crash-reporting release stage of a bundle version: "development"
  // when it contains "b", else "testing" when it contains "test", else
  // "production".
  static std::string releaseStageForBundleVersion(std::string_view bundleVersion);

  // ---- Catalogue progress (the data source calls these) ----
  void updateExportProgressIndicatorWithDoubleValue(double percent, bool indeterminate) override;
  void stopImportProgressionPanelEndModalSession(bool endModalSession) override;
  // The "Import Complete !" alert, then the application quits.
  void showMessageVantelioWillQuit() override;

  // ---- Application menu actions ----
  // "version " and the bundle's short version ("0.0.0" when missing).
  std::string aboutPanelVersionText() const;
  void orderFrontStandardAboutPanel();
  void showPreferences();
  void showClipInspector();
  void showMediaBrowser();
  void newCountDownWindow();
  void resetMediaDatabase();
  void searchKnowledgeBase();
  void contactSupport();
  void exitFullScreen() {}
  // File > New and File > Open: the document's window, or the error shown
  // to the operator.
  void newDocument();
  void openDocument(const std::filesystem::path& path);
  // The playlist-from-node submenu as it is when it opens (none before the
  // data source exists).
  std::vector<PlaylistFromNodeMenuItem> generateNodeNamesMenuItems() const;
  // A new playlist on the node, filled with the node's current playlist.
  void grabPlaylistFromSelectedNode(const std::string& nodeUniqueID);
  // The questions the document commands ask (not owned; cleared before it goes).
  void setDocumentPanels(DocumentPanels* panels);
  // Quit: asks about each edited document; false when the operator cancelled.
  bool applicationShouldTerminate();
  // Whether the window behind a menu item exists in this build.
  bool hasPreferencesWindow() const { return static_cast<bool>(windowFactories_.preferences); }
  bool hasClipInspectorWindow() const { return static_cast<bool>(windowFactories_.clipInspector); }
  bool hasMediaBrowserWindow() const { return static_cast<bool>(windowFactories_.mediaBrowser); }
  bool hasCountDownWindow() const { return static_cast<bool>(windowFactories_.countDown); }

  // ---- Switchers and GPI box ----
  void connectATEMSwitcher();
  void disconnectATEMSwitcher();
  void connectTriCasterSwitcher();
  void disconnectTriCasterSwitcher();
  // The external-mixer defaults observer (the four keys since awakeFromNib).
  void observeValueForKeyPath(std::string_view keyPath);
  bool useExternalMixerToTriggerPlayback() const { return useExternalMixerToTriggerPlayback_; }
  const std::optional<std::string>& externalMixerIPAddress() const { return externalMixerIPAddress_; }
  const std::optional<std::string>& externalMixerVideoSourceIdentifier() const {
    return externalMixerVideoSourceIdentifier_;
  }
  const std::optional<std::string>& externalMixerBrand() const { return externalMixerBrand_; }

  void ATEMTriggeredPlaybackStartForDevice(control::ATEMDeviceController& device) override;
  void ATEMTriggeredPlaybackStopForDevice(control::ATEMDeviceController& device) override;
  // The switcher's other reports are not used.
  void ATEMDeviceDidConnect(control::ATEMDeviceController&) override {}
  void ATEMDeviceDidDisconnect(control::ATEMDeviceController&) override {}
  void ATEMLabelOfDownstreamKeyerAtIndex(std::int32_t, const std::string&, control::ATEMDeviceController&) override {}
  void ATEMLabelOfInputAtIndex(std::int32_t, const std::string&, control::ATEMDeviceController&) override {}
  void ATEMConfigurationDidChangeForDevice(control::ATEMDeviceController&) override {}
  void ATEMSelectedInput(std::int32_t, std::int32_t, control::ATEMDeviceController&) override {}
  void ATEMExternalAudioInputDidChangeState(bool, control::ATEMDeviceController&) override {}
  void ATEMDownstreamKeyerAtIndex(std::int32_t, bool, control::ATEMDeviceController&) override {}
  void triCasterTriggeredPlaybackStartForDevice(control::TriCasterController& device) override;
  void triCasterTriggeredPlaybackStopForDevice(control::TriCasterController& device) override;
  void triCasterDidConnect(control::TriCasterController&) override {}
  void triCasterDidDisconnect(control::TriCasterController&) override {}
  void triCasterLabelOfInputAtIndex(std::int64_t, const std::string&, control::TriCasterController&) override {}
  void triCasterConfigurationDidChangeForDevice(control::TriCasterController&) override {}
  void triCasterSelectedInput(std::int32_t, std::int32_t, control::TriCasterController&) override {}

  // The selected GPI box ("TrelvaneSerialNumber") when it is connected.
  std::shared_ptr<control::GPIDeviceController> findCurrentTrelvaneDevice() const;
  // Shows the next open document's window (wrapping); false while a modal
  // window runs or when the current document is not found.
  bool switchToNextOpenDocument();
  // The GPI tally ("playbackStatusDidChange"): the combined state of the
  // front playlist's node A and, in A/B roll, node B.
  void nodePlaybackStatusChanged(const platform::Notification& notification);
  // The same from the nodes' last reported states (a box came, the front
  // playlist changed).
  void updateTrelvaneTally();
  // The GPI input actions ("TrelvaneDeviceInputDidChange").
  void TrelvaneDeviceInputDidChange(const platform::Notification& notification);
  // A box connected later shows the current tally at once.
  void TrelvaneDeviceDidConnect(const platform::Notification&) { updateTrelvaneTally(); }
  void TrelvaneDeviceDidDisconnect(const platform::Notification&) {}
  void setTrelvaneToStopped();
  void setTrelvaneToPaused();
  void setTrelvaneToPlaying();

 private:
  void startCrashReporting();
  void observeExternalMixerDefaults();
  void externalMixerTriggered(bool start);
  void setTrelvaneTally(std::int32_t status);
  // Playing when one of the front playlist's nodes plays, else paused when one
  // is paused or cued, else stopped; `reported` is a node's newest status.
  std::int32_t frontPlaylistTallyStatus(const std::string& reportingNode, std::string_view reportedStatus) const;
  void presentDocumentResult(const platform::Result<PlaylistDocumentController::DocumentPtr>& result);

  CorvaneApplication& application_;  // not owned; outlives this
  platform::UserDefaults& defaults_;
  platform::NotificationCenter& notificationCenter_;
  const std::filesystem::path documentsFolder_;
  DataSourceFactory dataSourceFactory_;
  WindowFactories windowFactories_;
  ApplicationWindows* windows_ = nullptr;  // not owned; the window layer outlives its tie
  control::CVNTrelvaneController* trelvaneController_ = nullptr;  // not owned; the shared one lives for the process

  // Declared before everything that may refer to it, so it is released last.
  std::shared_ptr<nodes::DataSource> dataSource_;
  std::unique_ptr<browser::MediaCollectionNodeController> mediaCollectionNodeController_;
  std::shared_ptr<WindowController> preferencesWindowController_;
  std::shared_ptr<CountDownWindowController> countDownWindowController_;
  std::shared_ptr<WindowController> clipInspectorWindowController_;
  std::shared_ptr<MediaBrowserWindowController> mediaBrowserWindowController_;
  control::ATEMDeviceController atemDeviceController_;
  control::TriCasterController triCasterController_;
  PlaylistDocumentController documentController_;
  // Countdown windows reopened from the saved positions.
  std::vector<std::shared_ptr<CountDownWindowController>> reopenedCountDownWindows_;

  bool applicationWillTerminate_ = false;
  // What the delegate last acted on, so a repeated notification changes nothing.
  bool useExternalMixerToTriggerPlayback_ = false;
  std::optional<std::string> externalMixerIPAddress_;
  std::optional<std::string> externalMixerVideoSourceIdentifier_;
  std::optional<std::string> externalMixerBrand_;

  NotAvailableNotice preferencesNotice_{"The preferences window"};
  NotAvailableNotice clipInspectorNotice_{"The clip inspector"};
  NotAvailableNotice mediaBrowserNotice_{"The media browser"};
  NotAvailableNotice windowLayerNotice_{"The window layer"};
  NotAvailableNotice fillFromNodeNotice_{"Filling a playlist from a node"};

  std::unique_ptr<platform::Timer> countDownReopenTimer_;
  platform::ObserverToken playbackStatusObserver_;
  std::vector<platform::ObserverToken> trelvaneObservers_;
  std::vector<platform::ObservationToken> externalMixerObservations_;
};

}  // namespace app
