#include "app/browser/MediaBrowserRowAppearance.h"

#include <array>

namespace app::browser {

namespace {

constexpr std::int32_t kValid = 2;
constexpr std::int32_t kInvalid = 1;
constexpr std::int32_t kNotValidated = 0;

}  // namespace

RowAppearance nameCellAppearance(const MediaCollectionNode& node, bool highlighted) {
  const auto colour = [highlighted](RowTextColour normal, RowTextColour lit) { return highlighted ? lit : normal; };
  if (!node.isLeaf()) return {kGenericFolderImage, colour(RowTextColour::Black, RowTextColour::White)};
  if (!node.online()) return {kGenericMovieImageOffline, colour(RowTextColour::Grey, RowTextColour::White)};
  switch (node.validationStatus()) {
    case kValid:
      return {node.isLiveClip() ? kSmallZiraClipIcon : kGenericMovieImage,
              colour(RowTextColour::Black, RowTextColour::White)};
    case kInvalid:
      return {kGenericInvalidMovieImage, colour(RowTextColour::Grey, RowTextColour::LightGrey)};
    case kNotValidated:
      return {kGenericMovieImageOffline, colour(RowTextColour::Grey, RowTextColour::LightGrey)};
    default:
      return {std::nullopt, colour(RowTextColour::Black, RowTextColour::White)};
  }
}

RowTextColour textCellColour(const MediaCollectionNode& node, bool highlighted) {
  if (highlighted) return RowTextColour::White;
  return node.validationStatus() == kValid && node.online() ? RowTextColour::Black : RowTextColour::Grey;
}

std::string invalidClipToolTip(std::int32_t invalidReason) {
  static constexpr std::array<const char*, 9> kReasons = {
      "Invalid Clip (file not found)",
      "Invalid Clip (not a movie file)",
      "Invalid Clip (movie is not self-contained)",
      "Invalid Clip (movie is not thread-safe)",
      "Invalid Clip (video codec not found)",
      "Invalid Clip (video codec not supported)",
      "Invalid Clip (movie does not have a video track)",
      "Invalid Clip (movie contains no audio tracks)",
      "Invalid Clip (movie contains invalid audio tracks)",
  };
  if (invalidReason >= 1 && invalidReason <= static_cast<std::int32_t>(kReasons.size())) {
    return kReasons[static_cast<std::size_t>(invalidReason - 1)];
  }
  return "Invalid Clip (reason unknown)";
}

std::optional<std::string> toolTipForNode(const MediaCollectionNode& node) {
  if (!node.isLeaf()) return std::nullopt;
  if (node.validationStatus() == kValid) return node.videoCodecDescription();
  return invalidClipToolTip(node.invalidReason());
}

FinderLabelValue finderLabelValue(const MediaCollectionNode& node) {
  return {node.finderLabelName(), node.validationStatus(), node.finderLabelIndex(),
          node.validationStatus() == kValid && node.online()};
}

std::optional<std::vector<std::shared_ptr<nodes::PlaylistItem>>> draggedClips(
    const std::vector<MediaCollectionNodePtr>& rows) {
  std::vector<std::shared_ptr<nodes::PlaylistItem>> clips;
  for (const auto& row : rows) {
    if (!row || !row->isLeaf() || !row->playlistItem()) return std::nullopt;
    if (row->validationStatus() == kValid || !row->online()) clips.push_back(row->playlistItem());
  }
  if (clips.empty()) return std::nullopt;
  return clips;
}

}  // namespace app::browser
