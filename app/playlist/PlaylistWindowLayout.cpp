#include "app/playlist/PlaylistWindowLayout.h"

namespace app {

PlaylistNodeControlsFrames layoutNodeControls(PlaylistNodeControlsFrames frames, double windowWidth, bool abRoll) {
  if (abRoll) {
    frames.nodeAPopUp.width = 100.0;
    frames.pbControlView.x = 120.0;
    frames.optionsContentView.x = windowWidth - 275.0;
    frames.nodeBPopUp.width = 100.0;
    frames.nodeBPopUp.x = windowWidth - 106.0;
    frames.nodeBFieldShown = true;
  } else {
    frames.nodeAPopUp.width = 160.0;
    frames.pbControlView.x = windowWidth / 2.0 - frames.pbControlView.width / 2.0;
    frames.optionsContentView.x = windowWidth - 170.0;
    frames.nodeBPopUp.x = windowWidth;
    frames.nodeBFieldShown = false;
  }
  return frames;
}

}  // namespace app
