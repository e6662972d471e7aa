#include "nodes/playlist/PlaylistItemPasteboard.h"

namespace nodes {
namespace {

// The archived array: its items under one key.
class PlaylistItemArray final : public platform::Archivable {
 public:
  explicit PlaylistItemArray(std::vector<std::shared_ptr<PlaylistItem>> items) : items_(std::move(items)) {}

  std::string className() const override { return kPlaylistItemArrayClassName; }
  void encode(platform::KeyedArchiveEncoder& encoder) const override {
    encoder.encodeObjects(kPlaylistItemArrayItemsKey, items_);
  }
  static platform::Result<std::shared_ptr<platform::Archivable>> decode(const platform::KeyedArchiveDecoder& decoder) {
    if (!decoder.contains(kPlaylistItemArrayItemsKey)) {
      return std::shared_ptr<platform::Archivable>(
          std::make_shared<PlaylistItemArray>(std::vector<std::shared_ptr<PlaylistItem>>{}));
    }
    auto items = decoder.decodeObjectsAs<PlaylistItem>(kPlaylistItemArrayItemsKey);
    if (!items.ok()) return items.error();
    return std::shared_ptr<platform::Archivable>(std::make_shared<PlaylistItemArray>(std::move(*items)));
  }

  std::vector<std::shared_ptr<PlaylistItem>>& items() { return items_; }

 private:
  std::vector<std::shared_ptr<PlaylistItem>> items_;
};

}  // namespace

platform::Result<std::string> archivedPlaylistItems(const std::vector<std::shared_ptr<PlaylistItem>>& items) {
  std::vector<std::shared_ptr<PlaylistItem>> copies;
  copies.reserve(items.size());
  for (const auto& item : items) {
    if (item) copies.push_back(item->copy());
  }
  return platform::archivedData(PlaylistItemArray(std::move(copies)));
}

platform::Result<std::vector<std::shared_ptr<PlaylistItem>>> unarchivePlaylistItems(
    std::string_view bytes, platform::KeyedArchiveRegistry& registry) {
  PlaylistItem::registerArchiveClass(registry);
  registry.registerClass(kPlaylistItemArrayClassName, &PlaylistItemArray::decode);
  auto array = platform::unarchiveAs<PlaylistItemArray>(bytes, registry);
  if (!array.ok()) return array.error();
  return std::move((*array)->items());
}

}  // namespace nodes
