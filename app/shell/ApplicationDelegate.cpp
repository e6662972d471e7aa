#include "app/shell/ApplicationDelegate.h"

#include <array>
#include <atomic>

#include "app/browser/DataSourceMediaBrowserDataSource.h"
#include "app/shell/CountDownWindowRecord.h"
#include "app/shell/RegisteredDefaults.h"
#include "app/shell/TelemetryStart.h"
#include "foundation/CVNAlertUtilities.h"
#include "foundation/CVNLogController.h"
#include "nodes/link/DNSSDServiceBrowser.h"
#include "nodes/catalogue/PseudoServerDataSource.h"
#include "nodes/playlist/VideoPlaylistDocument.h"
#include "platform/DispatchQueue.h"
#include "platform/Files.h"

namespace app {
namespace {

std::atomic<ApplicationDelegate*> gCurrentDelegate{nullptr};

foundation::CVNLogController& technicalLog() { return foundation::CVNLogController::sharedLogController(); }

}  // namespace

void ApplicationDelegate::initialize(platform::UserDefaults& defaults) {
  registerApplicationDefaults(defaults);
  registerTechnicalLogFolder(defaults);
}

std::shared_ptr<nodes::DataSource> ApplicationDelegate::makeCatalogueDataSource(const std::filesystem::path& folder,
                                                                                ApplicationDelegate& delegate) {
  nodes::PseudoServerDataSource::Options options;
  options.browser = std::make_unique<nodes::DNSSDServiceBrowser>();
  options.transferDelegate = &delegate;
  CorvaneApplication* application = &delegate.application_;
  options.terminateApplication = [application] { application->terminate(); };
  return nodes::PseudoServerDataSource::create(folder, &delegate, std::move(options));
}

ApplicationDelegate::ApplicationDelegate(CorvaneApplication& application, Environment environment)
    : application_(application),
      defaults_(environment.defaults ? *environment.defaults : platform::UserDefaults::standard()),
      notificationCenter_(environment.notificationCenter ? *environment.notificationCenter
                                                         : platform::NotificationCenter::defaultCenter()),
      documentsFolder_(environment.documentsFolder.empty() ? platform::userDocumentsFolder()
                                                           : environment.documentsFolder),
      dataSourceFactory_(environment.dataSourceFactory ? std::move(environment.dataSourceFactory)
                                                       : DataSourceFactory(&ApplicationDelegate::makeCatalogueDataSource)),
      windowFactories_(std::move(environment.windowFactories)) {
  if (windowFactories_.clipInspector) {
    clipInspectorWindowController_ = windowFactories_.clipInspector();
  } else {
    clipInspectorNotice_.note();
  }
  // The one GPI box manager of the process; a second delegate must not make another.
  trelvaneController_ =
      environment.trelvaneController ? environment.trelvaneController : &control::CVNTrelvaneController::sharedController();
  playbackStatusObserver_ = notificationCenter_.addObserver(
      nodes::kPlaybackStatusDidChangeNotification, nullptr,
      [this](const platform::Notification& notification) { nodePlaybackStatusChanged(notification); });
  atemDeviceController_.setDelegate(this);
  triCasterController_.setDelegate(this);
  documentController_.setDefaults(&defaults_);
  documentController_.setFrontDocumentChangedHandler([this] { updateTrelvaneTally(); });
  gCurrentDelegate.store(this);
}

ApplicationDelegate::~ApplicationDelegate() {
  documentController_.setFrontDocumentChangedHandler({});
  ApplicationDelegate* self = this;
  gCurrentDelegate.compare_exchange_strong(self, nullptr);
  countDownReopenTimer_.reset();
  playbackStatusObserver_.reset();
  trelvaneObservers_.clear();
  externalMixerObservations_.clear();
  atemDeviceController_.setDelegate(nullptr);
  triCasterController_.setDelegate(nullptr);
}

ApplicationDelegate* ApplicationDelegate::current() { return gCurrentDelegate.load(); }

void ApplicationDelegate::setPlaylistWindowFactory(PlaylistWindowFactory factory) {
  documentController_.setPlaylistWindowFactory(std::move(factory));
}

// ---- Start-up and termination ----

void ApplicationDelegate::awakeFromNib() {
  dataSource_ = dataSourceFactory_(documentsFolder_, *this);
  if (!dataSource_) {
    technicalLog().logMessageWithLevel(0, true, "ApplicationDelegate: no data source could be made");
    return;
  }
  mediaCollectionNodeController_ = std::make_unique<browser::MediaCollectionNodeController>(
      std::make_shared<browser::DataSourceMediaBrowserDataSource>(dataSource_), notificationCenter_);
  documentController_.setDocumentDataSource(dynamic_cast<nodes::PlaylistDocumentDataSource*>(dataSource_.get()));
  dataSource_->populateMediaCollectionNodeForAllNodeInPref();
  dataSource_->connectStaticNodeFromPref();
  dataSource_->startTimerConnection();
  showMediaBrowser();
  dataSource_->checkCompatibility();
  observeExternalMixerDefaults();
  if (useExternalMixerToTriggerPlayback_) {
    if (externalMixerBrand_ == kExternalMixerBrandATEM) {
      connectATEMSwitcher();
    } else if (externalMixerBrand_ == kExternalMixerBrandTriCaster) {
      connectTriCasterSwitcher();
    }
  }
}

void ApplicationDelegate::applicationWillFinishLaunching() {
  countDownReopenTimer_ =
      platform::Timer::scheduled(platform::DispatchQueue::main(), kCountDownWindowsReopenDelay,
                                 platform::Timer::Mode::OneShot, [this] { loadCountDownWindowsFromPrefs(); });
}

void ApplicationDelegate::applicationDidFinishLaunching() {
  defaults_.registerDefaults({{kCrashOnExceptionsKey, true}});
  const std::array<std::pair<const char*, void (ApplicationDelegate::*)(const platform::Notification&)>, 3> handlers{{
      {control::kTrelvaneDeviceDidConnectNotification, &ApplicationDelegate::TrelvaneDeviceDidConnect},
      {control::kTrelvaneDeviceDidDisconnectNotification, &ApplicationDelegate::TrelvaneDeviceDidDisconnect},
      {control::kTrelvaneDeviceInputDidChangeNotification, &ApplicationDelegate::TrelvaneDeviceInputDidChange},
  }};
  for (const auto& entry : handlers) {
    const auto handler = entry.second;
    trelvaneObservers_.push_back(notificationCenter_.addObserver(
        entry.first, nullptr,
        [this, handler](const platform::Notification& notification) { (this->*handler)(notification); }));
  }
  startCrashReporting();
}

void ApplicationDelegate::startCrashReporting() { (void)startTelemetry(defaults_); }

void ApplicationDelegate::applicationWillTerminate(const platform::Notification& /*notification*/) {
  // Nothing is cleared here: each open window's record is already saved, and
  // a crash or a kill must not lose them either.
  applicationWillTerminate_ = true;
}

void ApplicationDelegate::loadCountDownWindowsFromPrefs() {
  if (!windowFactories_.countDown) return;
  const std::vector<CountDownWindowRecord> records = savedCountDownWindows(defaults_);
  rewriteCountDownWindowRecords(defaults_, records);
  for (const CountDownWindowRecord& record : records) {
    std::shared_ptr<CountDownWindowController> window = windowFactories_.countDown(record.toDictionary());
    if (!window) continue;
    window->loadAssignedWindowFrame();
    window->showWindow();
    reopenedCountDownWindows_.push_back(std::move(window));
  }
}

// ---- Accessors ----

std::vector<std::shared_ptr<nodes::PlaylistItem>> ApplicationDelegate::mediaBrowserSelectedPlaylistItems() const {
  if (!mediaBrowserWindowController_) return {};
  return mediaBrowserWindowController_->selectedPlaylistItems();
}

std::shared_ptr<nodes::VideoPlaylistDocument> ApplicationDelegate::currentPlaylistDocument() const {
  return documentController_.currentDocument();
}

std::shared_ptr<DocumentWindowController> ApplicationDelegate::frontWindowController() const {
  auto document = documentController_.currentDocument();
  return document ? documentController_.windowControllerForDocument(*document) : nullptr;
}

std::vector<std::shared_ptr<DocumentWindowController>> ApplicationDelegate::allWindowControllers() const {
  std::vector<std::shared_ptr<DocumentWindowController>> windows;
  for (const auto& document : documentController_.orderedDocuments()) {
    if (auto window = documentController_.windowControllerForDocument(*document)) windows.push_back(window);
  }
  return windows;
}

std::string ApplicationDelegate::finderLabelImageNameForIndex(std::int64_t index) {
  static constexpr const char* kNames[] = {"Gray", "Green", "Purple", "Blue", "Yellow", "Red", "Orange"};
  if (index < 1 || index > static_cast<std::int64_t>(std::size(kNames))) return {};
  return kNames[index - 1];
}

std::int32_t ApplicationDelegate::statusWithString(std::string_view status) {
  return nodes::VideoPlaylistDocument::statusWithString(status);
}

std::string ApplicationDelegate::releaseStageForBundleVersion(std::string_view bundleVersion) {
  if (bundleVersion.find('b') != std::string_view::npos) return "development";
  if (bundleVersion.find("test") != std::string_view::npos) return "testing";
  return "production";
}

// ---- Catalogue progress ----

void ApplicationDelegate::updateExportProgressIndicatorWithDoubleValue(double percent, bool indeterminate) {
  if (!windows_) return;
  if (indeterminate) {
    windows_->setExportProgressIndeterminate();
  } else {
    windows_->setExportProgress(percent);
  }
}

void ApplicationDelegate::stopImportProgressionPanelEndModalSession(bool endModalSession) {
  if (windows_) windows_->stopImportProgress(endModalSession);
}

void ApplicationDelegate::showMessageVantelioWillQuit() {
  foundation::CVNAlertUtilities::runWarningAlertPanelWithTitle(kImportCompleteTitle, kImportCompleteMessage, {"OK"});
  application_.terminate();
}

// ---- Application menu actions ----

std::string ApplicationDelegate::aboutPanelVersionText() const {
  std::string version = application_.applicationMainBundle()->shortVersionString();
  if (version.empty()) version = kMissingShortVersionString;
  return kAboutVersionPrefix + version;
}

void ApplicationDelegate::orderFrontStandardAboutPanel() {
  if (!windows_) {
    windowLayerNotice_.note();
    return;
  }
  windows_->showAboutPanel(aboutPanelVersionText());
}

void ApplicationDelegate::showPreferences() {
  if (!preferencesWindowController_) {
    if (!windowFactories_.preferences) {
      preferencesNotice_.note();
      return;
    }
    preferencesWindowController_ = windowFactories_.preferences();
  }
  if (preferencesWindowController_) preferencesWindowController_->showWindow();
}

void ApplicationDelegate::showClipInspector() {
  if (!clipInspectorWindowController_) {
    clipInspectorNotice_.note();
    return;
  }
  clipInspectorWindowController_->showWindow();
}

void ApplicationDelegate::showMediaBrowser() {
  if (!mediaBrowserWindowController_) {
    if (!windowFactories_.mediaBrowser) {
      mediaBrowserNotice_.note();
      return;
    }
    mediaBrowserWindowController_ = windowFactories_.mediaBrowser();
    if (!mediaBrowserWindowController_) return;
  }
  mediaBrowserWindowController_->showWindow();
  mediaBrowserWindowController_->nodeListChanged();
}

void ApplicationDelegate::newCountDownWindow() {
  if (!countDownWindowController_) {
    if (!windowFactories_.countDown) return;
    countDownWindowController_ = windowFactories_.countDown(std::nullopt);
    if (!countDownWindowController_) return;
  }
  countDownWindowController_->showWindow();
}

void ApplicationDelegate::resetMediaDatabase() {
  const foundation::ModalResponse response = foundation::CVNAlertUtilities::runWarningAlertPanelWithTitle(
      kResetMediaDatabaseTitle, kResetMediaDatabaseMessage, {"Cancel", "OK"});
  if (response == foundation::kAlertSecondButtonReturn && dataSource_) dataSource_->resetMediaDatabase();
}

void ApplicationDelegate::searchKnowledgeBase() {
  if (!windows_) {
    windowLayerNotice_.note();
    return;
  }
  windows_->openURL(kKnowledgeBaseURL);
}

void ApplicationDelegate::contactSupport() { application_.contactSupport(); }

void ApplicationDelegate::presentDocumentResult(
    const platform::Result<PlaylistDocumentController::DocumentPtr>& result) {
  if (!result.ok()) foundation::CVNAlertUtilities::presentError(result.error());
}

void ApplicationDelegate::newDocument() { presentDocumentResult(documentController_.newDocument()); }

void ApplicationDelegate::openDocument(const std::filesystem::path& path) {
  presentDocumentResult(documentController_.openDocumentWithContentsOfURL(path));
}

std::vector<PlaylistFromNodeMenuItem> ApplicationDelegate::generateNodeNamesMenuItems() const {
  std::vector<PlaylistFromNodeMenuItem> items;
  if (!dataSource_) return items;
  const auto& nodes = dataSource_->nodes();
  if (nodes.empty()) {
    items.push_back({kLookingForNodesMenuTitle, std::nullopt});
    return items;
  }
  for (const nodes::NodeConnectionPtr& node : nodes) items.push_back({node->name(), node->nodeUniqueID()});
  return items;
}

void ApplicationDelegate::grabPlaylistFromSelectedNode(const std::string& nodeUniqueID) {
  PlaylistDocumentController::DocumentPtr document = documentController_.makeUntitledDocument();
  document->setNeedDefaultValues(false);
  document->setNodeAUniqueID(nodeUniqueID);
  platform::Result<PlaylistDocumentController::WindowPtr> window = documentController_.addDocument(document);
  if (!window.ok()) {
    foundation::CVNAlertUtilities::presentError(window.error());
    return;
  }
  (*window)->showWindow();
  if (!dataSource_ || !dataSource_->nodeControlFillDocument(*document, nodeUniqueID)) fillFromNodeNotice_.note();
  (*window)->updatePlaybackStatusAfterAwakeFromNib();
}

void ApplicationDelegate::setDocumentPanels(DocumentPanels* panels) { documentController_.setDocumentPanels(panels); }

bool ApplicationDelegate::applicationShouldTerminate() {
  return documentController_.reviewUnsavedDocumentsBeforeQuit();
}

}  // namespace app
