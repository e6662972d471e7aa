#include "pluginframework/PluginVideoOutput.h"

#include <array>

#include "platform/media/PixelBuffer.h"
#include "pluginframework/PluginLibrary.h"

namespace pluginframework {
namespace {

std::string text(const char* value) { return value ? value : ""; }

}  // namespace

PluginVideoOutput::PluginVideoOutput(std::shared_ptr<PluginLibrary> library, CVNPluginOutput* handle)
    : library_(std::move(library)), handle_(handle) {}

const CVNPluginOutputTable& PluginVideoOutput::table() const { return *library_->table().output; }

std::string PluginVideoOutput::name() const { return text(table().name(handle_)); }
std::string PluginVideoOutput::uniqueID() const { return text(table().uniqueID(handle_)); }
bool PluginVideoOutput::isRunning() const { return table().isRunning(handle_) != 0; }

std::shared_ptr<const CVNDisplayMode> PluginVideoOutput::selectedDisplayMode() const {
  CVNPluginDisplayMode mode{};
  if (table().displayMode(handle_, &mode) != 0) return nullptr;
  mode.name[sizeof(mode.name) - 1] = '\0';
  return std::make_shared<CVNDisplayMode>(mode.name, mode.frameDuration, mode.timeScale, mode.width, mode.height,
                                          static_cast<FieldDominance>(mode.fieldDominance));
}

void PluginVideoOutput::setSelectedDisplayMode(std::shared_ptr<const CVNDisplayMode> mode) {
  if (mode) setSetting("displayModeName", mode->name());
}

platform::media::FourCharCode PluginVideoOutput::bufferFormat() const { return table().bufferFormat(handle_); }

void PluginVideoOutput::setBufferFormat(platform::media::FourCharCode format) {
  setSetting("pixelFormat", platform::media::fourCCString(format));
}

platform::media::AudioStreamBasicDescription PluginVideoOutput::audioStreamBasicDescription() const {
  platform::media::AudioStreamBasicDescription format;
  const std::uint32_t channels = table().audioChannels(handle_);
  format.sampleRate = 48000;
  format.formatID = platform::media::fourCC("lpcm");
  format.formatFlags = platform::media::kAudioFormatFlagIsSignedInteger | platform::media::kAudioFormatFlagIsPacked;
  format.bytesPerFrame = 2 * channels;
  format.bytesPerPacket = format.bytesPerFrame;
  format.framesPerPacket = 1;
  format.channelsPerFrame = channels;
  format.bitsPerChannel = 16;
  return format;
}

void PluginVideoOutput::setNumberOfChannels(std::uint32_t channels) {
  setSetting("audioChannels", std::to_string(channels));
}

bool PluginVideoOutput::setSetting(const std::string& key, const std::string& value) {
  return table().setSetting(handle_, key.c_str(), value.c_str()) == 0;
}

void PluginVideoOutput::setDelegate(CVNVideoOutputDelegate* delegate) {
  std::lock_guard guard(delegateMutex_);
  delegate_ = delegate;
}

bool PluginVideoOutput::startPlayback(platform::Error* error) {
  std::array<char, 256> reason{};
  if (table().startPlayback(handle_, reason.data(), reason.size()) == 0) return true;
  reason.back() = '\0';
  if (error) *error = platform::Error{"PluginVideoOutput", 1, reason.data()};
  return false;
}

void PluginVideoOutput::stopPlaybackWithReason(const std::string& reason) {
  table().stopPlayback(handle_, reason.c_str());
}

bool PluginVideoOutput::pull(CVNPluginOutputFrame& frame) {
  if (frame.size < sizeof(CVNPluginOutputFrame)) return false;
  std::shared_ptr<platform::media::PixelBuffer> picture;
  std::lock_guard guard(delegateMutex_);
  if (!delegate_) return false;
  if (!delegate_->outputWantsFrame(frame.frameIndex, frame.audioFrames, &picture, frame.audio)) return false;
  frame.picture = picture ? library_->boxPicture(std::move(picture)) : nullptr;
  return true;
}

}  // namespace pluginframework
