#include "engine/items/CVNMediaQueuePlayerItem.h"

#include "foundation/CVNLogController.h"
#include "foundation/geometry/GeometryUtil.h"

namespace engine::items {

namespace pm = platform::media;

std::shared_ptr<CVNMediaQueuePlayerItem> CVNMediaQueuePlayerItem::create(MediaItemSessionFactory factory) {
  return std::shared_ptr<CVNMediaQueuePlayerItem>(new CVNMediaQueuePlayerItem(std::move(factory)));
}

CVNMediaQueuePlayerItem::CVNMediaQueuePlayerItem(MediaItemSessionFactory factory) : factory_(std::move(factory)) {
  setCanReturnNewTexture(true);
}

CVNMediaQueuePlayerItem::~CVNMediaQueuePlayerItem() {
  if (!session_) return;
  session_->setDelegate({});
  // Discarding waits for the session's own queues: never on the player's queue.
  platform::DispatchQueue::global(platform::DispatchQueue::Priority::Background).async([session = session_] {
    session->discard();
  });
}

std::string CVNMediaQueuePlayerItem::stringFromQueuePlayerItemState(std::int32_t state) {
  static const char* const kTexts[] = {"Not Initialized",  "Initialized",       "Reading",
                                       "Finished reading", "Finished decoding", "Finished"};
  if (state < 0 || state > kItemStateFinished) return "Missing state string";
  return kTexts[state];
}

std::int32_t CVNMediaQueuePlayerItem::fieldDominanceFromAVFieldOrder(std::int32_t fieldOrder,
                                                                     std::string* outStringValue) {
  struct Row {
    std::int32_t dominance;
    const char* text;
  };
  static constexpr Row kRows[] = {{0, "/!\\ Unknown field order"},
                                  {3, "Progressive"},
                                  {2, "Top coded_first, top displayed first"},
                                  {1, "Bottom coded first, bottom displayed first"},
                                  {2, "Top coded first, bottom displayed first"},
                                  {1, "Bottom coded first, top displayed first"}};
  const bool known = fieldOrder >= 0 && fieldOrder < static_cast<std::int32_t>(std::size(kRows));
  if (outStringValue) *outStringValue = known ? kRows[fieldOrder].text : "";
  return known ? kRows[fieldOrder].dominance : 0;
}

void CVNMediaQueuePlayerItem::setOutputDisplayMode(DisplayModeRef mode) {
  CVNQueuePlayerItem::setOutputDisplayMode(mode);
  if (mode) setRasterSize({double(mode->displayWidth()), double(mode->height())});
}

void CVNMediaQueuePlayerItem::setMetalDevice(render::Device* device) {
  // Only the GPU path makes a texture cache for the device.
  if (!metalAPIEnabled() || device == metalDevice()) return;
  CVNQueuePlayerItem::setMetalDevice(device);
}

void CVNMediaQueuePlayerItem::setEndBehaviour(std::int32_t behaviour) {
  CVNQueuePlayerItem::setEndBehaviour(behaviour);
  if (liveInput_) liveInput_->setPlayForever(behaviour == 2);
}

bool CVNMediaQueuePlayerItem::playForever() const { return liveInput_ && liveInput_->playForever(); }

void CVNMediaQueuePlayerItem::setURL(const media::MediaURL& url) {
  url_ = url;
  if (!displayName() || displayName()->empty()) {
    setDisplayName(url.isFileURL() ? url.path().filename().string()
                                   : std::filesystem::path(url.absoluteString()).filename().string());
  }
}

std::string CVNMediaQueuePlayerItem::urlText() const { return url_ ? url_->absoluteString() : "(null)"; }

void CVNMediaQueuePlayerItem::discard() {
  if (session_) session_->setDelegate({});
}

void CVNMediaQueuePlayerItem::setAllowedReadAheadDurationInSeconds(double seconds) {
  allowedReadAheadSeconds_ = seconds;
  CVNQueuePlayerItem::setAllowedReadAheadDurationInSeconds(seconds);
  const double buffer = readAheadBufferInSeconds();
  if (buffer > 0) setAllowedBufferCompletionPercentage(seconds / buffer);
}

void CVNMediaQueuePlayerItem::setAllowedBufferCompletionPercentage(double fraction) {
  if (session_) session_->setAllowedBufferPercentage(fraction);
}

double CVNMediaQueuePlayerItem::readAheadBufferInSeconds() const {
  return session_ ? session_->readAheadBufferInSeconds() : 0;
}

double CVNMediaQueuePlayerItem::currentReadAheadDurationInSeconds() {
  return session_ ? session_->currentReadAheadInSeconds() : 0;
}

void CVNMediaQueuePlayerItem::addSubtitleRecords(const captions::SubtitleRecords& records) {
  if (session_) session_->addSubtitleRecords(records);
}

void CVNMediaQueuePlayerItem::deleteSubtitleRecords() {
  if (session_) session_->deleteSubtitleRecords();
}

std::optional<captions::SubtitleRecords> CVNMediaQueuePlayerItem::subtitleRecords() const {
  return session_ ? session_->subtitleRecords() : std::nullopt;
}

bool CVNMediaQueuePlayerItem::isValid() const {
  return CVNQueuePlayerItem::isValid() && session_ && session_->content() != media::kContentNothing;
}

bool CVNMediaQueuePlayerItem::hasVideo() const {
  return session_ && (session_->content() == media::kContentVideoAndAudio ||
                      session_->content() == media::kContentVideoOnly);
}

void CVNMediaQueuePlayerItem::setRequestedItemState(std::int32_t state) {
  CVNQueuePlayerItem::setRequestedItemState(std::max(requestedItemState(), state));
}

void CVNMediaQueuePlayerItem::setVideoFrameSize(foundation::Size size) {
  if (size.width == 0 || size.height == 0) {
    const auto& mode = outputDisplayMode();
    videoFrameSize_ = mode ? foundation::Size{double(mode->width()), double(mode->height())} : foundation::Size{};
    return;
  }
  videoFrameSize_ = foundation::GeometryUtil::x2Size(size);
}

foundation::Size CVNMediaQueuePlayerItem::videoDisplaySize() const {
  return session_ ? session_->displaySize() : foundation::Size{};
}

void CVNMediaQueuePlayerItem::setFieldOrder(std::int32_t decoderFieldOrder) {
  fieldOrder_ = fieldDominanceFromAVFieldOrder(decoderFieldOrder, nullptr);
}

std::string CVNMediaQueuePlayerItem::logDescription() const {
  return "Name: " + displayName().value_or("(null)") + " UID:" + uniqueID();
}

std::string CVNMediaQueuePlayerItem::descriptionForLogs() const {
  const std::string name = displayName().value_or("");
  if (!isZiraInput()) return "'" + name + "' (UID: '" + uniqueID() + "')";
  std::string text = "'" + name + "' (Vovi Input '" + (liveInput_ ? liveInput_->ziraSourceName() : std::string()) +
                     "' - UID: '" + uniqueID() + "')";
  if (const auto* source = plistValueForKey(itemDictionary(), "itemVirtualSourceUniqueID")) {
    text += " - VS Source ID: \"" + source->stringOr(source->describe()) + "\"";
  }
  if (const auto* description = plistValueForKey(itemDictionary(), "itemVirtualSourceDisplayName")) {
    text += " - VS Description: \"" + description->stringOr(description->describe()) + "\"";
  }
  return text;
}

void CVNMediaQueuePlayerItem::startReading() {
  if (itemState() < kItemStateReading) setRequestedItemState(kItemStateReading);
  if (itemState() == kItemStateNotInitialized) return;  // initialisation starts reading
  // The player asks again every frame; a session buffers only once.
  if (itemState() >= kItemStateReading) return;
  auto& log = foundation::CVNLogController::sharedLogController();
  if (!isValid()) {
    log.logMessageWithLevel(1, false, "Error: Trying to start reading invalid clip '%s'", descriptionForLogs().c_str());
    setIsFinished(true);
    return;
  }
  if (session_->startBuffering()) {
    setItemState(kItemStateReading);
    // The player gives an item it is switching to its read-ahead only once,
    // before the session could take it; without it nothing would be decoded.
    if (const double buffer = readAheadBufferInSeconds(); buffer > 0 && allowedReadAheadSeconds_ > 0)
      setAllowedBufferCompletionPercentage(allowedReadAheadSeconds_ / buffer);
    return;
  }
  log.logMessageWithLevel(0, false, "Error: Failed to start Buffering item '%s' - URL: '%s'",
                          descriptionForLogs().c_str(), urlText().c_str());
  setIsFinished(true);
}

void CVNMediaQueuePlayerItem::stopReadingAndDecodingFrames() {
  foundation::CVNLogController::sharedLogController().logMessageWithLevel(
      2, false, "Canceling reading and decoding for item '%s' - URL: '%s'", descriptionForLogs().c_str(),
      urlText().c_str());
  setIsCanceled(true);
  if (session_) session_->stopBuffering();
}

void CVNMediaQueuePlayerItem::decompressionSessionIsReadyForPlayback(media::CVNSessionBase& session) {
  markAsReadyForPlayback();
  setIsFinished(session.isFinishedPlaying());
  if (scrubRequested_ || dequeueOneFrameRequested_) {
    scrubRequested_ = false;
    setShouldForceTextureUpdate(true);
  }
}

void CVNMediaQueuePlayerItem::decompressionSessionDidReadAllFrames(media::CVNSessionBase&) {
  setItemState(kItemStateFinishedReading);
}

void CVNMediaQueuePlayerItem::decompressionSessionDidDecompressAllFrames(media::CVNSessionBase&) {
  setItemState(kItemStateFinishedDecoding);
}

bool CVNMediaQueuePlayerItem::shouldInverseFieldOrder() {
  return !metalAPIEnabled() && explicitFieldInversion_ != shouldInvertFieldsOrder_;
}

void CVNMediaQueuePlayerItem::ziraSessionDidNotReceiveAnyFramesSince(media::CVNSessionBase& session, double seconds) {
  if (delegate()) delegate()->ziraSessionDidNotReceiveAnyFramesSinceForPlayerItem(session, seconds, *this);
}

}  // namespace engine::items
