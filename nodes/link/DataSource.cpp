#include "nodes/link/DataSource.h"

#include <algorithm>
#include <set>
#include <utility>

#include "foundation/NotificationCenterAdditions.h"
#include "platform/Diagnostics.h"
#include "platform/DispatchQueue.h"
#include "platform/NotificationCenter.h"
#include "platform/PropertyList.h"
#include "platform/RunLoop.h"

namespace nodes {
namespace {

using platform::Array;
using platform::Dictionary;
using platform::Value;

void writeToSystemLog(const std::string& line) { platform::reportDiagnostic(platform::DiagnosticLevel::Info, line); }

std::string stringOf(const Value& dictionary, const char* key) { return dictionary[key].stringOr(""); }

bool isDiscoveredByNetServices(const Value& entry) {
  return entry[kSavedNodeDiscoveredByNetServicesKey].booleanOr(false);
}

// The first entry of the list with that node unique ID; nullptr when none.
template <typename List>
auto findEntryWithNodeUniqueID(List& list, std::string_view nodeUniqueID) -> decltype(&list.front()) {
  for (auto& entry : list) {
    if (entry.isDictionary() && entry[kSavedNodeUniqueIDKey].string() &&
        *entry[kSavedNodeUniqueIDKey].string() == nodeUniqueID)
      return &entry;
  }
  return nullptr;
}

}  // namespace

std::shared_ptr<DataSource> DataSource::create(std::unique_ptr<ServiceBrowser> browser) {
  return std::make_shared<DataSource>(std::move(browser));
}

DataSource::DataSource(std::unique_ptr<ServiceBrowser> browser)
    : defaults_(platform::UserDefaults::standard()),
      relay_(std::make_shared<NodeConnectionDelegateRelay>(this)),
      browser_(std::move(browser)) {
  if (browser_) browser_->setDelegate(this);
  refreshSavedNodesSnapshot();
  savedNodesObservation_ = defaults_.observeKey(kDiscoveredNodesKey, [this](const Value&, const Value& now) {
    std::lock_guard lock(savedNodesMutex_);
    savedNodesSnapshot_ = now.array() ? std::optional<Array>(*now.array()) : std::nullopt;
  });
  newNodeDiscoveredObserver_ = platform::NotificationCenter::defaultCenter().addObserver(
      kNewNodeDiscoveredNotification, nullptr,
      [this](const platform::Notification& notification) { newNodeDiscovered(notification); });
}

DataSource::~DataSource() {
  relay_->detach();  // waits for reports already inside this object
  newNodeDiscoveredObserver_.reset();
  savedNodesObservation_.reset();
  if (tryToConnectTimer_) tryToConnectTimer_->invalidate();
  if (browser_) {
    browser_->setDelegate(nullptr);
    browser_->stop();
  }
  // Every polling thread has ended (bounded wait) before the data source is
  // gone, so none outlives the application's main().
  for (const auto& connection : nodes_) connection->stopConnection();
  nodes_.clear();
}

void DataSource::setNodePollingHooks(std::shared_ptr<NodePollingHooks> hooks) {
  pollingHooks_ = std::move(hooks);
  for (const auto& connection : nodes_) connection->setPollingHooks(pollingHooks_);
}

NodeConnectionPtr DataSource::makeConnection() {
  auto connection = NodeConnection::create(relay_);
  connection->setPollingHooks(pollingHooks_);
  return connection;
}

void DataSource::runOnMainThread(std::function<void(DataSource&)> task) {
  if (platform::isMainThread()) {
    task(*this);
    return;
  }
  platform::DispatchQueue::main().async([weak = weak_from_this(), task = std::move(task)] {
    if (auto self = weak.lock()) task(*self);
  });
}

// --- Node list ---

NodeConnectionPtr DataSource::nodeConnectionWithNodeUniqueID(std::string_view nodeUniqueID) const {
  const std::int64_t index = indexOfNodeWithNodeUniqueID(nodeUniqueID);
  return index < 0 ? nullptr : nodes_[static_cast<std::size_t>(index)];
}

std::int64_t DataSource::indexOfNodeWithNodeUniqueID(std::string_view nodeUniqueID) const {
  for (std::size_t i = 0; i < nodes_.size(); ++i)
    if (nodes_[i]->nodeUniqueID() == nodeUniqueID) return static_cast<std::int64_t>(i);
  return -1;
}

std::int64_t DataSource::indexOfNodeForNetService(const DiscoveredService& service) const {
  for (std::size_t i = 0; i < nodes_.size(); ++i) {
    const auto netService = nodes_[i]->netService();
    if (netService && netService->name == service.name) return static_cast<std::int64_t>(i);
  }
  return -1;
}

std::int64_t DataSource::indexOfNodeForIPAddress(std::string_view address) const {
  for (std::size_t i = 0; i < nodes_.size(); ++i)
    if (nodes_[i]->address() == address) return static_cast<std::int64_t>(i);
  return -1;
}

bool DataSource::nodeArrayContainsNetService(const DiscoveredService& service) const {
  return indexOfNodeForNetService(service) >= 0;
}

bool DataSource::nodeArrayContainsIPAddress(std::string_view address) const {
  return indexOfNodeForIPAddress(address) >= 0;
}

std::string DataSource::nodeNameForNodeWithUniqueID(std::string_view nodeUniqueID) const {
  if (const auto connection = nodeConnectionWithNodeUniqueID(nodeUniqueID); connection && !connection->name().empty())
    return connection->name();
  for (const Value& entry : savedNodeList()) {
    if (stringOf(entry, kSavedNodeUniqueIDKey) == nodeUniqueID && entry[kSavedNodeNameKey].string())
      return *entry[kSavedNodeNameKey].string();
  }
  return "";
}

std::optional<std::vector<std::shared_ptr<MediaFolder>>> DataSource::mediaFoldersForNode(
    std::string_view nodeUniqueID) const {
  const auto connection = nodeConnectionWithNodeUniqueID(nodeUniqueID);
  if (!connection) return std::nullopt;
  return connection->mediaFolders();
}

std::shared_ptr<MediaFolder> DataSource::mediaFolderWithAbsolutePath(std::string_view path,
                                                                     std::string_view nodeUniqueID) const {
  const auto folders = mediaFoldersForNode(nodeUniqueID);
  if (!folders) return nullptr;
  for (const auto& folder : *folders) {
    const auto folderPath = folder->path();
    if (folderPath && *folderPath == path) return folder;
  }
  return nullptr;
}

// --- Connecting ---

void DataSource::startTimerConnection() {
  if (tryToConnectTimer_) return;
  tryToConnectTimer_ = platform::Timer::scheduled(platform::DispatchQueue::main(), kReconnectInterval,
                                                  platform::Timer::Mode::Repeating, [weak = weak_from_this()] {
                                                    if (auto self = weak.lock()) self->tryToConnectRegisteredNodes();
                                                  });
}

void DataSource::tryToConnectRegisteredNodes() {
  retryBrowsingForNodes();
  const std::vector<NodeConnectionPtr> connections = nodes_;
  for (const auto& connection : connections) {
    auto& link = connection->telnetController();
    if (link.isTryingToConnect() || link.isConnected()) continue;
    writeToSystemLog("Trying to reconnect to Node at address: " + connection->address());
    connection->startConnection();
  }
  removeDuplicateNodes();
  std::stable_sort(nodes_.begin(), nodes_.end(), [](const NodeConnectionPtr& a, const NodeConnectionPtr& b) {
    return a->nodeNameComparaison(*b) < 0;
  });
}

// For every ordered pair of connections with the same node unique ID: a
// discovered one makes the other go; two hand-entered ones both stay.
void DataSource::removeDuplicateNodes() {
  for (bool removed = true; removed;) {
    removed = false;
    for (std::size_t i = 0; i < nodes_.size() && !removed; ++i) {
      for (std::size_t j = 0; j < nodes_.size() && !removed; ++j) {
        if (i == j || nodes_[i]->nodeUniqueID() != nodes_[j]->nodeUniqueID()) continue;
        std::size_t victim;
        if (nodes_[i]->discoveredByNetServices()) {
          victim = j;
        } else if (nodes_[j]->discoveredByNetServices()) {
          victim = i;
        } else {
          continue;
        }
        const NodeConnectionPtr connection = nodes_[victim];
        nodes_.erase(nodes_.begin() + static_cast<std::ptrdiff_t>(victim));
        connection->stopConnection();
        removed = true;
      }
    }
  }
}

void DataSource::connectStaticNodeFromPref() {
  for (const Value& entry : savedNodeList()) {
    if (!entry.isDictionary() || isDiscoveredByNetServices(entry) || !entry[kSavedNodeIPAdressKey].string()) continue;
    StaticNodeInfo info;
    info.setIpAdress(*entry[kSavedNodeIPAdressKey].string());
    info.setPortNumber(stringOf(entry, kSavedNodePortNumberKey));
    addStaticNodeInfoInCache(info);
  }
}

void DataSource::createStaticNodeInPreferenceWithStaticNodeInfo(const StaticNodeInfo& info) {
  addStaticNodeInfoInCache(info);
}

void DataSource::addStaticNodeInfoInCache(const StaticNodeInfo& info) {
  auto connection = makeConnection();
  connection->setPortNumber(info.portNumber());
  connection->setAddress(info.ipAdress());
  connection->setDiscoveredByNetServices(false);
  nodes_.push_back(connection);
  saveNodeToPreference(connection);
}

void DataSource::deleteStaticNodeInPreferenceWithStaticNodeInfo(const StaticNodeInfo& info) {
  changeSavedNodeList([&](Array& list) {
    const auto found = std::find_if(list.begin(), list.end(), [&](const Value& entry) {
      return entry.isDictionary() && !isDiscoveredByNetServices(entry) &&
             stringOf(entry, kSavedNodeIPAdressKey) == info.ipAdress() &&
             stringOf(entry, kSavedNodePortNumberKey) == info.portNumber();
    });
    if (found != list.end()) list.erase(found);
  });
}

void DataSource::deleteNodeInPreferenceWithNodeUniqueID(std::string_view nodeUniqueID) {
  changeSavedNodeList([&](Array& list) {
    if (Value* entry = findEntryWithNodeUniqueID(list, nodeUniqueID)) list.erase(list.begin() + (entry - list.data()));
  });
}

// --- Discovery ---

void DataSource::startBrowsingForNodes() {
  if (browser_) browser_->searchForServicesOfType(kNodeServiceType, "");
}

// A browse that failed (no mDNS daemon yet, or it went away) is started again
// on the reconnect tick; it counts as running once a tick passes without a
// new failure.
void DataSource::retryBrowsingForNodes() {
  if (!browsingFailed_ || !browser_) return;
  if (browseRetryOutstanding_) {
    browsingFailed_ = false;
    browseRetryOutstanding_ = false;
    writeToSystemLog("Node discovery: browsing for nodes again");
    return;
  }
  browseRetryOutstanding_ = true;
  startBrowsingForNodes();
}

void DataSource::serviceBrowserDidFindService(const DiscoveredService& service, bool /*moreComing*/) {
  std::erase(discoveredServices_, service);
  discoveredServices_.push_back(service);
  if (!nodeArrayContainsNetService(service) && browser_) browser_->resolveService(service, kServiceResolveTimeLimit);
}

void DataSource::serviceBrowserDidRemoveService(const DiscoveredService& service, bool /*moreComing*/) {
  std::erase(discoveredServices_, service);
}

void DataSource::serviceBrowserDidNotSearch(const platform::Error& error) {
  browseRetryOutstanding_ = false;
  if (browsingFailed_) return;  // once per outage
  browsingFailed_ = true;
  platform::reportDiagnostic(platform::DiagnosticLevel::Warning,
                             "Node discovery: " + error.describe() + " (trying again every 5 s)");
}

void DataSource::serviceDidResolveAddress(const ResolvedService& resolved) {
  const std::string portText = std::to_string(resolved.port);
  for (const ServiceAddress& address : resolved.addresses) {
    const std::string addressText = address.ipv4DottedText();
    if (addressText == "0.0.0.0") continue;
    auto connection = makeConnection();
    connection->setNetService(ResolvedNetService{resolved.service.name, addressText, resolved.port});
    // Kept in the saved node list: a service name may hold anything.
    connection->setNodeUniqueID(platform::propertyListSafeText(resolved.service.name));
    connection->setDiscoveredByNetServices(true);
    connection->setAddress(addressText);
    connection->setPortNumber(portText);
    nodes_.push_back(connection);
    tryToConnectRegisteredNodes();
  }
}

void DataSource::serviceDidNotResolve(const DiscoveredService& service, const platform::Error& error) {
  writeToSystemLog("Node discovery: " + service.name + " did not resolve: " + error.describe());
}

// --- Saved node list ---

platform::Array DataSource::savedNodeList() const { return defaults_.arrayForKey(kDiscoveredNodesKey).value_or(Array{}); }

void DataSource::changeSavedNodeList(const std::function<void(platform::Array&)>& change) {
  defaults_.modifyObject(kDiscoveredNodesKey, [&](Value saved) {
    Array list = saved.array() ? std::move(*saved.array()) : Array{};
    change(list);
    return Value(std::move(list));
  });
  refreshSavedNodesSnapshot();
  if (const platform::Status saved = defaults_.synchronize(); !saved)
    platform::reportDiagnostic(platform::DiagnosticLevel::Warning, "discoveredNodes: " + saved.error().describe());
}

void DataSource::refreshSavedNodesSnapshot() {
  const auto list = defaults_.arrayForKey(kDiscoveredNodesKey);
  std::lock_guard lock(savedNodesMutex_);
  savedNodesSnapshot_ = list;
}

std::optional<platform::Dictionary> DataSource::savedEntryForNodeUniqueID(std::string_view nodeUniqueID) const {
  std::lock_guard lock(savedNodesMutex_);
  if (!savedNodesSnapshot_) return std::nullopt;
  const Value* entry = findEntryWithNodeUniqueID(*savedNodesSnapshot_, nodeUniqueID);
  if (!entry) return std::nullopt;
  return *entry->dictionary();
}

void DataSource::saveNodeToPreference(const NodeConnectionPtr& connection) {
  if (!connection) return;
  runOnMainThread([connection](DataSource& self) { self.saveNodeToPreferenceOnMainThread(connection); });
}

void DataSource::saveNodeToPreferenceOnMainThread(const NodeConnectionPtr& connection) {
  if (connection->address().empty() || connection->portNumber().empty() || connection->nodeUniqueID().empty()) return;
  const Dictionary info = connection->nodeInfoDictionary();
  changeSavedNodeList([&](Array& list) {
    bool matched = false;
    for (Value& entry : list) {
      if (!entry.isDictionary()) continue;
      if (entry.contains(kSavedNodeDiscoveredByNetServicesKey)) {
        if (stringOf(entry, kSavedNodeUniqueIDKey) != connection->nodeUniqueID()) continue;
        // The connection does not know the saved attributes: keep them.
        Dictionary replacement = info;
        for (const char* key : {kSavedNodeClipAttributesKey, kSavedNodeClipAttributesLastChangeNumberKey})
          if (entry.contains(key)) replacement[key] = entry[key];
        entry = Value(std::move(replacement));
        matched = true;
      } else if (stringOf(entry, kSavedNodeIPAdressKey) == connection->address() &&
                 stringOf(entry, kSavedNodePortNumberKey) == connection->portNumber()) {
        matched = true;  // an older entry of the same node: left as it is
      }
    }
    if (!matched) list.push_back(Value(info));
  });
}

void DataSource::getMediaFoldersForNode(const NodeConnectionPtr& connection) {
  if (!connection) return;
  std::optional<Dictionary> entry;
  {
    std::lock_guard lock(savedNodesMutex_);
    if (!savedNodesSnapshot_) return;
    const Value* found = findEntryWithNodeUniqueID(*savedNodesSnapshot_, connection->nodeUniqueID());
    if (found) entry = *found->dictionary();
  }
  if (!entry) {
    writeToSystemLog("Node with unique ID " + connection->nodeUniqueID() + " not Found");
    return;
  }
  const Value entryValue(std::move(*entry));
  const Value& saved = entryValue[kSavedNodeMediaFoldersKey];
  if (!saved.array()) return;
  std::vector<std::shared_ptr<MediaFolder>> folders;
  for (const Value& folder : *saved.array())
    if (folder.dictionary()) folders.push_back(MediaFolder::fromDictionary(*folder.dictionary()));
  connection->setMediaFolders(std::move(folders));
}

std::uint32_t DataSource::attributesLastChangeNumberInPrefForNode(const NodeConnectionPtr& connection) {
  if (!connection) return 0;
  const auto entry = savedEntryForNodeUniqueID(connection->nodeUniqueID());
  if (!entry) return 0;
  return static_cast<std::uint32_t>(Value(*entry)[kSavedNodeClipAttributesLastChangeNumberKey].integerOr(0));
}

std::vector<std::shared_ptr<Attribute>> DataSource::attributesInPrefForNodeWithUniqueID(
    const std::string& nodeUniqueID) {
  std::vector<std::shared_ptr<Attribute>> attributes;
  const auto entry = savedEntryForNodeUniqueID(nodeUniqueID);
  if (!entry) return attributes;
  const Value entryValue(*entry);
  if (const Array* saved = entryValue[kSavedNodeClipAttributesKey].array()) {
    for (const Value& attribute : *saved)
      if (attribute.dictionary()) attributes.push_back(Attribute::fromDictionary(*attribute.dictionary()));
  }
  return attributes;
}

void DataSource::mediaFoldersDidChange(const NodeMediaFoldersInfo& info) {
  if (info.nodeUniqueID.empty()) return;
  Array folderDictionaries;
  std::set<std::string, std::less<>> liveFolderIDs;
  for (const auto& folder : info.mediaFoldersArray) {
    folderDictionaries.emplace_back(folder->dictionary());
    if (auto id = folder->uniqueID()) liveFolderIDs.insert(std::move(*id));
  }
  Array known = savedNodeList();
  if (const Value* entry = findEntryWithNodeUniqueID(known, info.nodeUniqueID)) {
    if (const Array* savedFolders = (*entry)[kSavedNodeMediaFoldersKey].array()) {
      for (const Value& saved : *savedFolders) {
        const std::string folderID = saved["mediaFolderUniqueID"].stringOr("");
        if (!liveFolderIDs.contains(folderID)) removeClipsWithMediaFolderUniqueID(folderID);
      }
    }
  }
  const auto connection = nodeConnectionWithNodeUniqueID(info.nodeUniqueID);
  changeSavedNodeList([&](Array& list) {
    if (Value* entry = findEntryWithNodeUniqueID(list, info.nodeUniqueID)) {
      (*entry->dictionary())[kSavedNodeMediaFoldersKey] = Value(folderDictionaries);
    } else if (connection) {
      list.emplace_back(connection->nodeInfoDictionary());
    }
  });
}

void DataSource::possibleClipAttributesDidChange(const platform::Dictionary& info) {
  const Value infoValue(info);
  const std::string nodeUniqueID = stringOf(infoValue, kSavedNodeUniqueIDKey);
  if (nodeUniqueID.empty()) return;
  const Value& attributes = infoValue["possibleClipAttributes"];
  const Value& changeNumber = infoValue[kSavedNodeClipAttributesLastChangeNumberKey];
  changeSavedNodeList([&](Array& list) {
    if (Value* entry = findEntryWithNodeUniqueID(list, nodeUniqueID)) {
      (*entry->dictionary())[kSavedNodeClipAttributesKey] = attributes;
      (*entry->dictionary())[kSavedNodeClipAttributesLastChangeNumberKey] = changeNumber;
    } else {
      list.emplace_back(Dictionary{{kSavedNodeNameKey, infoValue[kSavedNodeNameKey]},
                                   {kSavedNodeUniqueIDKey, Value(nodeUniqueID)},
                                   {kSavedNodeClipAttributesKey, attributes},
                                   {kSavedNodeClipAttributesLastChangeNumberKey, changeNumber}});
    }
  });
}

void DataSource::possibleClipAttributeDidChange(const platform::Dictionary& info) {
  platform::NotificationCenter::defaultCenter().post(kPossibleClipAttributeDidChangeNotification, this, info);
}

// --- Connection reports ---

void DataSource::postNodeNotification(const char* name, const platform::Dictionary& status,
                                      const NodeConnectionPtr& node) {
  platform::Notification notification{name, node.get(), node, status};
  foundation::postNotificationOnMainThread(platform::NotificationCenter::defaultCenter(), std::move(notification));
}

void DataSource::nodeListDidChange() {
  foundation::postNotificationOnMainThreadWithName(platform::NotificationCenter::defaultCenter(),
                                                   kNodeListDidChangeNotification, nullptr);
}

void DataSource::nodePlaylistDidChangeForNode(const NodeConnectionPtr& node) {
  postNodeNotification(kPlaylistDidChangeNotification, {}, node);
}

void DataSource::nodePlaybackStatusChanged(const platform::Dictionary& status, const NodeConnectionPtr& node) {
  postNodeNotification(kPlaybackStatusDidChangeNotification, status, node);
}

void DataSource::nodePlaybackClipUniqueIDChanged(const platform::Dictionary& status, const NodeConnectionPtr& node) {
  postNodeNotification(kPlaybackClipUniqueIDDidChangeNotification, status, node);
}

void DataSource::nodeLockedClipsChanged(const platform::Dictionary& status, const NodeConnectionPtr& node) {
  postNodeNotification(kLockedClipsDidChangeNotification, status, node);
}

void DataSource::nodePlaybackPlaylistUniqueIDChanged(const platform::Dictionary& status,
                                                     const NodeConnectionPtr& node) {
  postNodeNotification(kPlaybackPlaylistUniqueIDDidChangeNotification, status, node);
}

void DataSource::nodeCurrentDateTimeChanged(const platform::Dictionary& status, const NodeConnectionPtr& node) {
  postNodeNotification(kCurrentDateTimeDidChangeNotification, status, node);
}

void DataSource::nodeFirstEventStartDateTimeChanged(const platform::Dictionary& status,
                                                    const NodeConnectionPtr& node) {
  postNodeNotification(kFirstEventStartDateTimeChangeNotification, status, node);
}

void DataSource::nodeLastEventEndDateTimeChanged(const platform::Dictionary& status, const NodeConnectionPtr& node) {
  postNodeNotification(kLastEventEndDateTimeChangeNotification, status, node);
}

void DataSource::nodeCurrentDelayChanged(const platform::Dictionary& status, const NodeConnectionPtr& node) {
  postNodeNotification(kCurrentDelayDidChangeNotification, status, node);
}

void DataSource::nodePlaybackLoopModeChanged(const platform::Dictionary& status, const NodeConnectionPtr& node) {
  postNodeNotification(kPlaybackLoopModeDidChangeNotification, status, node);
}

void DataSource::nodePlaybackChainModeChanged(const platform::Dictionary& status, const NodeConnectionPtr& node) {
  postNodeNotification(kPlaybackChainModeDidChangeNotification, status, node);
}

void DataSource::nodePlaybackCueModeChanged(const platform::Dictionary& status, const NodeConnectionPtr& node) {
  postNodeNotification(kPlaybackCueModeDidChangeNotification, status, node);
}

void DataSource::nodeAuthenticationChanged(const platform::Dictionary& status, const NodeConnectionPtr& node) {
  postNodeNotification(kPlaybackAuthenticationDidChangeNotification, status, node);
}

void DataSource::nodePlaybackClipPositionChanged(const platform::Dictionary& status, const NodeConnectionPtr& node) {
  postNodeNotification(kPlaybackClipPositionDidChangeNotification, status, node);
}

void DataSource::nodeSchedulerCurrentItemPathChanged(const platform::Dictionary& status,
                                                     const NodeConnectionPtr& node) {
  postNodeNotification(kSchedulerCurrentItemPathDidChangeNotification, status, node);
}

void DataSource::nodeScheduleUniqueIDDidChange(const std::string& scheduleUniqueID, const NodeConnectionPtr& node) {
  postNodeNotification(kScheduleUniqueIDDidChangeNotification, {{kScheduleUniqueIDKey, Value(scheduleUniqueID)}},
                       node);
}

}  // namespace nodes
