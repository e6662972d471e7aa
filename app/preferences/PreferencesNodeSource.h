#pragma once
// What the preferences window needs of the node list: the connections (for
// the default-node and media-folder pop-ups) and the saved hand-entered
// nodes it adds and removes. The application's is the data source
// (DataSourcePreferencesNodeSource); tests give their own.
//
// Main thread.

#include <string>
#include <vector>

#include "nodes/media/StaticNodeInfo.h"

namespace app::preferences {

struct PreferencesNode {
  std::string nodeUniqueID;
  std::string name;
  std::string address;
  bool discoveredByNetServices = false;
  friend bool operator==(const PreferencesNode&, const PreferencesNode&) = default;
};

class PreferencesNodeSource {
 public:
  virtual ~PreferencesNodeSource() = default;
  virtual std::vector<PreferencesNode> nodes() const = 0;
  // Stores the node in the saved list and connects it.
  virtual void createStaticNode(const nodes::StaticNodeInfo& info) = 0;
  // Removes the node from the saved list.
  virtual void deleteStaticNode(const nodes::StaticNodeInfo& info) = 0;
};

}  // namespace app::preferences
