#include "app/playlist/PlaylistWindowLayout.h"

#include <algorithm>

namespace app {
namespace {

struct Growth {
  double nodeA = 0.0;
  double nodeB = 0.0;
};

// Shares `room` between two wishes: each gets what it wants when both fit,
// else half, and the share one does not use goes to the other.
Growth shareRoom(double wantA, double wantB, double room) {
  room = std::max(room, 0.0);
  wantA = std::max(wantA, 0.0);
  wantB = std::max(wantB, 0.0);
  if (wantA + wantB <= room) return {wantA, wantB};
  const double half = room / 2.0;
  if (wantA < half) return {wantA, room - wantA};
  if (wantB < half) return {room - wantB, wantB};
  return {half, half};
}

}  // namespace

PlaylistNodeControlsFrames layoutNodeControls(PlaylistNodeControlsFrames frames, double windowWidth, bool abRoll,
                                              NodePopUpWidthsWanted wanted) {
  if (abRoll) {
    constexpr double kPopUpWidth = 100.0;
    const double transportX = 120.0;
    const double optionsX = windowWidth - 275.0;
    const double room = optionsX - (transportX + frames.pbControlView.width) - kNodeControlsMinimumGap;
    const Growth growth = shareRoom(wanted.nodeA - kPopUpWidth, wanted.nodeB - kPopUpWidth, room);
    frames.nodeAPopUp.width = kPopUpWidth + growth.nodeA;
    frames.pbControlView.x = transportX + growth.nodeA;
    frames.optionsContentView.x = optionsX - growth.nodeB;
    frames.nodeBPopUp.width = kPopUpWidth + growth.nodeB;
    frames.nodeBPopUp.x = windowWidth - 106.0 - growth.nodeB;
    frames.nodeBFieldShown = true;
  } else {
    constexpr double kPopUpWidth = 160.0;
    frames.pbControlView.x = windowWidth / 2.0 - frames.pbControlView.width / 2.0;
    const double room = frames.pbControlView.x - kNodeControlsMinimumGap - (frames.nodeAPopUp.x + kPopUpWidth);
    frames.nodeAPopUp.width = kPopUpWidth + shareRoom(wanted.nodeA - kPopUpWidth, 0.0, room).nodeA;
    frames.optionsContentView.x = windowWidth - 170.0;
    frames.nodeBPopUp.x = windowWidth;
    frames.nodeBFieldShown = false;
  }
  return frames;
}

}  // namespace app
