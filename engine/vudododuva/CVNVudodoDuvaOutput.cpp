#include "engine/vudododuva/CVNVudodoDuvaOutput.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "engine/vudododuva/CaptionRecord.h"
#include "engine/vudododuva/DistributedNotificationCenter.h"
#include "engine/vudododuva/FrameMessage.h"
#include "engine/vudododuva/ReceiverPort.h"
#include "engine/vudododuva/SharedRingFile.h"
#include "engine/vudododuva/VudodoDuvaProtocol.h"
#include "foundation/CVNLogController.h"
#include "platform/Reactor.h"
#include "pluginframework/CVNTimeValue.h"

namespace engine::vudododuva {
namespace {

// Waits for the sending queue's answer in the accessors; the queue never blocks that long.
inline constexpr auto kQueueAnswerLimit = std::chrono::seconds(2);

std::string formatted(const char* format, int value) {
  char text[160];
  std::snprintf(text, sizeof(text), format, value);
  return text;
}

// The server name as part of a file name: anything but letters, digits, '-'
// and '_' becomes '_', so no name can leave the folder or hide the file.
std::string fileNamePart(const std::string& name) {
  std::string part = name.substr(0, kMaxPortNameLength);
  for (char& c : part)
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '_') c = '_';
  return part.empty() ? "server" : part;
}

// Outputs of one process get distinct files.
std::atomic<std::uint64_t> fileSequence{0};

std::uint32_t timecodeOf(const platform::media::SampleBufferRef& timecodeSampleBuffer) {
  if (!timecodeSampleBuffer) return 0;
  const auto value = pluginframework::CVNTimeValue::timeValueWithTimecodeSampleBuffer(*timecodeSampleBuffer);
  if (!value) return 0;
  std::uint32_t number = 0;
  for (std::uint8_t byte : value->dataRepresentation()) number = (number << 8) | byte;
  return number;
}

}  // namespace

struct CVNVudodoDuvaOutput::Port {
  std::unique_ptr<ReceiverPort> receiver;
  std::shared_ptr<platform::IoSource> answers;
};

struct CVNVudodoDuvaOutput::FrameWork {
  std::shared_ptr<platform::media::PixelBuffer> picture;
  FrameMessage message;
  std::size_t refusedCaptionBytes = 0;  // a caption record too large for the file
};

std::shared_ptr<CVNVudodoDuvaOutput> CVNVudodoDuvaOutput::create(std::string name) {
  return std::shared_ptr<CVNVudodoDuvaOutput>(new CVNVudodoDuvaOutput(std::move(name)));
}

CVNVudodoDuvaOutput::CVNVudodoDuvaOutput(std::string name)
    : name_(std::move(name)), machMessageQueue_(std::make_shared<platform::SerialQueue>(kMachMessageQueueLabel)) {}

CVNVudodoDuvaOutput::~CVNVudodoDuvaOutput() {
  if (running_) stopPlayback();
  notifications_.reset();  // joins the bus thread: no handler runs from here on
  auto closePorts = [this] {
    for (const auto& port : remoteMessagePorts_) port->answers->cancel();
    remoteMessagePorts_.clear();
  };
  if (machMessageQueue_->isCurrent() || !machMessageQueue_->sync(closePorts, kQueueAnswerLimit)) closePorts();
}

bool CVNVudodoDuvaOutput::isRunning() const { return running_; }

std::shared_ptr<const pluginframework::CVNDisplayMode> CVNVudodoDuvaOutput::selectedDisplayMode() const {
  std::lock_guard lock(settingsMutex_);
  return displayMode_;
}

void CVNVudodoDuvaOutput::setSelectedDisplayMode(std::shared_ptr<const pluginframework::CVNDisplayMode> mode) {
  std::lock_guard lock(settingsMutex_);
  displayMode_ = std::move(mode);
}

platform::media::FourCharCode CVNVudodoDuvaOutput::bufferFormat() const {
  std::lock_guard lock(settingsMutex_);
  return bufferFormat_;
}

void CVNVudodoDuvaOutput::setBufferFormat(platform::media::FourCharCode format) {
  std::lock_guard lock(settingsMutex_);
  bufferFormat_ = format;
}

platform::media::AudioStreamBasicDescription CVNVudodoDuvaOutput::audioStreamBasicDescription() const {
  std::lock_guard lock(settingsMutex_);
  platform::media::AudioStreamBasicDescription description;
  description.sampleRate = 48000;
  description.channelsPerFrame = numberOfChannels_;
  description.bitsPerChannel = bitsPerChannel_;
  description.bytesPerFrame = numberOfChannels_ * bitsPerChannel_ / 8;
  description.framesPerPacket = 1;
  description.bytesPerPacket = description.bytesPerFrame;
  return description;
}

void CVNVudodoDuvaOutput::setNumberOfChannels(std::uint32_t channels) {
  std::lock_guard lock(settingsMutex_);
  numberOfChannels_ = channels;
}

void CVNVudodoDuvaOutput::setBitsPerChannel(std::uint32_t bits) {
  std::lock_guard lock(settingsMutex_);
  bitsPerChannel_ = bits;
}

void CVNVudodoDuvaOutput::setDelegate(pluginframework::CVNVideoOutputDelegate* delegate) {
  std::lock_guard lock(settingsMutex_);
  delegate_ = delegate;
}

void CVNVudodoDuvaOutput::log(const std::string& message, std::int32_t level, bool show) {
  pluginframework::CVNVideoOutputDelegate* delegate = nullptr;
  {
    std::lock_guard lock(settingsMutex_);
    delegate = delegate_;
  }
  if (delegate)
    delegate->logMessage(message, level, show);
  else
    foundation::CVNLogController::sharedLogController().logMessageWithLevel(static_cast<std::uint32_t>(level), show,
                                                                            message);
}

platform::Dictionary CVNVudodoDuvaOutput::serverInfo() const {
  std::lock_guard lock(settingsMutex_);
  return serverInfo_;
}

void CVNVudodoDuvaOutput::setServerInfo(platform::Dictionary info) {
  std::lock_guard lock(settingsMutex_);
  serverInfo_ = std::move(info);
}

platform::Dictionary CVNVudodoDuvaOutput::makeServerInfo() const {
  std::lock_guard lock(settingsMutex_);
  const std::string modeName = displayMode_ ? displayMode_->name() : "";
  std::lock_guard files(mappedMemoryMutex_);
  return {
      {pluginframework::CVNDisplayModeNameKey, platform::Value(modeName)},
      {pluginframework::CVNDisplayModeFrameDurationKey, platform::Value(displayMode_ ? displayMode_->frameDuration() : 0)},
      {pluginframework::CVNDisplayModeTimeScaleKey,
       platform::Value(std::int64_t{displayMode_ ? displayMode_->timeScale() : 0})},
      {pluginframework::CVNDisplayModeWidthKey, platform::Value(displayMode_ ? displayMode_->width() : 0)},
      {pluginframework::CVNDisplayModeHeightKey, platform::Value(displayMode_ ? displayMode_->height() : 0)},
      {pluginframework::CVNDisplayModeFieldDominance,
       platform::Value(static_cast<std::int64_t>(displayMode_ ? displayMode_->fieldDominance()
                                                              : pluginframework::FieldDominance::Unknown))},
      {kForce169Key, platform::Value(modeName.ends_with("Anamorphic"))},
      {kDisplayModeKey, platform::Value(modeName)},
      {kBufferFormatKey, platform::Value(std::int64_t{bufferFormat_})},
      {kBitsPerAudioChannelKey, platform::Value(std::int64_t{bitsPerChannel_})},
      {kNumberOfAudioChannelsKey, platform::Value(std::int64_t{numberOfChannels_})},
      {kMappedMemoryPathKey, platform::Value(audioFile_ ? audioFile_->path().string() : std::string())},
      {kCCMappedMemoryPathKey, platform::Value(ccFile_ ? ccFile_->path().string() : std::string())},
      {kProtocolVersionKey, platform::Value(kProtocolVersion)},
      {kPidKey, platform::Value(std::int64_t{::getpid()})},
  };
}

void CVNVudodoDuvaOutput::openSharedFiles() {
  std::size_t audioSize = 0;
  {
    std::lock_guard lock(settingsMutex_);
    audioSize = std::size_t{bitsPerChannel_} * numberOfChannels_ / 8 * kAudioRingFrames;
  }
  std::vector<std::pair<std::string, bool>> messages;  // logged once the files' lock is let go
  {
    std::lock_guard lock(mappedMemoryMutex_);
    audioFile_.reset();  // removes the files of an earlier start
    ccFile_.reset();
    auto folder = openPrivateFolder();
    if (!folder.ok()) {
      messages.emplace_back("VudodoDuva has no private folder: " + folder.error().localizedDescription, true);
    } else {
      // The files live in the private folder, named from the server and the
      // process: shared /tmp names were open to links and other users.
      const std::filesystem::path audioPath =
          *folder / (fileNamePart(name_) + "-" + std::to_string(::getpid()) + "-" + std::to_string(fileSequence++));
      SharedRingFile::Failure failure{};
      if (audioSize > 0) audioFile_ = SharedRingFile::open(audioPath, audioSize, &failure);
      if (!audioFile_)
        messages.emplace_back(formatted(failure.step == SharedRingFile::Failure::Step::Map
                                            ? "Failed to map audio buffer for VudodoDuva (error: %i)"
                                            : "Failed to setup audio buffer for VudodoDuva (error: %i)",
                                        audioSize > 0 ? failure.error : EINVAL),
                              true);
      ccFile_ = SharedRingFile::open(audioPath.string() + "-cc", kCaptionRingSize, &failure);
      if (!ccFile_)
        messages.emplace_back(formatted(failure.step == SharedRingFile::Failure::Step::Map
                                            ? "Failed to map cc buffer for VudodoDuva (error: %i)"
                                            : "Failed to setup cc buffer for VudodoDuva (error: %i)",
                                        failure.error),
                              true);
    }
    audioOffset_ = 0;
    ccOffset_ = 0;
    videoTimestamp_ = 0;
    audioTimestamp_ = 0;
  }
  for (const auto& [message, show] : messages) log(message, 0, show);
}

bool CVNVudodoDuvaOutput::startPlayback(platform::Error*) {
  openSharedFiles();
  setServerInfo(makeServerInfo());
  std::unique_ptr<DistributedNotificationCenter> connected;
  bool needsBus = false;
  {
    std::lock_guard lock(settingsMutex_);
    needsBus = !notifications_;
  }
  if (needsBus) {
    auto bus = DistributedNotificationCenter::connect();
    if (!bus.ok()) {
      log("VudodoDuva cannot reach the session bus: " + bus.error().localizedDescription, 1, false);
    } else {
      connected = std::move(*bus);
    }
  }
  DistributedNotificationCenter* center = nullptr;
  {
    std::lock_guard lock(settingsMutex_);
    if (connected) notifications_ = std::move(connected);
    center = notifications_.get();
  }
  running_ = true;
  if (!center) return true;
  center->addObserver(kPostServerAnnouncementNotification, queuedHandler(&CVNVudodoDuvaOutput::postServerAnnouncement));
  center->addObserver(kStartSendingNotification, queuedHandler(&CVNVudodoDuvaOutput::startSending));
  postServerAnnouncement(name_, nullptr);
  return true;
}

std::function<void(const std::string&, const platform::Dictionary*)> CVNVudodoDuvaOutput::queuedHandler(
    Handler handler) {
  // The bus thread never holds the output: the last reference must not go there.
  return [weak = weak_from_this(), queue = machMessageQueue_, handler](const std::string& object,
                                                                        const platform::Dictionary* userInfo) {
    std::optional<platform::Dictionary> info;
    if (userInfo) info = *userInfo;
    queue->async([weak, handler, object, info = std::move(info)] {
      if (auto self = weak.lock()) ((*self).*handler)(object, info ? &*info : nullptr);
    });
  };
}

DistributedNotificationCenter* CVNVudodoDuvaOutput::notificationCenter() const {
  std::lock_guard lock(settingsMutex_);
  return notifications_.get();  // lives until the destructor
}

void CVNVudodoDuvaOutput::postServerAnnouncement(const std::string&, const platform::Dictionary*) {
  DistributedNotificationCenter* center = notificationCenter();
  if (!center || !running_) return;
  const platform::Dictionary info = serverInfo();
  auto posted = center->post(kServerAnnouncementNotification, name_, &info, true);
  if (!posted.ok()) log("VudodoDuva announcement failed: " + posted.error().describe(), 3, false);
}

void CVNVudodoDuvaOutput::stopPlayback() {
  running_ = false;
  if (DistributedNotificationCenter* center = notificationCenter()) {
    (void)center->post(kServerDisappearedNotification, name_, nullptr, true);
    center->removeAllObservers();
    std::lock_guard lock(settingsMutex_);
    stopSendingObserver_ = 0;
  }
  std::lock_guard lock(mappedMemoryMutex_);
  // Removed at stop: a stopped server's audio has no business staying on disk.
  audioFile_.reset();
  ccFile_.reset();
}

void CVNVudodoDuvaOutput::startSending(const std::string& portName, const platform::Dictionary* userInfo) {
  if (!userInfo) return;
  const auto server = userInfo->find(kServerNameKey);
  if (server == userInfo->end() || !server->second.string() || *server->second.string() != name_) return;
  connectPort(portName);
}

void CVNVudodoDuvaOutput::stopSending(const std::string& portName, const platform::Dictionary*) {
  disconnectPort(portName);
}

void CVNVudodoDuvaOutput::connectPort(const std::string& portName) {
  if (!isValidPortName(portName)) return;
  const bool known = std::any_of(remoteMessagePorts_.begin(), remoteMessagePorts_.end(),
                                 [&](const auto& port) { return port->receiver->name() == portName; });
  if (known) return;
  auto folder = openPrivateFolder();
  if (!folder.ok()) return;
  auto receiver = ReceiverPort::connect(portName, *folder);
  if (!receiver.ok()) {
    log("VudodoDuva could not reach receiver port: " + receiver.error().localizedDescription, 3, false);
    return;
  }
  auto port = std::make_shared<Port>();
  port->receiver = std::move(*receiver);
  std::weak_ptr<CVNVudodoDuvaOutput> weakSelf = weak_from_this();
  std::weak_ptr<Port> weakPort = port;
  port->answers = platform::IoSource::create(
      port->receiver->descriptor(), platform::IoSource::Kind::Read, machMessageQueue_,
      [weakSelf, weakPort](std::size_t) {
        auto self = weakSelf.lock();
        auto answered = weakPort.lock();
        if (self && answered) self->takeAnswers(answered);
      },
      nullptr);
  if (!port->answers) return;
  port->answers->resume();
  remoteMessagePorts_.push_back(port);
  if (remoteMessagePorts_.size() != 1) return;
  {
    std::lock_guard lock(mappedMemoryMutex_);
    audioOffset_ = 0;
    ccOffset_ = 0;
  }
  sendIOSurface_ = true;
  auto observer = queuedHandler(&CVNVudodoDuvaOutput::stopSending);
  std::lock_guard lock(settingsMutex_);
  if (notifications_ && stopSendingObserver_ == 0)
    stopSendingObserver_ = notifications_->addObserver(kStopSendingNotification, std::move(observer));
}

void CVNVudodoDuvaOutput::disconnectPort(const std::string& portName) {
  const auto found = std::find_if(remoteMessagePorts_.begin(), remoteMessagePorts_.end(),
                                  [&](const auto& port) { return port->receiver->name() == portName; });
  if (found == remoteMessagePorts_.end()) return;
  (*found)->answers->cancel();
  remoteMessagePorts_.erase(found);
  if (!remoteMessagePorts_.empty()) return;
  sendIOSurface_ = false;
  std::lock_guard lock(settingsMutex_);
  if (notifications_ && stopSendingObserver_ != 0) notifications_->removeObserver(stopSendingObserver_);
  stopSendingObserver_ = 0;
}

void CVNVudodoDuvaOutput::takeAnswers(const std::shared_ptr<Port>& port) {
  const std::uint64_t before = port->receiver->answeredFrames();
  const bool keep = port->receiver->readAnswers();
  counts_.answered += port->receiver->answeredFrames() - before;
  // Anything but a one-byte answer to a frame it holds ends the connection.
  if (!keep) disconnectPort(port->receiver->name());
}

void CVNVudodoDuvaOutput::writeAudio(const std::uint8_t* audio, std::size_t bytes, FrameWork& work) {
  if (!audioFile_ || !audio || bytes == 0 || bytes > audioFile_->size()) return;
  if (audioOffset_ + bytes > audioFile_->size()) audioOffset_ = 0;
  std::memcpy(audioFile_->data() + audioOffset_, audio, bytes);
  work.message.offset = audioOffset_;
  audioOffset_ += bytes;
}

void CVNVudodoDuvaOutput::writeCaptions(const platform::media::SampleBufferRef& captions,
                                        const pluginframework::VANCPackets& packets, FrameWork& work) {
  work.message.ccOffset = kNoCaptionOffset;
  if (!ccFile_) return;
  const auto record = captionRecordForFrame(captions, packets);
  if (!record) return;
  // Refused rather than written past the end of the file.
  if (record->size() > ccFile_->size()) {
    work.refusedCaptionBytes = record->size();
    return;
  }
  if (ccOffset_ + record->size() > ccFile_->size()) ccOffset_ = 0;
  std::memcpy(ccFile_->data() + ccOffset_, record->data(), record->size());
  work.message.ccOffset = ccOffset_;
  ccOffset_ += record->size();
}

void CVNVudodoDuvaOutput::sendFrame(const std::shared_ptr<platform::media::PixelBuffer>& frame,
                                   const std::uint8_t* audioBuffer, std::size_t audioBufferLength,
                                   const platform::media::SampleBufferRef& closedCaptionBuffer,
                                   const platform::media::SampleBufferRef& timecodeSampleBuffer,
                                   const pluginframework::VANCPackets& additionalVANCPackets,
                                   const platform::media::AudioStreamBasicDescription&) {
  std::int64_t frameDuration = 0;
  std::size_t bytesPerFrame = 0;
  {
    std::lock_guard lock(settingsMutex_);
    frameDuration = displayMode_ ? displayMode_->frameDuration() : 0;
    bytesPerFrame = std::size_t{numberOfChannels_} * bitsPerChannel_ / 8;
  }
  const bool sending = sendIOSurface_;
  FrameWork work;
  {
    std::lock_guard lock(mappedMemoryMutex_);
    work.message.vpts = videoTimestamp_;
    work.message.apts = audioTimestamp_;
    // Timestamps run on while nobody is connected, so a receiver joining later sees the true running time.
    videoTimestamp_ += frameDuration;
    audioTimestamp_ += static_cast<std::int64_t>(audioBufferLength);
    if (sending) {
      work.message.samples = audioBufferLength;
      writeAudio(audioBuffer, audioBufferLength * bytesPerFrame, work);
      writeCaptions(closedCaptionBuffer, additionalVANCPackets, work);
    }
  }
  if (!sending) return;
  if (work.refusedCaptionBytes > 0)
    log("Caption record of " + std::to_string(work.refusedCaptionBytes) +
            " bytes does not fit the VudodoDuva caption file; not written",
        2, false);
  work.picture = frame;
  work.message.timecode = timecodeOf(timecodeSampleBuffer);
  std::weak_ptr<CVNVudodoDuvaOutput> weak = weak_from_this();
  machMessageQueue_->async([weak, work = std::move(work)] {
    if (auto self = weak.lock()) self->sendToPorts(work);
  });
}

void CVNVudodoDuvaOutput::sendToPorts(const FrameWork& work) {
  if (!work.picture || !work.picture->surface()) {
    log("No data to send through VudodoDuva", 3, false);
    return;
  }
  FrameMessage message = work.message;
  message.number = work.picture->surface()->id();
  auto archived = archivedFrameMessage(message);
  if (!archived.ok()) {
    log("Sending data through VudodoDuva failed (" + archived.error().describe() + ")", 3, false);
    return;
  }
  const platform::Clock::TimePoint now = platform::Clock::current().now();
  const auto ports = remoteMessagePorts_;  // a gone port leaves the list while we walk it
  for (const auto& port : ports) {
    // Answers already in the socket count, even before their read event runs.
    takeAnswers(port);
    if (port->answers->isCancelled()) continue;
    int error = 0;
    switch (port->receiver->send(*archived, work.picture, now, &error)) {
      case ReceiverPort::SendResult::Sent:
        ++counts_.sent;
        break;
      case ReceiverPort::SendResult::Skipped:
        ++counts_.skipped;
        break;
      case ReceiverPort::SendResult::Gone:
        disconnectPort(port->receiver->name());
        break;
      case ReceiverPort::SendResult::Failed:
        log(formatted("Sending data through VudodoDuva failed (%i)", error), 3, false);
        break;
    }
  }
  // A receiver that does not answer in time no longer holds the picture.
  std::weak_ptr<CVNVudodoDuvaOutput> weak = weak_from_this();
  machMessageQueue_->after(kAnswerLimit, [weak, now] {
    if (auto self = weak.lock())
      for (const auto& port : self->remoteMessagePorts_) port->receiver->releasePicturesSentBy(now);
  });
}

std::vector<std::string> CVNVudodoDuvaOutput::connectedPortNames() const {
  std::vector<std::string> names;
  (void)machMessageQueue_->sync(
      [&] {
        for (const auto& port : remoteMessagePorts_) names.push_back(port->receiver->name());
      },
      kQueueAnswerLimit);
  return names;
}

CVNVudodoDuvaOutput::SendingCounts CVNVudodoDuvaOutput::sendingCounts() const {
  SendingCounts counts;
  (void)machMessageQueue_->sync([&] { counts = counts_; }, kQueueAnswerLimit);
  return counts;
}

std::size_t CVNVudodoDuvaOutput::heldPictures() const {
  std::size_t held = 0;
  (void)machMessageQueue_->sync(
      [&] {
        for (const auto& port : remoteMessagePorts_) held += port->receiver->heldPictures();
      },
      kQueueAnswerLimit);
  return held;
}

}  // namespace engine::vudododuva
