#pragma once
// How a media queue player item makes its session and its start transition,
// and how it tells the clip type from the session's reader. The standard
// factory makes the real file, live event and live input sessions; tests give
// scripted ones.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "engine/items/CVNQueuePlayerItem.h"
#include "media/readers/MediaURL.h"
#include "media/sessions/CVNSessionBase.h"

namespace media {
class CVNZiraSource;
}

namespace engine::items {

// Clip types of a media item.
enum MediaClipType : std::int32_t {
  kClipTypeUnknown = 0,
  kClipTypeMovie = 1,
  kClipTypeStillImage = 2,
  kClipTypeLiveEvent = 3,
  kClipTypeAudioOnly = 4,
  kClipTypeLiveInput = 5,
  kClipTypeNetworkStream = 6,
};

// What only a live input session offers.
class LiveInputControls {
 public:
  virtual ~LiveInputControls() = default;
  virtual void setWaitForActionCompletionCallback(bool wait) = 0;
  virtual void setPlayForever(bool value) = 0;
  virtual bool playForever() const = 0;
  virtual std::string ziraSourceName() const = 0;
};

struct LiveInputSession {
  std::shared_ptr<media::CVNSessionBase> session;
  std::shared_ptr<LiveInputControls> controls;
};

// What a start transition is built with.
struct StartTransitionContext {
  render::Device* metalDevice = nullptr;
  CVNQueuePlayerItem::DisplayModeRef outputDisplayMode;
  std::uint32_t outputBufferFormat = 0;
  platform::media::AudioStreamBasicDescription asbd{};
  CVNQueuePlayerItemDelegate* delegate = nullptr;
};

struct MediaItemSessionFactory {
  using DelegateRef = media::CVNSessionBase::DelegateRef;
  using QueueRef = std::shared_ptr<platform::DispatchQueue>;

  std::function<std::shared_ptr<media::CVNSessionBase>(const media::MediaURL& url, const std::string& sourceDescription,
                                                       DelegateRef delegate, QueueRef queue)>
      makeClipSession;
  std::function<std::shared_ptr<media::CVNSessionBase>(DelegateRef delegate, QueueRef queue,
                                                       const std::string& sourceDescription)>
      makeLiveEventSession;
  std::function<LiveInputSession(std::shared_ptr<media::CVNZiraSource> source, DelegateRef delegate, QueueRef queue)>
      makeLiveInputSession;
  // Empty until the queue player offers its transition builder.
  std::function<std::shared_ptr<CVNQueuePlayerItem>(const platform::Dictionary& dictionary,
                                                    const StartTransitionContext& context)>
      makeStartTransition;
  // The clip type that the session's reader stands for.
  std::function<std::int32_t(const media::CVNSessionBase& session)> clipTypeOfSession;

  static MediaItemSessionFactory standard();
};

}  // namespace engine::items
