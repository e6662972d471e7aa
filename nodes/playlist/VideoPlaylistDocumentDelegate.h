#pragma once
// VideoPlaylistDocumentDelegate: what a playlist document asks of its window
// (the playlist window controller implements it): redraw the rows, the
// window's frame, the row last clicked, the transport buttons and the
// playback figures that scripts read.
//
// The document holds its delegate without owning it; the window outlives its
// tie to the document (it clears it with setDelegate(nullptr) first). Called
// on the main thread.

#include <cstdint>
#include <optional>

#include "nodes/playlist/PlaylistDocumentFormat.h"

namespace nodes {

class VideoPlaylistDocumentDelegate {
 public:
  virtual ~VideoPlaylistDocumentDelegate() = default;

  // The rows' start times, blocks or positions changed: show them again.
  virtual void updateTableView() = 0;
  // The frame of the document's window; none while it has none.
  virtual std::optional<WindowFrame> windowFrame() const = 0;
  // The row the operator clicked last; -1 for none.
  virtual std::int64_t lastClickedRow() const = 0;

  // The transport, as the buttons press it.
  virtual void playButtonPushed() = 0;
  virtual void stopButtonPushed() = 0;
  virtual void pauseButtonPushed() = 0;

  // Playback as the window follows it.
  virtual bool isPlaying() const = 0;
  virtual std::int64_t currentlyPlayingClipIndex() const = 0;  // from 0
  virtual double elapsedTimeInSeconds() const = 0;
  virtual double remainingTimeInSeconds() const = 0;
};

}  // namespace nodes
