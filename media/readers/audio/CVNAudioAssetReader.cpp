#include "media/readers/audio/CVNAudioAssetReader.h"

#include <cmath>

#include "foundation/CVNLogController.h"
#include "media/readers/AssetReaderRegistry.h"
#include "media/readers/audio/CoverArtwork.h"
#include "media/validation/CVNEngineValidation.h"
#include "platform/Diagnostics.h"
#include "platform/DispatchQueue.h"
#include "platform/media/TypeIdentifiers.h"

namespace media {

namespace {

using platform::media::MediaTime;
namespace pm = platform::media;

constexpr std::uint32_t kDefaultMaxPacketSize = 2500;
constexpr std::uint32_t kPCMFramesPerBuffer = 1920;
constexpr std::int32_t kReadAttempts = 3;

void logLine(std::uint32_t level, bool show, const char* format, auto... arguments) {
  foundation::CVNLogController::sharedLogController().logMessageWithLevel(level, show, format, arguments...);
}

// The block owns the bytes read: no copy.
std::shared_ptr<pm::BlockBuffer> blockBufferTakingBytes(std::vector<std::uint8_t> bytes) {
  auto owned = std::make_shared<std::vector<std::uint8_t>>(std::move(bytes));
  return pm::BlockBuffer::createWithMemory(owned->data(), owned->size(), [owned] {});
}

}  // namespace

CVNAudioAssetReader::CVNAudioAssetReader(MediaURL fileURL, std::optional<std::string> sourceDescription)
    : CVNAssetReader(std::move(fileURL), std::move(sourceDescription)) {
  // The duration starts at zero in frames of 48 kHz; the points stay unset until the file's is known.
  setDuration(MediaTime::make(0, 48000));
  setInPoint(MediaTime::invalid());
  setOutPoint(MediaTime::invalid());
  setStartPosition(MediaTime::invalid());
}

CVNAudioAssetReader::~CVNAudioAssetReader() { close(); }

bool CVNAudioAssetReader::canOpenAssetWithMediaURL(const MediaURL& url) {
  // Protected MPEG-4 audio is its own kind: audio, but never playable here.
  return url.isFileURL() && pm::mediaFileKindForPath(url.path()) == pm::MediaFileKind::Audio;
}

void CVNAudioAssetReader::registerAudioReader() {
  AssetReaderRegistry::shared().registerReader(AssetReaderRegistration{
      AssetReaderKind::Audio, &CVNAudioAssetReader::canOpenAssetWithMediaURL,
      [](const MediaURL& url, const std::optional<std::string>& description) -> std::shared_ptr<CVNAssetReader> {
        return std::make_shared<CVNAudioAssetReader>(url, description);
      }});
}

bool CVNAudioAssetReader::open() {
  if (isOpen_) return true;
  if (!canReadAssetWithMediaURL(fileURL())) return false;
  setLastFileModificationDate(lastModificationDateForFileAtURL(fileURL()));
  audioFile_ = AudioFile::open(fileURL().path());
  if (!audioFile_) {
    validationError_ = kValidationReasonFormatNotSupported;
    return false;
  }
  isOpen_ = true;
  setAssetType(kAssetTypeSound);
  return true;
}

void CVNAudioAssetReader::close() {
  if (!isOpen_) return;
  audioFile_.reset();
  isOpen_ = false;
}

void CVNAudioAssetReader::loadInfoWithMetadata(bool /*withMetadata*/, bool /*validateUsingMediaInfo*/,
                                               CompletionHandler handler) {
  if (assetType() == kAssetTypeSound) {
    if (handler) handler();
    return;
  }
  // One queue per call; the block drops the last reference to it when done.
  auto queue = std::make_shared<platform::SerialQueue>("com.dirarovazovo.loadInfoQueue");
  auto holder = std::make_shared<std::shared_ptr<platform::SerialQueue>>(queue);
  queue->async([this, holder, handler = std::move(handler)] {
    loadInfo();
    if (handler) handler();
    holder->reset();
  });
}

void CVNAudioAssetReader::loadInfo() {
  if (!open()) return;
  const auto format = audioFile_->dataFormat();
  if (!format) {
    validationError_ = kValidationReasonVideoCodecNotSupported;
    return;
  }
  asbd_ = *format;
  audioFormatDescriptionArray_.assign(1, nullptr);
  audioFormatDescriptionArray_[0] =
      pm::FormatDescription::createAudio(asbd_, audioFile_->channelLayout(), audioFile_->magicCookie());
  if (!audioFormatDescriptionArray_[0]) {
    validationError_ = kValidationReasonVideoCodecNotSupported;
    return;
  }
  hasAudio_ = true;
  const auto seconds = audioFile_->estimatedDuration();
  if (!seconds) {
    validationError_ = kValidationReasonVideoCodecNotSupported;
    return;
  }
  setDuration(MediaTime::makeWithSeconds(*seconds, static_cast<std::int32_t>(asbd_.sampleRate)));
  isValid_ = true;
}

bool CVNAudioAssetReader::setFrameDuration(MediaTime frameDuration) {
  frameDuration_ = frameDuration;
  return true;
}

bool CVNAudioAssetReader::setDesiredDimensions(std::int64_t width, std::int64_t height) {
  desiredWidth_ = static_cast<std::int32_t>(width);
  desiredHeight_ = static_cast<std::int32_t>(height);
  return true;
}

double CVNAudioAssetReader::framerate() const {
  if (frameDuration_.value == 0) return 0;
  return static_cast<double>(frameDuration_.timeScale) / static_cast<double>(frameDuration_.value);
}

MediaTime CVNAudioAssetReader::frameRateAsCMTime() const {
  return MediaTime::make(frameDuration_.timeScale, static_cast<std::int32_t>(frameDuration_.value));
}

void CVNAudioAssetReader::initReading() {
  if (!audioFile_) return;
  maxPacketSize_ = kDefaultMaxPacketSize;
  if (const auto bound = audioFile_->packetSizeUpperBound()) {
    maxPacketSize_ = *bound;
    platform::reportDiagnostic(platform::DiagnosticLevel::Info, "Max Packet size: " + std::to_string(maxPacketSize_));
  }
  if (const auto count = audioFile_->audioDataPacketCount()) packetCount_ = *count;
}

void CVNAudioAssetReader::seekToStartPoint() {
  const MediaTime in = inPoint();
  if (in.value <= 0) return;
  seekToTime(startPosition().seconds() + in.seconds(), true, false);
}

void CVNAudioAssetReader::seekToTime(double seconds, bool /*precisely*/, bool /*backwards*/) {
  if (!audioFile_ || asbd_.sampleRate <= 0 || !std::isfinite(seconds)) return;
  // Before the start is the start.
  const auto frame = static_cast<std::int64_t>(std::max(seconds, 0.0) * asbd_.sampleRate);
  const std::int64_t perPacket = asbd_.framesPerPacket;
  if (perPacket == 0) {
    nextReadStartingPacket_ = audioFile_->packetNearestToFrame(frame);
  } else {
    const std::int64_t remainder = frame % perPacket;
    const std::int64_t rounded = remainder * 2 > perPacket ? frame - remainder + perPacket : frame - remainder;
    nextReadStartingPacket_ = rounded / perPacket;
  }
  finishedReading_ = false;
  failedReads_ = 0;
}

bool CVNAudioAssetReader::isPastOutPoint() {
  const MediaTime out = outPoint();
  if (out.value == 0 || out.timeScale <= 0) return false;
  // In frames at the file's rate (the out point is kept at that scale).
  const auto outFrame = static_cast<std::int64_t>(
      static_cast<long double>(out.value) * asbd_.sampleRate / static_cast<long double>(out.timeScale));
  if (asbd_.framesPerPacket == 0) {
    const auto start = audioFile_->startFrameOfPacket(nextReadStartingPacket_);
    return start && *start >= outFrame;
  }
  return nextReadStartingPacket_ >= outFrame / static_cast<std::int64_t>(asbd_.framesPerPacket);
}

pm::SampleBufferRef CVNAudioAssetReader::nextSampleBufferForTrackIndex(std::int32_t* trackIndex) {
  if (!audioFile_ || audioFormatDescriptionArray_.empty() || !audioFormatDescriptionArray_[0]) return nullptr;
  if (maxPacketSize_ == 0) initReading();
  const std::uint32_t packets = isLinearPCM() ? kPCMFramesPerBuffer : 1;
  if (isPastOutPoint()) {
    finishedReading_ = true;
    return nullptr;
  }
  std::vector<std::uint8_t> bytes;
  std::vector<pm::AudioStreamPacketDescription> descriptions;
  std::uint32_t packetsRead = 0;
  const auto status = audioFile_->readPackets(nextReadStartingPacket_, packets, std::size_t{maxPacketSize_} * packets,
                                              bytes, isLinearPCM() ? nullptr : &descriptions, &packetsRead);
  if (status == AudioFile::ReadStatus::EndOfFile || (status == AudioFile::ReadStatus::Ok && bytes.empty())) {
    finishedReading_ = true;
    return nullptr;
  }
  if (status == AudioFile::ReadStatus::PacketTooLarge) {
    // A packet above the format's bound is damage: skip it rather than stall on it.
    logLine(1, false, "\"%s\": Audio packet %lld exceeds %u bytes, skipped", sourceDescription().c_str(),
            static_cast<long long>(nextReadStartingPacket_), maxPacketSize_);
    ++nextReadStartingPacket_;
    return nullptr;
  }
  if (status != AudioFile::ReadStatus::Ok) {
    // Retried by the caller; an error that stays would stall it for good, so reading ends.
    if (++failedReads_ >= kReadAttempts) {
      logLine(1, false, "\"%s\": Audio packets cannot be read after packet %lld, reading ends",
              sourceDescription().c_str(), static_cast<long long>(nextReadStartingPacket_));
      finishedReading_ = true;
    }
    return nullptr;
  }
  failedReads_ = 0;

  const auto rate = static_cast<std::int32_t>(asbd_.sampleRate);
  const MediaTime perSample =
      asbd_.framesPerPacket > 0 ? MediaTime::make(asbd_.framesPerPacket, rate) : MediaTime::invalid();
  std::vector<std::size_t> sizes;
  if (isLinearPCM()) {
    sizes.push_back(asbd_.bytesPerFrame);
  } else {
    for (const auto& description : descriptions) sizes.push_back(description.dataByteSize);
  }
  pm::SampleBufferRef sample;
  const pm::OSStatus created = pm::SampleBuffer::createReady(
      blockBufferTakingBytes(std::move(bytes)), audioFormatDescriptionArray_[0], packetsRead,
      {{perSample, MediaTime::make(0, rate), MediaTime::invalid()}}, std::move(sizes), &sample,
      std::move(descriptions));
  if (created == pm::kSampleBufferNoError && trackIndex) *trackIndex = 0;
  nextReadStartingPacket_ += packetsRead;
  return sample;
}

std::vector<std::uint8_t> CVNAudioAssetReader::artwork() const {
  if (!audioFile_) return {};
  auto album = audioFile_->albumArtwork();
  if (!album.empty()) return jpegFromPicture(std::move(album));
  return coverFromPictures(audioFile_->id3Pictures());
}

}  // namespace media
