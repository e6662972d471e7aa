#pragma once
// MetadataClipInspectorViewController: the metadata of the one inspected clip,
// in the order and with the keys the metadata display preferences choose
// ("metadataOrderDict", "metadataShowDict"); refreshed when they change.
// It reads the inspector's own selection, so media browser clips show too.
// Read-only.
//
// Owned by the window controller. Main thread only.

#include <string>
#include <vector>

#include "app/inspector/ClipInspectorViewController.h"
#include "nodes/media/Metadata.h"

namespace app::inspector {

struct MetadataPaneState {
  std::string selectionValidation;
  bool scrollViewHidden = true;
  std::vector<nodes::Metadata> metadataArrayFiltered;
};

class MetadataClipInspectorViewController final : public ClipInspectorViewController {
 public:
  explicit MetadataClipInspectorViewController(ClipInspectorContext& context);

  void updateContents() override;
  const MetadataPaneState& state() const { return state_; }
  // Table data source: the entry's value under a column identifier ("key",
  // "value", "type"); none for other columns or rows.
  std::optional<std::string> objectValue(const std::string& columnIdentifier, std::size_t row) const;

 private:
  MetadataPaneState state_;
  platform::ObserverToken entriesObserver_;
};

// The entries of `metadata` in display order: by position in `order`
// ("0", "1", ...), each key's entries in the item's order, only keys `shown`
// marks true.
std::vector<nodes::Metadata> filteredMetadata(const std::vector<nodes::Metadata>& metadata,
                                              const platform::Dictionary& order, const platform::Dictionary& shown);

}  // namespace app::inspector
