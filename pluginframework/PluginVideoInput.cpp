#include "pluginframework/PluginVideoInput.h"

#include <array>

#include "captions/CVNCCUtilities.h"
#include "captions/CVNVANCPacket.h"
#include "platform/Clock.h"
#include "platform/Diagnostics.h"
#include "platform/media/BlockBuffer.h"
#include "platform/media/FormatDescription.h"
#include "platform/media/PixelBuffer.h"
#include "pluginframework/PluginLibrary.h"

namespace pluginframework {
namespace {

using namespace platform::media;

std::string text(const char* value) { return value ? value : ""; }

SampleBufferRef audioSample(const CVNPluginInputFrame& frame, const SampleTimingInfo& timing) {
  if (!frame.audio || frame.audioFrames == 0 || frame.audioChannels == 0 || !(frame.audioSampleRate > 0)) {
    return nullptr;
  }
  AudioStreamBasicDescription format;
  format.sampleRate = frame.audioSampleRate;
  format.formatID = 0x6c70636d;  // 'lpcm'
  format.formatFlags = kAudioFormatFlagIsSignedInteger | kAudioFormatFlagIsPacked;
  format.bytesPerFrame = 2 * frame.audioChannels;
  format.bytesPerPacket = format.bytesPerFrame;
  format.framesPerPacket = 1;
  format.channelsPerFrame = frame.audioChannels;
  format.bitsPerChannel = 16;
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(frame.audio);
  auto block = BlockBuffer::createWithCopy({bytes, std::size_t{frame.audioFrames} * format.bytesPerFrame});
  SampleTimingInfo audioTiming = timing;
  audioTiming.duration = MediaTime::make(1, static_cast<std::int32_t>(frame.audioSampleRate));
  SampleBufferRef sample;
  SampleBuffer::createReady(block, FormatDescription::createAudio(format), frame.audioFrames, {audioTiming},
                            {format.bytesPerFrame}, &sample);
  return sample;
}

// The frame's ancillary packets as one 436M element.
SampleBufferRef vancSample(const CVNPluginInputFrame& frame, const SampleTimingInfo& timing) {
  if (!frame.vanc || frame.vancCount == 0) return nullptr;
  std::vector<captions::VANCPacketRef> packets;
  for (std::uint32_t i = 0; i < frame.vancCount; ++i) {
    const CVNPluginVANCPacket& packet = frame.vanc[i];
    if (packet.length > 0 && !packet.data) continue;
    packets.push_back(std::make_shared<captions::CVNVANCPacket>(
        packet.lineNumber, packet.did, packet.sdid,
        std::vector<std::uint8_t>(packet.data, packet.data + packet.length)));
  }
  const auto element = captions::CVNVANCPacket::MXFDataPacketWithVANCPackets(packets);
  SampleBufferRef sample;
  SampleBuffer::createReady(BlockBuffer::createWithCopy(element),
                            FormatDescription::create(fourCC("meta"), captions::kVANCBufferFormatSMPTE436M), 1,
                            {timing}, {element.size()}, &sample);
  return sample;
}

}  // namespace

PluginVideoInput::PluginVideoInput(std::shared_ptr<PluginLibrary> library, CVNPluginInput* handle,
                                   std::int32_t deviceType)
    : library_(std::move(library)), handle_(handle), deviceType_(deviceType) {}

const CVNPluginInputTable& PluginVideoInput::table() const { return *library_->table().input; }

std::string PluginVideoInput::name() const { return text(table().name(handle_)); }
std::string PluginVideoInput::uniqueID() const { return text(table().uniqueID(handle_)); }
bool PluginVideoInput::isRunning() const { return table().isRunning(handle_) != 0; }
std::uint32_t PluginVideoInput::audioChannels() const { return table().audioChannels(handle_); }
std::uint32_t PluginVideoInput::bufferFormat() const { return table().bufferFormat(handle_); }

std::shared_ptr<const CVNDisplayMode> PluginVideoInput::selectedDisplayMode() const {
  CVNPluginDisplayMode mode{};
  if (table().displayMode(handle_, &mode) != 0) return nullptr;
  mode.name[sizeof(mode.name) - 1] = '\0';
  return std::make_shared<CVNDisplayMode>(mode.name, mode.frameDuration, mode.timeScale, mode.width, mode.height,
                                          static_cast<FieldDominance>(mode.fieldDominance));
}

void PluginVideoInput::setSelectedDisplayMode(std::shared_ptr<const CVNDisplayMode> mode) {
  if (mode) table().setSetting(handle_, "displayModeName", mode->name().c_str());
}

bool PluginVideoInput::startCapture(platform::Error* error) {
  std::array<char, 256> reason{};
  if (table().startCapture(handle_, reason.data(), reason.size()) == 0) return true;
  reason.back() = '\0';
  if (error) *error = platform::Error{"PluginVideoInput", 1, reason.data()};
  return false;
}

void PluginVideoInput::stopCaptureWithReason(const std::string& reason) { table().stopCapture(handle_, reason.c_str()); }

platform::Dictionary PluginVideoInput::settings() const {
  std::lock_guard guard(settingsMutex_);
  return settings_;
}

void PluginVideoInput::setSettings(const platform::Dictionary& settings) {
  // Texts, numbers and booleans go to the plug-in as texts.
  for (const auto& [key, value] : settings) {
    std::string asText;
    if (value.isString()) {
      asText = *value.string();
    } else if (value.isBoolean()) {
      asText = value.booleanOr(false) ? "1" : "0";
    } else if (value.isInteger()) {
      asText = std::to_string(value.integer().value_or(0));
    } else if (value.isReal()) {
      asText = std::to_string(value.realOr(0.0));
    } else {
      continue;
    }
    table().setSetting(handle_, key.c_str(), asText.c_str());
  }
  std::lock_guard guard(settingsMutex_);
  settings_ = settings;
}

void PluginVideoInput::setDelegate(CVNVideoInputDelegate* delegate) {
  std::lock_guard guard(delegateMutex_);
  delegate_ = delegate;
}

void PluginVideoInput::setIgnoreLogs(bool ignore) { table().setIgnoreLogs(handle_, ignore ? 1 : 0); }

void PluginVideoInput::deliver(const CVNPluginInputFrame& frame) {
  auto picture = PluginLibrary::takePicture(frame.picture);
  const auto mode = selectedDisplayMode();
  if (frame.size < sizeof(CVNPluginInputFrame) || !picture || !mode || frame.timeScale <= 0 ||
      frame.frameDuration <= 0 || picture->width() != static_cast<std::size_t>(mode->width()) ||
      picture->height() != static_cast<std::size_t>(mode->height()) ||
      picture->pixelFormatType() != bufferFormat()) {
    platform::reportDiagnostic(platform::DiagnosticLevel::Warning,
                               "Input \"" + name() + "\": frame dropped (not in the input's format)");
    return;
  }
  SampleTimingInfo timing;
  timing.duration = MediaTime::make(frame.frameDuration, frame.timeScale);
  timing.presentationTimeStamp = MediaTime::make(frame.frameIndex * frame.frameDuration, frame.timeScale);
  timing.decodeTimeStamp = timing.presentationTimeStamp;
  CVNInputFrame out;
  SampleBuffer::createForImageBuffer(picture, FormatDescription::createForPixelBuffer(*picture), timing, &out.video);
  out.audio = audioSample(frame, timing);
  if (frame.captions && frame.captionsLength >= 3) {
    out.closedCaption = captions::CVNCCUtilities::createCEA708SampleBufferWithSampleTimingInfo(
        timing, timing.duration, captionSequence_++, {frame.captions, frame.captionsLength - frame.captionsLength % 3});
  }
  out.vanc = vancSample(frame, timing);
  out.systemTime =
      std::chrono::duration<double>(platform::Clock::current().now().time_since_epoch()).count();
  out.frameIndex = frame.frameIndex;
  std::lock_guard guard(delegateMutex_);
  if (delegate_) delegate_->inputDidProduceFrame(out);
}

void PluginVideoInput::formatChanged() {
  std::lock_guard guard(delegateMutex_);
  if (delegate_) delegate_->inputFormatDidChange();
}

void PluginVideoInput::connectionChanged() {
  connectionDescription().set(text(table().connectionDescription(handle_)));
}

}  // namespace pluginframework
