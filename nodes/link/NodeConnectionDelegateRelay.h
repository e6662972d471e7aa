#pragma once
// NodeConnectionDelegateRelay: the delegate a data source gives its
// connections. It forwards every call to its target until detach(), so a
// polling thread that is inside a delegate call can never be the one that
// destroys the data source (it holds the relay, not the data source), and a
// data source being destroyed first waits for calls already inside it.
//
// Shared (std::shared_ptr) by the data source and, weakly, by its
// connections. Any thread. detach() waits (at most kDetachWaitLimit) for the
// calls in progress on other threads; those calls must not wait for the
// thread that detaches (the data source's delegate operations never wait for
// the main thread). A detach from inside a forwarded call (an observer that
// drops the data source) does not wait for that call itself.

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "nodes/link/NodeConnectionDelegate.h"
#include "platform/Diagnostics.h"

namespace nodes {

class NodeConnectionDelegateRelay final : public NodeConnectionDelegate {
 public:
  static constexpr std::chrono::seconds kDetachWaitLimit{10};

  explicit NodeConnectionDelegateRelay(NodeConnectionDelegate* target) : target_(target) {}

  // No new call reaches the target once this returns, and the calls of other
  // threads have left it.
  void detach() {
    const auto& active = callsOnThisThread();
    const auto mine = static_cast<std::size_t>(std::count(active.begin(), active.end(), this));
    std::unique_lock lock(mutex_);
    target_ = nullptr;
    if (!callsLeft_.wait_for(lock, kDetachWaitLimit, [&] { return calls_ == mine; }))
      platform::reportDiagnostic(platform::DiagnosticLevel::Error,
                                 "NodeConnectionDelegateRelay: a connection report did not end in time");
  }

  void getMediaFoldersForNode(const NodeConnectionPtr& connection) override {
    forward([&](NodeConnectionDelegate& t) { t.getMediaFoldersForNode(connection); });
  }
  std::uint32_t attributesLastChangeNumberInPrefForNode(const NodeConnectionPtr& connection) override {
    std::uint32_t number = 0;
    forward([&](NodeConnectionDelegate& t) { number = t.attributesLastChangeNumberInPrefForNode(connection); });
    return number;
  }
  std::vector<std::shared_ptr<Attribute>> attributesInPrefForNodeWithUniqueID(const std::string& nodeUniqueID) override {
    std::vector<std::shared_ptr<Attribute>> attributes;
    forward([&](NodeConnectionDelegate& t) { attributes = t.attributesInPrefForNodeWithUniqueID(nodeUniqueID); });
    return attributes;
  }
  void saveNodeToPreference(const NodeConnectionPtr& connection) override {
    forward([&](NodeConnectionDelegate& t) { t.saveNodeToPreference(connection); });
  }
  void nodeListDidChange() override {
    forward([&](NodeConnectionDelegate& t) { t.nodeListDidChange(); });
  }
  void nodePlaylistDidChangeForNode(const NodeConnectionPtr& node) override {
    forward([&](NodeConnectionDelegate& t) { t.nodePlaylistDidChangeForNode(node); });
  }

  void nodePlaybackStatusChanged(const platform::Dictionary& s, const NodeConnectionPtr& n) override {
    forward([&](NodeConnectionDelegate& t) { t.nodePlaybackStatusChanged(s, n); });
  }
  void nodePlaybackClipUniqueIDChanged(const platform::Dictionary& s, const NodeConnectionPtr& n) override {
    forward([&](NodeConnectionDelegate& t) { t.nodePlaybackClipUniqueIDChanged(s, n); });
  }
  void nodeLockedClipsChanged(const platform::Dictionary& s, const NodeConnectionPtr& n) override {
    forward([&](NodeConnectionDelegate& t) { t.nodeLockedClipsChanged(s, n); });
  }
  void nodePlaybackPlaylistUniqueIDChanged(const platform::Dictionary& s, const NodeConnectionPtr& n) override {
    forward([&](NodeConnectionDelegate& t) { t.nodePlaybackPlaylistUniqueIDChanged(s, n); });
  }
  void nodeCurrentDateTimeChanged(const platform::Dictionary& s, const NodeConnectionPtr& n) override {
    forward([&](NodeConnectionDelegate& t) { t.nodeCurrentDateTimeChanged(s, n); });
  }
  void nodeFirstEventStartDateTimeChanged(const platform::Dictionary& s, const NodeConnectionPtr& n) override {
    forward([&](NodeConnectionDelegate& t) { t.nodeFirstEventStartDateTimeChanged(s, n); });
  }
  void nodeLastEventEndDateTimeChanged(const platform::Dictionary& s, const NodeConnectionPtr& n) override {
    forward([&](NodeConnectionDelegate& t) { t.nodeLastEventEndDateTimeChanged(s, n); });
  }
  void nodeCurrentDelayChanged(const platform::Dictionary& s, const NodeConnectionPtr& n) override {
    forward([&](NodeConnectionDelegate& t) { t.nodeCurrentDelayChanged(s, n); });
  }
  void nodePlaybackLoopModeChanged(const platform::Dictionary& s, const NodeConnectionPtr& n) override {
    forward([&](NodeConnectionDelegate& t) { t.nodePlaybackLoopModeChanged(s, n); });
  }
  void nodePlaybackChainModeChanged(const platform::Dictionary& s, const NodeConnectionPtr& n) override {
    forward([&](NodeConnectionDelegate& t) { t.nodePlaybackChainModeChanged(s, n); });
  }
  void nodePlaybackCueModeChanged(const platform::Dictionary& s, const NodeConnectionPtr& n) override {
    forward([&](NodeConnectionDelegate& t) { t.nodePlaybackCueModeChanged(s, n); });
  }
  void nodeAuthenticationChanged(const platform::Dictionary& s, const NodeConnectionPtr& n) override {
    forward([&](NodeConnectionDelegate& t) { t.nodeAuthenticationChanged(s, n); });
  }
  void nodePlaybackClipPositionChanged(const platform::Dictionary& s, const NodeConnectionPtr& n) override {
    forward([&](NodeConnectionDelegate& t) { t.nodePlaybackClipPositionChanged(s, n); });
  }
  void nodeSchedulerCurrentItemPathChanged(const platform::Dictionary& s, const NodeConnectionPtr& n) override {
    forward([&](NodeConnectionDelegate& t) { t.nodeSchedulerCurrentItemPathChanged(s, n); });
  }
  void nodeScheduleUniqueIDDidChange(const std::string& id, const NodeConnectionPtr& n) override {
    forward([&](NodeConnectionDelegate& t) { t.nodeScheduleUniqueIDDidChange(id, n); });
  }

  void mediaFoldersDidChange(const NodeMediaFoldersInfo& info) override {
    forward([&](NodeConnectionDelegate& t) { t.mediaFoldersDidChange(info); });
  }
  void markClipsAsOfflineForMediaItemsUniqueIDs(const platform::Array& items) override {
    forward([&](NodeConnectionDelegate& t) { t.markClipsAsOfflineForMediaItemsUniqueIDs(items); });
  }
  void addOrUpdateClipsWithMediaItems(const std::vector<std::shared_ptr<MediaItem>>& items) override {
    forward([&](NodeConnectionDelegate& t) { t.addOrUpdateClipsWithMediaItems(items); });
  }
  void possibleClipAttributeDidChange(const platform::Dictionary& info) override {
    forward([&](NodeConnectionDelegate& t) { t.possibleClipAttributeDidChange(info); });
  }

 private:
  // The relays whose calls the current thread is inside.
  static std::vector<const NodeConnectionDelegateRelay*>& callsOnThisThread() {
    thread_local std::vector<const NodeConnectionDelegateRelay*> active;
    return active;
  }

  template <typename Call>
  void forward(const Call& call) {
    NodeConnectionDelegate* target = nullptr;
    {
      std::lock_guard lock(mutex_);
      if (!target_) return;
      target = target_;
      ++calls_;
    }
    auto& active = callsOnThisThread();
    active.push_back(this);
    struct Leave {
      NodeConnectionDelegateRelay& relay;
      std::vector<const NodeConnectionDelegateRelay*>& active;
      ~Leave() {
        active.pop_back();
        std::lock_guard lock(relay.mutex_);
        --relay.calls_;
        relay.callsLeft_.notify_all();
      }
    } leave{*this, active};
    call(*target);
  }

  std::mutex mutex_;
  std::condition_variable callsLeft_;
  NodeConnectionDelegate* target_;  // guarded by mutex_; not owned, cleared by detach()
  std::size_t calls_ = 0;           // guarded by mutex_; calls inside the target now
};

}  // namespace nodes
