#pragma once
// The preferences window's node list over the application's data source.
// Holds the data source weakly: once it is gone the list is empty and adds
// and removes do nothing. Main thread.

#include <memory>

#include "app/preferences/PreferencesNodeSource.h"
#include "nodes/link/DataSource.h"

namespace app::preferences {

class DataSourcePreferencesNodeSource final : public PreferencesNodeSource {
 public:
  explicit DataSourcePreferencesNodeSource(std::weak_ptr<nodes::DataSource> dataSource)
      : dataSource_(std::move(dataSource)) {}

  std::vector<PreferencesNode> nodes() const override;
  void createStaticNode(const nodes::StaticNodeInfo& info) override;
  void deleteStaticNode(const nodes::StaticNodeInfo& info) override;

 private:
  std::weak_ptr<nodes::DataSource> dataSource_;
};

}  // namespace app::preferences
