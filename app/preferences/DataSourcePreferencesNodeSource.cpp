#include "app/preferences/DataSourcePreferencesNodeSource.h"

#include "nodes/link/NodeConnection.h"

namespace app::preferences {

std::vector<PreferencesNode> DataSourcePreferencesNodeSource::nodes() const {
  std::vector<PreferencesNode> list;
  const std::shared_ptr<nodes::DataSource> source = dataSource_.lock();
  if (!source) return list;
  for (const nodes::NodeConnectionPtr& connection : source->nodes()) {
    list.push_back({connection->nodeUniqueID(), connection->name(), connection->address(),
                    connection->discoveredByNetServices()});
  }
  return list;
}

void DataSourcePreferencesNodeSource::createStaticNode(const nodes::StaticNodeInfo& info) {
  if (const std::shared_ptr<nodes::DataSource> source = dataSource_.lock()) {
    source->createStaticNodeInPreferenceWithStaticNodeInfo(info);
    // Connect now rather than at the next reconnect tick, so the node is in
    // the pop-ups as soon as it answers.
    source->tryToConnectRegisteredNodes();
  }
}

void DataSourcePreferencesNodeSource::deleteStaticNode(const nodes::StaticNodeInfo& info) {
  if (const std::shared_ptr<nodes::DataSource> source = dataSource_.lock()) {
    source->deleteStaticNodeInPreferenceWithStaticNodeInfo(info);
  }
}

}  // namespace app::preferences
