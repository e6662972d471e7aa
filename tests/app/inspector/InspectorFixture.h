#pragma once
// A clip inspector over a fake context: nodes with statuses and locks, the
// attributes they offer, a playlist document, a media browser selection, and
// records of node replacements, alerts and "inspectorDidChangeClips".

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "app/inspector/ClipInspectorWindowController.h"
#include "nodes/media/Attribute.h"
#include "nodes/playlist/PlaylistItem.h"
#include "nodes/playlist/VideoPlaylistDocument.h"

namespace app::inspector::testing {

inline constexpr const char* kNodeA = "node-a";
inline constexpr const char* kNodeB = "node-b";

struct Replacement {
  std::uint64_t index;
  std::string node;
  friend bool operator==(const Replacement&, const Replacement&) = default;
};

class FakeContext final : public ClipInspectorContext {
 public:
  PlaylistItems mediaBrowserSelectedPlaylistItems() const override { return browserSelection; }
  std::shared_ptr<nodes::VideoPlaylistDocument> currentPlaylistDocument() const override { return current; }
  std::optional<platform::Dictionary> nodeControlStatus(std::string_view node) const override {
    const auto found = playlistOnNode.find(std::string(node));
    if (found == playlistOnNode.end()) return platform::Dictionary{};
    return platform::Dictionary{{"playlistUniqueID", platform::Value(found->second)}};
  }
  bool isNodeUnlocked(std::string_view node) const override { return unlocked.contains(std::string(node)); }
  std::vector<std::shared_ptr<nodes::Attribute>> possibleClipAttributes(std::string_view node) const override {
    const auto found = attributes.find(std::string(node));
    return found == attributes.end() ? std::vector<std::shared_ptr<nodes::Attribute>>{} : found->second;
  }
  void nodeControlPlaylistReplaceItemAtIndex(std::uint64_t index, nodes::PlaylistItem&, std::string_view node) override {
    replacements.push_back({index, std::string(node)});
  }
  void addOrUpdateClips(const PlaylistItems& items) override { updatedClips += items.size(); }
  void runWarningAlert(const std::string&, const std::string& message) override { alerts.push_back(message); }
  platform::NotificationCenter& notificationCenter() override { return center; }
  platform::UserDefaults& defaults() override { return userDefaults; }

  PlaylistItems browserSelection;
  std::shared_ptr<nodes::VideoPlaylistDocument> current;
  std::map<std::string, std::string> playlistOnNode;  // node -> playlist unique ID it plays
  std::set<std::string> unlocked;
  std::map<std::string, std::vector<std::shared_ptr<nodes::Attribute>>> attributes;
  std::vector<Replacement> replacements;
  std::vector<std::string> alerts;
  std::size_t updatedClips = 0;
  platform::NotificationCenter center;
  platform::UserDefaults userDefaults{""};
};

inline std::shared_ptr<nodes::PlaylistItem> makeClip(const std::string& name, const std::string& node = kNodeA) {
  auto item = std::make_shared<nodes::PlaylistItem>();
  item->setDisplayName(name);
  item->setNodeUniqueID(node);
  item->setNodeName(node == kNodeA ? "Studio A" : "Studio B");
  item->setFramesPerSecond(25);
  item->setMediaItemDurationInSeconds(10);
  item->setNaturalSizeWidth(1920);
  item->setNaturalSizeHeight(1080);
  item->setUniqueID(name + "-id");
  item->setPlaybackUniqueID(name + "-playback");
  return item;
}

inline std::shared_ptr<nodes::Attribute> makeAttribute(const std::string& plugin, const std::string& name,
                                                       std::optional<std::string> defaultValue = std::nullopt,
                                                       std::vector<std::string> possible = {}, bool writable = true) {
  auto attribute = std::make_shared<nodes::Attribute>();
  attribute->setPluginName(plugin);
  attribute->setName(name);
  attribute->setDisplayName(name);
  attribute->setDefaultValue(std::move(defaultValue));
  if (!possible.empty()) attribute->setPossibleValues(std::move(possible));
  attribute->setIsWritable(writable);
  return attribute;
}

class InspectorTest : public ::testing::Test {
 protected:
  InspectorTest() {
    document->setUniqueID("playlist-1");
    document->setNodeAUniqueID(std::string(kNodeA));
    document->setNodeBUniqueID(std::string(kNodeB));
    document->setPlaylist({makeClip("one"), makeClip("two"), makeClip("three")});
    context.current = document;
    context.unlocked = {kNodeA, kNodeB};
    changes = context.center.addObserver(kInspectorDidChangeClipsNotification, nullptr,
                                         [this](const platform::Notification& n) {
                                           ++changeNotifications;
                                           lastChangeInfo = n.userInfo;
                                         });
    inspector.windowDidLoad();
  }

  // The playlist window selects rows, as it posts it.
  void selectRows(std::set<std::size_t> rows) {
    context.center.post(platform::Notification{kInvoqueInspectorSaveActionsForClipNotification, nullptr, document, {}});
    document->setSelectedClipIndexes(std::move(rows));
    context.center.post(platform::Notification{kPlaylistSelectionChangedNotification, nullptr, document, {}});
  }
  void playlistWindowBecomesKey() {
    context.center.post(platform::Notification{kPlaylistWindowDidBecomeKeyNotification, nullptr, document, {}});
  }
  std::shared_ptr<nodes::PlaylistItem> clip(std::size_t row) { return document->clipAtIndex(static_cast<std::int64_t>(row)); }

  FakeContext context;
  std::shared_ptr<nodes::VideoPlaylistDocument> document = std::make_shared<nodes::VideoPlaylistDocument>();
  ClipInspectorWindowController inspector{context};
  int changeNotifications = 0;
  platform::Dictionary lastChangeInfo;
  platform::ObserverToken changes;
};

}  // namespace app::inspector::testing
