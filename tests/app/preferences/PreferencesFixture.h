#pragma once
// A preferences window controller over defaults in a temporary folder, its
// own notification centre, a scripted node list, scripted GPI boxes and a
// recording alert presenter, with small metadata tables.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "app/preferences/PreferencesWindowController.h"
#include "app/shell/RegisteredDefaults.h"
#include "foundation/AlertPresenter.h"
#include "foundation/RecordingAlertPresenter.h"
#include "platform/NotificationCenter.h"
#include "platform/UserDefaults.h"
#include "tests/support/TemporaryDirectory.h"

namespace app::preferences {

class FakeNodeSource final : public PreferencesNodeSource {
 public:
  std::vector<PreferencesNode> nodes() const override { return list; }
  void createStaticNode(const nodes::StaticNodeInfo& info) override { created.push_back(info); }
  void deleteStaticNode(const nodes::StaticNodeInfo& info) override { deleted.push_back(info); }

  std::vector<PreferencesNode> list;
  std::vector<nodes::StaticNodeInfo> created;
  std::vector<nodes::StaticNodeInfo> deleted;
};

inline MetadataTables smallMetadataTables() {
  return {{{"artist", "Artist"}, {"encoder", "Encoder"}, {"title", "Title"}},
          {{"title", true}, {"encoder", false}},
          {{"comment", "Comment"}, {"title", "Title"}}};
}

class PreferencesFixture : public testing::Test {
 protected:
  PreferencesFixture() {
    registerApplicationDefaults(defaults);
    nodeSource.list = {{"id-a", "Studio A", "10.0.0.1", true}, {"id-b", "Studio B", "10.0.0.2", true},
                       {"id-c", "", "10.0.0.3", false}};
    changes = center.addObserver(kMetadataEntriesDidChangeNotification, nullptr,
                                 [this](const platform::Notification& notification) {
                                   EXPECT_FALSE(notification.object.has_value());
                                   EXPECT_EQ(notification.sender, nullptr);
                                   ++metadataChanges;
                                 });
  }

  // The controller with its window loaded.
  PreferencesWindowController& load() {
    controller = std::make_unique<PreferencesWindowController>(PreferencesWindowController::Services{
        defaults, center, nodeSource, [this] { return boxSerials; }, smallMetadataTables()});
    controller->windowDidLoad();
    return *controller;
  }

  std::vector<std::string> titles(const char* outlet) const {
    std::vector<std::string> result;
    for (const PopUpItem& item : controller->control(outlet).items) result.push_back(item.title);
    return result;
  }

  std::string chosenTitle(const char* outlet) const {
    const ControlState& popUp = controller->control(outlet);
    return popUp.selectedItem ? popUp.items.at(*popUp.selectedItem).title : "(none)";
  }

  testing_support::TemporaryDirectory home;
  platform::UserDefaults defaults{home / "defaults.plist"};
  platform::NotificationCenter center;
  FakeNodeSource nodeSource;
  std::vector<std::string> boxSerials;
  std::shared_ptr<foundation::RecordingAlertPresenter> alerts = std::make_shared<foundation::RecordingAlertPresenter>();
  foundation::ScopedAlertPresenter scopedAlerts{alerts};
  int metadataChanges = 0;
  platform::ObserverToken changes;
  std::unique_ptr<PreferencesWindowController> controller;
};

}  // namespace app::preferences
