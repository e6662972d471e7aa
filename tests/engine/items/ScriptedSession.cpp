#include "tests/engine/items/ScriptedSession.h"

#include <cstring>

#include "media/live/CVNZiraSource.h"
#include "media/readers/image/CVNImageAssetReader.h"

namespace item_fakes {

ScriptedReader::ScriptedReader(foundation::Size display, std::int32_t fieldOrder, pm::MediaTime rate)
    : media::CVNAssetReader(media::MediaURL::fileURLWithPath("/scripted.mov"), std::nullopt),
      display_(display),
      fieldOrder_(fieldOrder),
      rate_(rate) {}

ScriptedSession::ScriptedSession(DelegateRef delegate, std::shared_ptr<platform::DispatchQueue> queue, Script script)
    : media::CVNSessionBase(std::move(delegate), std::move(queue)),
      script_(std::move(script)),
      reader_(std::make_shared<ScriptedReader>(script_.display, script_.fieldOrder, script_.rate)) {
  asset_ = reader_;
  if (script_.stillImage) {
    asset_ = std::make_shared<media::CVNImageAssetReader>(media::MediaURL::fileURLWithPath("/still.png"), std::nullopt);
  }
  setDuration(pm::MediaTime::make(250, 25));
}

void ScriptedSession::initialize() {
  setContent(script_.content);
  setValidationErrorReasonString(script_.invalidReason);
  if (const auto item = delegate()) item->decompressionSessionDidInitialize(*this);
}

pm::SampleBufferRef ScriptedSession::nextVideoSampleBuffer() {
  heldPlaybackTime = disablePlaybackPTSUpdate();
  if (pictures_.empty()) return nullptr;
  auto picture = pictures_.front();
  pictures_.pop_front();
  return picture;
}

pm::SampleBufferRef ScriptedSession::videoBufferHead() {
  heldPlaybackTime = disablePlaybackPTSUpdate();
  return pictures_.empty() ? nullptr : pictures_.front();
}

bool ScriptedSession::startBuffering() {
  ++startBufferingCalls;
  return script_.startsBuffering;
}

void ScriptedSession::scrubToTime(double seconds, bool, bool, bool) { seeks.push_back(seconds); }

const std::uint8_t* ScriptedSession::nextAudioSamples(std::uint32_t n) {
  audioRequests.push_back(n);
  return audio_.data();
}

engine::items::MediaItemSessionFactory scriptedFactory(ScriptedSession::Script script,
                                                       std::shared_ptr<ScriptedSession>* made,
                                                       std::shared_ptr<ScriptedLiveControls>* liveControls) {
  engine::items::MediaItemSessionFactory factory;
  factory.makeClipSession = [script, made](const media::MediaURL&, const std::string&,
                                           media::CVNSessionBase::DelegateRef delegate, auto queue) {
    *made = std::make_shared<ScriptedSession>(std::move(delegate), std::move(queue), script);
    return std::static_pointer_cast<media::CVNSessionBase>(*made);
  };
  factory.makeLiveEventSession = [script, made](media::CVNSessionBase::DelegateRef delegate, auto queue,
                                                const std::string&) {
    *made = std::make_shared<ScriptedSession>(std::move(delegate), std::move(queue), script);
    return std::static_pointer_cast<media::CVNSessionBase>(*made);
  };
  factory.makeLiveInputSession = [script, made, liveControls](std::shared_ptr<media::CVNZiraSource>,
                                                              media::CVNSessionBase::DelegateRef delegate, auto queue) {
    *made = std::make_shared<ScriptedSession>(std::move(delegate), std::move(queue), script);
    auto controls = std::make_shared<ScriptedLiveControls>();
    if (liveControls) *liveControls = controls;
    return engine::items::LiveInputSession{*made, controls};
  };
  factory.clipTypeOfSession = [](const media::CVNSessionBase& session) {
    return static_cast<const ScriptedSession&>(session).clipType();
  };
  return factory;
}

pm::SampleBufferRef picture(std::size_t width, std::size_t height, pm::FourCharCode format, std::int64_t index,
                            std::uint8_t shade) {
  std::shared_ptr<pm::PixelBuffer> image;
  pm::PixelBuffer::create(width, height, format, {}, &image);
  std::memset(image->baseAddress(), shade, image->bytesPerRow() * height);
  pm::SampleBufferRef sample;
  const pm::SampleTimingInfo timing{pm::MediaTime::make(1, 25), pm::MediaTime::make(index, 25), pm::MediaTime::invalid()};
  pm::SampleBuffer::createForImageBuffer(image, pm::FormatDescription::createForPixelBuffer(*image), timing, &sample);
  return sample;
}

}  // namespace item_fakes
