#pragma once
// How a media browser row looks and what it lets through: its icon and text
// colour, its tool tip, the finder label cell's value, and which rows a drag
// may carry. Pure functions of a node; any thread.

#include <optional>
#include <string>
#include <vector>

#include "app/browser/MediaCollectionNode.h"

namespace app::browser {

// The named images rows show (drawn or taken from the theme by the window).
inline constexpr const char* kGenericFolderImage = "GenericFolderImage";
inline constexpr const char* kGenericMovieImageOffline = "GenericMovieImageOffline";
inline constexpr const char* kSmallZiraClipIcon = "SmallZiraClipIcon";
inline constexpr const char* kGenericMovieImage = "GenericMovieImage";
inline constexpr const char* kGenericInvalidMovieImage = "GenericInvalidMovieImage";

enum class RowTextColour { Black, Grey, White, LightGrey };

struct RowAppearance {
  std::optional<std::string> imageName;  // none: the cell keeps its image
  RowTextColour textColour = RowTextColour::Black;
  friend bool operator==(const RowAppearance&, const RowAppearance&) = default;
};

// The name column's cell (image and text).
RowAppearance nameCellAppearance(const MediaCollectionNode& node, bool highlighted);
// Any other text cell.
RowTextColour textCellColour(const MediaCollectionNode& node, bool highlighted);
// None for a folder.
std::optional<std::string> toolTipForNode(const MediaCollectionNode& node);
std::string invalidClipToolTip(std::int32_t invalidReason);

// The finder label cell's value.
struct FinderLabelValue {
  std::string finderLabelName;
  std::int32_t validationStatus = 0;
  std::int64_t finderLabelIndex = 0;
  bool enabled = false;
  friend bool operator==(const FinderLabelValue&, const FinderLabelValue&) = default;
};
FinderLabelValue finderLabelValue(const MediaCollectionNode& node);

// The clips a drag of these rows carries; none when the drag is refused (a
// folder among the rows, or no clip that may go).
std::optional<std::vector<std::shared_ptr<nodes::PlaylistItem>>> draggedClips(
    const std::vector<MediaCollectionNodePtr>& rows);

}  // namespace app::browser
