#pragma once
// What a preview pane drives and hears: the player-view operations (the
// session view answers them; tests answer them with a fake) and the delegate
// told of position and play state, always on the main queue.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "platform/media/MediaTime.h"

namespace media {

class CVNPlayerView;

class CVNPlayerViewDelegate {
 public:
  enum Status : std::int32_t { kPlaying = 0, kPaused = 1 };
  virtual ~CVNPlayerViewDelegate() = default;
  virtual void playerViewPositionChanged(CVNPlayerView& view, platform::media::MediaTime position) = 0;
  virtual void playerViewStatusChanged(CVNPlayerView& view, std::int32_t status) = 0;
  virtual void playerViewDurationDidChange(CVNPlayerView& /*view*/, double /*seconds*/) {}
};

class CVNPlayerView {
 public:
  using CompletionHandler = std::function<void()>;
  virtual ~CVNPlayerView() = default;

  virtual void setItemURL(const std::string& path, double startPosition, CompletionHandler handler) = 0;
  virtual bool isPlayable() const = 0;
  virtual double itemDuration() const = 0;
  virtual void setItemDuration(double seconds) = 0;
  virtual platform::media::MediaTime itemFrameDuration() const = 0;
  virtual bool itemIsDropFrame() const = 0;
  virtual void togglePlayPause() = 0;
  virtual platform::media::MediaTime currentTime() const = 0;
  virtual void setVolume(double volume) = 0;
  virtual void seekToTime(double seconds, bool precisely, bool backwards) = 0;
  virtual float rate() const = 0;
  virtual void setRate(float rate) = 0;
  virtual CVNPlayerViewDelegate* playerViewDelegate() const = 0;
  // Not owned; the delegate outlives the view or is cleared first.
  virtual void setPlayerViewDelegate(CVNPlayerViewDelegate* delegate) = 0;
  // The first timecode's frame number, when the view knows it.
  virtual std::optional<std::int32_t> firstTCFrameNumber() const { return std::nullopt; }
  // A live source by its name instead of a file.
  virtual void setZiraSourceName(const std::string& name, CompletionHandler handler) = 0;
  // The frame duration of stills, audio-only files and live streams.
  virtual void setOutputFrameDuration(platform::media::MediaTime duration) = 0;
  // The next load builds a new session even for the same file or source.
  virtual void setForceNewSessionCreation(bool force) = 0;
};

}  // namespace media
