#pragma once
// AttributesClipInspectorViewController: the Attributes pane: the writable
// clip attributes the node of the inspected clips declares, as an outline of
// plug-ins (sorted by name, case-insensitively) with one editor per
// attribute (kept across selections). Edits go into the selected clips'
// attribute dictionaries and, when the playlist plays on a node, to the node
// at once; otherwise (and in A/B roll as well) the playlist windows are told.
//
// Owned by the window controller. Main thread only.

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "app/inspector/AttributeViewController.h"
#include "app/inspector/ClipInspectorViewController.h"

namespace app::inspector {

inline constexpr const char* kSelectionFromMultipleNodesText = "Selection from Multiple Nodes";
inline constexpr const char* kPossibleClipAttributeDidChangeNotification = "possibleClipAttributeDidChange";

struct AttributesPaneState {
  std::string selectionValidation;
  bool scrollViewHidden = true;
  // Plug-in names in outline order, with their attribute names.
  std::vector<std::pair<std::string, std::vector<std::string>>> plugins;
};

class AttributesClipInspectorViewController final : public ClipInspectorViewController, public AttributeDataSource {
 public:
  explicit AttributesClipInspectorViewController(ClipInspectorContext& context);

  void updateContents() override;
  void updatePluginViewControllersWithClipAttributes(const std::vector<std::shared_ptr<nodes::Attribute>>& attributes);
  bool nodeUsedIsUnlocked() const override;
  void disabledPluginsInterface(bool disabled) override;
  void desableControls() override { disabledPluginsInterface(true); }
  void enableControls() override { disabledPluginsInterface(false); }
  // Ends any edit in progress: the editors save their typed values.
  void saveAllChanges() override;

  // AttributeDataSource.
  std::optional<std::string> valueForAttributeName(const std::string& name) const override;
  void setValue(const std::optional<std::string>& value, const std::string& name) override;
  void recordChange() override;

  const AttributesPaneState& state() const { return state_; }
  AttributeViewController* editor(const std::string& attributeName) const;
  // The plug-in rows the operator expanded, kept across reloads.
  const std::set<std::string>& openPluginNames() const { return openPluginNames_; }
  void outlineViewItemWillExpand(const std::string& pluginName) { openPluginNames_.insert(pluginName); }
  void outlineViewItemWillCollapse(const std::string& pluginName) { openPluginNames_.erase(pluginName); }

 private:
  void replaceCurrentClipsInCurrentNode();
  void hideOutline(const char* reason);

  AttributesPaneState state_;
  std::set<std::string> openPluginNames_;
  std::map<std::string, std::unique_ptr<AttributeViewController>> attributeViewControllers_;
  bool interfaceDisabled_ = false;
  platform::ObserverToken attributesObserver_;
};

}  // namespace app::inspector
