#include "engine/items/MediaItemSessionFactory.h"

#include "media/live/CVNZiraAssetReader.h"
#include "media/live/CVNZiraInputSession.h"
#include "media/live/CVNZiraSource.h"
#include "media/readers/audio/CVNAudioAssetReader.h"
#include "media/readers/image/CVNImageAssetReader.h"
#include "media/readers/movie/CVNFFmpegMovieAssetReader.h"
#include "media/sessions/CVNDecompressionSession.h"

namespace engine::items {

namespace {

class ZiraInputControls final : public LiveInputControls {
 public:
  explicit ZiraInputControls(std::shared_ptr<media::CVNZiraInputSession> session) : session_(std::move(session)) {}
  void setWaitForActionCompletionCallback(bool wait) override { session_->setWaitForActionCompletionCallback(wait); }
  void setPlayForever(bool value) override { session_->setPlayForever(value); }
  bool playForever() const override { return session_->playForever(); }
  std::string ziraSourceName() const override {
    return session_->ziraSource() ? session_->ziraSource()->displayName() : std::string();
  }

 private:
  std::shared_ptr<media::CVNZiraInputSession> session_;
};

std::int32_t clipTypeOfReader(const media::CVNSessionBase& session) {
  const auto reader = session.asset();
  const auto* asset = reader.get();
  if (dynamic_cast<const media::CVNImageAssetReader*>(asset)) return kClipTypeStillImage;
  if (dynamic_cast<const media::CVNFFmpegMovieAssetReader*>(asset)) {
    return media::CVNDecompressionSession::isZiraStreamingAsset(asset) ? kClipTypeNetworkStream : kClipTypeMovie;
  }
  if (dynamic_cast<const media::CVNZiraAssetReader*>(asset)) return kClipTypeLiveEvent;
  if (dynamic_cast<const media::CVNAudioAssetReader*>(asset)) return kClipTypeAudioOnly;
  return kClipTypeLiveInput;
}

}  // namespace

MediaItemSessionFactory MediaItemSessionFactory::standard() {
  MediaItemSessionFactory factory;
  factory.makeClipSession = [](const media::MediaURL& url, const std::string& description, DelegateRef delegate,
                               QueueRef queue) -> std::shared_ptr<media::CVNSessionBase> {
    return media::CVNDecompressionSession::createWithMediaURL(url, description, std::move(delegate), std::move(queue));
  };
  factory.makeLiveEventSession = [](DelegateRef delegate, QueueRef queue,
                                    const std::string& description) -> std::shared_ptr<media::CVNSessionBase> {
    return media::CVNDecompressionSession::createWithZiraEvent(std::move(delegate), std::move(queue), description);
  };
  factory.makeLiveInputSession = [](std::shared_ptr<media::CVNZiraSource> source, DelegateRef delegate,
                                    QueueRef queue) -> LiveInputSession {
    auto session = media::CVNZiraInputSession::create(std::move(source), std::move(delegate), std::move(queue));
    if (!session) return {};
    return {session, std::make_shared<ZiraInputControls>(session)};
  };
  factory.clipTypeOfSession = clipTypeOfReader;
  return factory;
}

}  // namespace engine::items
