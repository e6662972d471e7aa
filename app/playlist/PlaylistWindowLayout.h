#pragma once
// PlaylistWindowLayout: where the node controls of a playlist window stand
// in its top bar, with and without A/B roll. Without it, node A's pop-up is
// wide, the transport is centred and node B's pop-up is pushed out of sight
// past the right edge; with it, both pop-ups are narrow and the transport
// moves next to node A's pop-up. Only x and width change; every other
// coordinate keeps its value.
//
// The pop-ups start at the widths of the classic layout. A pop-up whose
// node name needs more room takes it from the free space between the
// transport and the mode buttons: node A's pushes the transport right, node
// B's pushes the mode buttons left, never so far that the two groups touch.
// When both want more than there is, each gets half and the rest goes to
// the one that still needs it.
//
// A pure function on plain rectangles; any thread.

#include "app/playlist/PlaylistRowCellLayout.h"

namespace app {

struct PlaylistNodeControlsFrames {
  LayoutRect nodeAPopUp;
  LayoutRect pbControlView;       // the transport and the lock buttons
  LayoutRect optionsContentView;  // the mode buttons
  LayoutRect nodeBPopUp;
  bool nodeBFieldShown = false;
  friend bool operator==(const PlaylistNodeControlsFrames&, const PlaylistNodeControlsFrames&) = default;
};

// The widths the pop-ups need to show their selected names whole (0: no wish).
struct NodePopUpWidthsWanted {
  double nodeA = 0.0;
  double nodeB = 0.0;
};

// The least room kept between the transport and the mode buttons.
inline constexpr double kNodeControlsMinimumGap = 8.0;

PlaylistNodeControlsFrames layoutNodeControls(PlaylistNodeControlsFrames frames, double windowWidth, bool abRoll,
                                              NodePopUpWidthsWanted wanted = {});

}  // namespace app
