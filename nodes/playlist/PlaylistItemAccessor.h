#pragma once
// PlaylistItemAccessor: the small copyable reference through which table
// cells hold a row's item. It refers to a PlaylistItem without owning it: once
// the item is gone, playlistItem() answers nullptr. A copy refers to the same
// item. The playlist document keeps one accessor and re-points it for each
// row it hands out.
//
// A plain value used on the main thread.

#include <memory>

#include "nodes/playlist/PlaylistItem.h"

namespace nodes {

class PlaylistItemAccessor {
 public:
  PlaylistItemAccessor() = default;  // no item
  explicit PlaylistItemAccessor(const std::shared_ptr<PlaylistItem>& item) : playlistItem_(item) {}

  std::shared_ptr<PlaylistItem> playlistItem() const { return playlistItem_.lock(); }
  void setPlaylistItem(const std::shared_ptr<PlaylistItem>& item) { playlistItem_ = item; }

 private:
  std::weak_ptr<PlaylistItem> playlistItem_;  // not owned
};

}  // namespace nodes
