#include "app/inspector/DelegateClipInspectorContext.h"

#include "app/shell/ApplicationDelegate.h"
#include "foundation/CVNAlertUtilities.h"
#include "nodes/link/DataSource.h"
#include "nodes/link/NodeConnection.h"

namespace app::inspector {

DelegateClipInspectorContext::DelegateClipInspectorContext(std::function<ApplicationDelegate*()> delegate,
                                                           platform::UserDefaults& defaults,
                                                           platform::NotificationCenter& center)
    : delegate_(std::move(delegate)), defaults_(defaults), center_(center) {}

nodes::DataSource* DelegateClipInspectorContext::dataSource() const {
  ApplicationDelegate* delegate = delegate_();
  return delegate ? delegate->dataSource().get() : nullptr;
}

PlaylistItems DelegateClipInspectorContext::mediaBrowserSelectedPlaylistItems() const {
  ApplicationDelegate* delegate = delegate_();
  return delegate ? delegate->mediaBrowserSelectedPlaylistItems() : PlaylistItems{};
}

std::shared_ptr<nodes::VideoPlaylistDocument> DelegateClipInspectorContext::currentPlaylistDocument() const {
  ApplicationDelegate* delegate = delegate_();
  return delegate ? delegate->currentPlaylistDocument() : nullptr;
}

std::optional<platform::Dictionary> DelegateClipInspectorContext::nodeControlStatus(std::string_view nodeUniqueID) const {
  nodes::DataSource* source = dataSource();
  return source ? source->nodeControlStatus(nodeUniqueID) : std::nullopt;
}

bool DelegateClipInspectorContext::isNodeUnlocked(std::string_view nodeUniqueID) const {
  nodes::DataSource* source = dataSource();
  return source && source->isNodeUnlocked(nodeUniqueID);
}

std::vector<std::shared_ptr<nodes::Attribute>> DelegateClipInspectorContext::possibleClipAttributes(
    std::string_view nodeUniqueID) const {
  nodes::DataSource* source = dataSource();
  const auto connection = source ? source->nodeConnectionWithNodeUniqueID(nodeUniqueID) : nullptr;
  return connection ? connection->possibleClipAttributes() : std::vector<std::shared_ptr<nodes::Attribute>>{};
}

void DelegateClipInspectorContext::nodeControlPlaylistReplaceItemAtIndex(std::uint64_t index, nodes::PlaylistItem& item,
                                                                         std::string_view nodeUniqueID) {
  if (nodes::DataSource* source = dataSource()) source->nodeControlPlaylistReplaceItemAtIndex(index, item, nodeUniqueID);
}

void DelegateClipInspectorContext::addOrUpdateClips(const PlaylistItems& items) {
  if (nodes::DataSource* source = dataSource()) source->addOrUpdateClips(items);
}

void DelegateClipInspectorContext::runWarningAlert(const std::string& title, const std::string& message) {
  foundation::CVNAlertUtilities::runWarningAlertPanelWithTitle(title, message, {"OK"});
}

}  // namespace app::inspector
