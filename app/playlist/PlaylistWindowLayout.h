#pragma once
// PlaylistWindowLayout: where the node controls of a playlist window stand
// in its top bar, with and without A/B roll. Without it, node A's pop-up is
// wide, the transport is centred and node B's pop-up is pushed out of sight
// past the right edge; with it, both pop-ups are narrow and the transport
// moves next to node A's pop-up. Only x and width change; every other
// coordinate keeps its value.
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

PlaylistNodeControlsFrames layoutNodeControls(PlaylistNodeControlsFrames frames, double windowWidth, bool abRoll);

}  // namespace app
