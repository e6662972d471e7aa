#pragma once
// A PlaylistNodeControl for window tests: node statuses set by the test, and
// every node action recorded as a short text ("play A r1", "send r2 cue",
// "stop B", ...). Answers to unlock and redundant-mode commands are held
// until the test delivers them.

#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "app/playlist/PlaylistNodeControl.h"
#include "nodes/link/NodeConnection.h"
#include "nodes/playlist/VideoPlaylistDocument.h"

namespace app_testing {

inline constexpr const char* kPlaylistID = "PL";

// A "pbstatus" dictionary: the status word, this playlist (or `playlist`),
// the clip of row `row` ("r<row>", none for a negative row) and a position.
inline platform::Dictionary nodeStatus(const std::string& word, int row = -1, double position = 0.0,
                                       const std::string& playlist = kPlaylistID) {
  platform::Dictionary status{{nodes::kNodeStatusStatusKey, platform::Value(word)},
                              {nodes::kNodeStatusPlaylistUniqueIDKey, platform::Value(playlist)},
                              {nodes::kNodeStatusPositionKey, platform::Value(position)},
                              {nodes::kNodeStatusIsAuthenticatedKey, platform::Value(true)}};
  if (row >= 0) status[nodes::kNodeStatusClipPlaybackUniqueIDKey] = platform::Value("r" + std::to_string(row));
  return status;
}

// A document "PL" with `count` online rows "r0".."r<count-1>" of 60 s each
// (a display name "Clip <n>"), node A "A" and node B "B"; with A/B roll the
// rows alternate between the nodes (no row chains) and each row's node is
// the one of its position.
inline std::shared_ptr<nodes::VideoPlaylistDocument> makeDocument(int count, bool abRoll,
                                                                  double secondsPerRow = 60.0) {
  auto document = std::make_shared<nodes::VideoPlaylistDocument>();
  document->setUniqueID(kPlaylistID);
  document->setNodeAUniqueID("A");
  document->setNodeAName("Node A");
  document->setNodeBUniqueID("B");
  document->setNodeBName("Node B");
  document->setNeedDefaultValues(false);
  document->setAbRoll(abRoll);
  nodes::VideoPlaylistDocument::Rows rows;
  for (int i = 0; i < count; ++i) {
    auto item = std::make_shared<nodes::PlaylistItem>();
    item->update([&](nodes::PlaylistItemFields& fields) {
      fields.playbackUniqueID = "r" + std::to_string(i);
      fields.displayName = "Clip " + std::to_string(i);
      fields.mediaItemDurationInSeconds = secondsPerRow;
      fields.framesPerSecond = 25.0;
      fields.online = true;
      fields.nodeUniqueID = "A";
    });
    rows.push_back(std::move(item));
  }
  document->setPlaylist(std::move(rows));
  document->updateBubbleDirections();
  for (const auto& item : document->playlist()) {
    if (item->abRollClipPosition() == nodes::ABRollClipPosition::NodeB) item->setNodeUniqueID("B");
  }
  document->updatePlaylistMovieAndStartTimes();
  return document;
}

class FakePlaylistNodeControl final : public app::PlaylistNodeControl {
 public:
  std::map<std::string, platform::Dictionary, std::less<>> statuses;
  std::set<std::string, std::less<>> unlocked{"A", "B"};
  std::set<std::string, std::less<>> inSlaveMode;
  std::set<std::string, std::less<>> connections{"A", "B"};
  std::vector<app::PlaylistNodeIdentity> nodes;
  std::map<std::string, std::set<std::string>, std::less<>> offeredAttributes;
  std::map<std::string, std::shared_ptr<nodes::PlaylistItem>, std::less<>> catalogue;
  std::map<std::string, std::vector<std::string>, std::less<>> nodePlaylists;  // playback IDs by node
  std::vector<std::string> commands;
  std::vector<AnswerHandler> pendingAnswers;  // in the order the commands were sent

  std::optional<platform::Dictionary> nodeControlStatus(std::string_view node) const override {
    const auto found = statuses.find(node);
    if (found == statuses.end()) return std::nullopt;
    return found->second;
  }
  bool isNodeUnlocked(std::string_view node) const override { return unlocked.contains(node); }
  bool isNodeInSlaveMode(std::string_view node) const override { return inSlaveMode.contains(node); }
  bool hasNodeConnection(std::string_view node) const override { return connections.contains(node); }
  std::vector<app::PlaylistNodeIdentity> nodeList() const override { return nodes; }
  bool nodeOffersClipAttribute(std::string_view node, std::string_view name) const override {
    const auto found = offeredAttributes.find(node);
    return found != offeredAttributes.end() && found->second.contains(std::string(name));
  }
  std::shared_ptr<nodes::PlaylistItem> catalogueClipWithUniqueID(std::string_view clip) const override {
    const auto found = catalogue.find(clip);
    return found == catalogue.end() ? nullptr : found->second;
  }

  void nodeControlSendAndStartPlaylistDocument(const std::shared_ptr<nodes::VideoPlaylistDocument>&,
                                               const std::optional<std::string>& clip, double,
                                               bool cue) override {
    commands.push_back("send " + clip.value_or("-") + (cue ? " cue" : " play"));
  }
  void nodeControlPlaybackPlayUniqueIDToStart(std::string_view node, const std::optional<std::string>& clip,
                                              std::uint64_t) override {
    commands.push_back("play " + std::string(node) + (clip ? " " + *clip : std::string()));
  }
  void nodeControlPlaybackCue(std::string_view node, std::string_view clip, std::uint64_t) override {
    commands.push_back("cue " + std::string(node) + " " + std::string(clip));
  }
  void nodeControlPlaybackPause(std::string_view node) override { commands.push_back("pause " + std::string(node)); }
  void nodeControlPlaybackStop(std::string_view node) override { commands.push_back("stop " + std::string(node)); }
  void setPlaylistDocument(std::string_view, const std::shared_ptr<nodes::VideoPlaylistDocument>&) override {}
  void nodeControlPlaybackScrubToTime(std::string_view node, double seconds) override {
    commands.push_back("scrub " + std::string(node) + " " + std::to_string(static_cast<int>(seconds)));
  }
  std::vector<std::string> nodePlaylistPlaybackUniqueIDs(std::string_view node) const override {
    const auto found = nodePlaylists.find(node);
    return found == nodePlaylists.end() ? std::vector<std::string>{} : found->second;
  }
  void nodeControlFillDocument(nodes::VideoPlaylistDocument&, std::string_view node) override {
    commands.push_back("fill " + std::string(node));
  }
  // Edits of the node's playlist name the item by its playback unique ID.
  void nodeControlPlaylistInsertItem(nodes::PlaylistItem& item, std::uint64_t index, std::string_view node) override {
    commands.push_back("insert " + std::string(node) + " " + std::to_string(index) + " " +
                       item.playbackUniqueID().value_or("-"));
  }
  void nodeControlPlaylistReplaceItemAtIndex(std::uint64_t index, nodes::PlaylistItem& item,
                                             std::string_view node) override {
    commands.push_back("replace " + std::string(node) + " " + std::to_string(index) + " " +
                       item.playbackUniqueID().value_or("-"));
  }
  void nodeControlPlaylistRemoveItemAtIndex(std::uint64_t index, std::string_view node) override {
    commands.push_back("remove " + std::string(node) + " " + std::to_string(index));
  }
  void nodeControlPlaylistSetLoopMode(std::string_view node, bool on) override {
    commands.push_back("loop " + std::string(node) + (on ? " 1" : " 0"));
  }
  void nodeControlPlaylistSetChainMode(std::string_view node, bool on) override {
    commands.push_back("chain " + std::string(node) + (on ? " 1" : " 0"));
  }
  void nodeControlPlaylistSetCueMode(std::string_view node, bool on) override {
    commands.push_back("cuemode " + std::string(node) + (on ? " 1" : " 0"));
  }
  void nodeControlStopAndClearSchedule(std::string_view node) override {
    commands.push_back("stopschedule " + std::string(node));
  }
  void requestThumbnail(std::string_view item, std::string_view folder, std::string_view node,
                        double position) override {
    commands.push_back("thumbnail " + std::string(node) + " " + std::string(folder) + "/" + std::string(item) + " " +
                       std::to_string(position));
  }
  void nodeLock(std::string_view node) override { commands.push_back("lock " + std::string(node)); }
  void nodeUnlock(std::string_view node, std::string_view password, AnswerHandler answer) override {
    commands.push_back("unlock " + std::string(node) + " " + std::string(password));
    pendingAnswers.push_back(std::move(answer));
  }
  void nodeControlSetSlaveMode(bool on, std::string_view node, AnswerHandler answer) override {
    commands.push_back("slavemode " + std::string(node) + (on ? " 1" : " 0"));
    pendingAnswers.push_back(std::move(answer));
  }

  // Delivers the reply to the oldest command still waiting for one.
  void answer(const std::string& reply) {
    auto handler = std::move(pendingAnswers.front());
    pendingAnswers.erase(pendingAnswers.begin());
    handler(reply);
  }
  std::vector<std::string> takeCommands() { return std::exchange(commands, {}); }
};

}  // namespace app_testing
