#include "media/readers/movie/CVNFFmpegMovieAssetReader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/vfs.h>

#include <algorithm>
#include <cctype>
#include <cerrno>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/log.h>
}

#include "media/decoders/CVNMutex.h"
#include "media/parsers/CVNStreamingSRTUtilities.h"
#include "media/readers/AssetReaderRegistry.h"
#include "media/readers/ReaderLog.h"
#include "media/readers/movie/FFmpegText.h"
#include "media/validation/CVNEngineValidation.h"
#include "platform/UserDefaults.h"
#include "platform/media/TypeIdentifiers.h"

namespace media {

namespace {

constexpr long kSMBMagic = 0x517B;
constexpr long kCIFSMagic = 0xFF534D42;
constexpr long kSMB2Magic = 0xFE534D42;
// Generated presentation times, custom I/O and kept side data.
constexpr int kFileFormatFlags = 0x40081;

// The host part of "scheme://host[:port][/path][?query]".
std::string hostOfURL(const std::string& text) {
  const auto start = text.find("://");
  if (start == std::string::npos) return {};
  std::string rest = text.substr(start + 3);
  rest = rest.substr(0, rest.find_first_of("/?#"));
  if (const auto at = rest.rfind('@'); at != std::string::npos) rest = rest.substr(at + 1);
  if (!rest.empty() && rest.front() == '[') return rest.substr(0, rest.find(']') + 1);
  return rest.substr(0, rest.find(':'));
}

std::string lowerCased(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

int quietLibraryLog() {
  av_log_set_level(AV_LOG_QUIET);
  return 0;
}

}  // namespace

CVNFFmpegMovieAssetReader::CVNFFmpegMovieAssetReader(MediaURL url, std::optional<std::string> sourceDescription)
    : CVNAssetReader(std::move(url), std::move(sourceDescription)) {
  static const int quiet = quietLibraryLog();
  (void)quiet;
  if (fileURL().isFileURL()) isOnSMB_ = isPathInSMB(fileURL().path());
  readReport_ = std::make_shared<ReadReport>(
      [this](std::int32_t frames, double seconds) { didReadFramesInSeconds(frames, seconds); });
  fileContext_.setReadReport(readReport_);
}

CVNFFmpegMovieAssetReader::~CVNFFmpegMovieAssetReader() {
  readReport_->detach();
  close();
}

const std::vector<std::string>& CVNFFmpegMovieAssetReader::supportedStreamURLSchemes() {
  static const std::vector<std::string> schemes{"rtmp", "http", "rtsp", "tcp", "srt"};
  return schemes;
}

bool CVNFFmpegMovieAssetReader::isZiraStreamURL(const MediaURL& url) {
  if (url.isEmpty() || url.isFileURL()) return false;
  const std::string& scheme = url.scheme();
  if (scheme.empty() || hostOfURL(url.absoluteString()).empty()) return false;
  for (const auto& supported : supportedStreamURLSchemes()) {
    if (!scheme.starts_with(supported)) continue;
    if (scheme == "srt") return CVNStreamingSRTUtilities::isSRTInCallerModeWithURL(url);
    return true;
  }
  return false;
}

bool CVNFFmpegMovieAssetReader::isPathInSMB(const std::optional<std::filesystem::path>& path) {
  if (!path || path->empty()) return false;
  struct statfs status {};
  if (::statfs(path->c_str(), &status) != 0) return false;
  const long type = static_cast<long>(status.f_type);
  return type == kSMBMagic || type == kCIFSMagic || type == kSMB2Magic;
}

bool CVNFFmpegMovieAssetReader::canOpenAssetWithMediaURL(const MediaURL& url) {
  if (url.isFileURL() && platform::media::mediaFileKindForPath(url.path()) == platform::media::MediaFileKind::Movie) {
    return true;
  }
  if (isZiraStreamURL(url)) return true;
  if (!url.isFileURL()) return false;
  static const std::vector<std::string> extensions{"mxf", "dv", "avi", "m2t", "m2ts", "ts", "mkv"};
  std::string extension = url.path().extension().string();
  if (!extension.empty()) extension.erase(0, 1);
  return std::find(extensions.begin(), extensions.end(), lowerCased(extension)) != extensions.end();
}

void CVNFFmpegMovieAssetReader::registerMovieReader() {
  AssetReaderRegistry::shared().registerReader(AssetReaderRegistration{
      AssetReaderKind::Movie, &CVNFFmpegMovieAssetReader::canOpenAssetWithMediaURL,
      [](const MediaURL& url, const std::optional<std::string>& description) -> std::shared_ptr<CVNAssetReader> {
        return std::make_shared<CVNFFmpegMovieAssetReader>(url, description);
      }});
}

std::int32_t CVNFFmpegMovieAssetReader::assetTypeForFormatLongName(const std::string& longName) {
  const auto contains = [&](const char* text) { return longName.find(text) != std::string::npos; };
  if (contains("QuickTime")) return kAssetTypeQuickTimeMovie;
  if (longName.starts_with("MXF")) return kAssetTypeMXF;
  if (contains("DV")) return kAssetTypeDV;
  if (contains("MPEG-TS") || contains("MPEG-2")) return kAssetTypeMPEG2Movie;
  if (contains("AVI")) return kAssetTypeAVI;
  if (contains("Matroska")) return kAssetTypeMKV;
  return kAssetTypeOther;
}

bool CVNFFmpegMovieAssetReader::isSeekableZiraStream() const {
  return isZiraStream() && videoStream_ && videoStream_->duration > 0 && videoStream_->duration != AV_NOPTS_VALUE;
}

std::string CVNFFmpegMovieAssetReader::fileName() const { return fileURL().path().filename().string(); }

int CVNFFmpegMovieAssetReader::interruptCallback(void* opaque) {
  auto* context = static_cast<CVNStreamContext*>(opaque);
  if (!context) return 1;
  // A stream probes without the shared codec lock, so an aborting stream has
  // no hold to give back here.
  if (context->aborting) return 1;
  if (!context->isOpen && clockSeconds() > context->connectionTimestamp + context->connectionTimeout) {
    context->aborting = true;
    return 1;
  }
  return 0;
}

bool CVNFFmpegMovieAssetReader::open() {
  const bool stream = isZiraStream();
  if (!isOpen_) {
    if (!stream && !canReadAssetWithMediaURL(fileURL())) {
      // Tell a missing file from an unreadable one without asking the library.
      struct stat status {};
      setValidationError(::stat(fileURL().path().c_str(), &status) != 0 && errno == ENOENT
                             ? kValidationReasonFileNotFound
                             : kValidationReasonUnknown);
      return false;
    }
    formatContext_ = avformat_alloc_context();
    if (!formatContext_) {
      setValidationError(kValidationReasonUnknown);
      return false;
    }
    AVDictionary* options = nullptr;
    if (!platform::UserDefaults::standard().boolForKey("ffmpeg_enable_advanced_editlist")) {
      av_dict_set(&options, "advanced_editlist", "0", 0);
    }
    av_dict_set(&options, "scan_all_pmts", "1", AV_DICT_DONT_OVERWRITE);
    const bool opened = stream ? openStream(&options) : openFile(&options);
    av_dict_free(&options);
    if (!opened || !finishOpen()) return false;
  }
  if (!stream) return isOpen_;
  const double took = clockSeconds() - streamContext_.connectionTimestamp;
  if (took > 3.0 && took < 20.0) {
    logReaderLine(1, false, "MovieAssetReader: Warning: Open stream clip %s took %0.2f second(s)",
            fileURL().absoluteString().c_str(), took);
  } else {
    logReaderLine(2, false, "MovieAssetReader: Open stream clip %s took %0.2f second(s)", fileURL().absoluteString().c_str(),
            took);
  }
  if (streamContext_.aborting) return false;
  streamContext_.isOpen = isOpen_;
  return isOpen_;
}

bool CVNFFmpegMovieAssetReader::openStream(void* optionsPointer) {
  auto** options = static_cast<AVDictionary**>(optionsPointer);
  avformat_network_init();
  streamContext_.aborting = false;
  streamContext_.connectionTimeout = 20.0;
  streamContext_.connectionTimestamp = clockSeconds();
  streamContext_.isOpen = isOpen_;
  formatContext_->interrupt_callback = AVIOInterruptCB{&CVNFFmpegMovieAssetReader::interruptCallback, &streamContext_};
  formatContext_->probesize = kStreamProbeSize;
  formatContext_->flags |= AVFMT_FLAG_GENPTS;
  const int result = avformat_open_input(&formatContext_, fileURL().absoluteString().c_str(), nullptr, options);
  if (result < 0) {
    formatContext_ = nullptr;  // freed by the library
    setValidationError(kValidationReasonStreamNotFound);
    logReaderLine(0, true, "MovieAssetReader: Error: Failed to open stream clip with url: %s, %s",
            printableText(fileURL().absoluteString()).c_str(), libraryErrorText(result).c_str());
    return false;
  }
  return true;
}

bool CVNFFmpegMovieAssetReader::openFile(void* optionsPointer) {
  auto** options = static_cast<AVDictionary**>(optionsPointer);
  setLastFileModificationDate(lastModificationDateForFileAtURL(fileURL()));
  if (const int error = fileContext_.openFile(fileURL().path()); error != 0) {
    avformat_free_context(formatContext_);
    formatContext_ = nullptr;
    setValidationError(error == ENOENT ? kValidationReasonFileNotFound : kValidationReasonUnknown);
    return false;
  }
  const std::uint64_t pageSize = isOnSMB_ ? CVNFileContext::kSMBPageSize : CVNFileContext::kPageSize;
  fileContext_.allocateMemoryPages(1, pageSize);
  auto* buffer = static_cast<unsigned char*>(av_malloc(pageSize));
  if (buffer) {
    ioContext_ = avio_alloc_context(buffer, static_cast<int>(pageSize), 0, &fileContext_,
                                    &CVNFileContext::readCallback, nullptr, &CVNFileContext::seekCallback);
    if (!ioContext_) av_free(buffer);
  }
  int result = AVERROR(ENOMEM);
  if (ioContext_) {
    formatContext_->probesize = kFileProbeSize;
    formatContext_->pb = ioContext_;
    formatContext_->flags |= kFileFormatFlags;
    av_dict_free(&formatContext_->metadata);
    result = avformat_open_input(&formatContext_, fileURL().path().c_str(), nullptr, options);
    if (result < 0) {
      formatContext_ = nullptr;  // freed by the library
      logReaderLine(1, false, "MovieAssetReader: Warning: Failed to open input: %s", libraryErrorText(result).c_str());
    }
  } else {
    avformat_free_context(formatContext_);
    formatContext_ = nullptr;
  }
  if (result >= 0) return true;
  failOpen(result);
  return false;
}

void CVNFFmpegMovieAssetReader::failOpen(int error) {
  logReaderLine(0, false, "MovieAssetReader: Could not open file %s... (Error: %i, desc: %s)",
          printableText(fileURL().path().string()).c_str(), error, libraryErrorText(error).c_str());
  if (error == AVERROR_DEMUXER_NOT_FOUND || error == AVERROR_INVALIDDATA) {
    setValidationError(kValidationReasonFormatNotSupported);
  } else if (error == AVERROR(ENOENT)) {
    setValidationError(kValidationReasonFileNotFound);
  } else {
    setValidationError(kValidationReasonUnknown);
  }
  freeFileIO();
}

void CVNFFmpegMovieAssetReader::freeFileIO() {
  if (ioContext_) {
    av_freep(&ioContext_->buffer);
    avio_context_free(&ioContext_);
  }
  fileContext_.closeFile();
  fileContext_.freeFileContextMemoryPages();
}

bool CVNFFmpegMovieAssetReader::finishOpen() {
  isOpen_ = true;
  int result = 0;
  if (isZiraStream()) {
    // A stream probes without the shared lock: a dead peer must not hold up
    // every other reader's probing for its 20 s.
    result = avformat_find_stream_info(formatContext_, nullptr);
  } else {
    CVNMutexHold hold(CVNMutex::sharedMutex());
    result = avformat_find_stream_info(formatContext_, nullptr);
  }
  if (result < 0) {
    logReaderLine(0, false, "MovieAssetReader: Error: Could not find stream informations");
    setValidationError(kValidationReasonVideoCodecNotFound);
    close();
    return false;
  }
  const int video = av_find_best_stream(formatContext_, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  if (video < 0 || (formatContext_->streams[video]->disposition & AV_DISPOSITION_ATTACHED_PIC)) {
    logReaderLine(0, false, "MovieAssetReader: Error: No video track");
    setValidationError(kValidationReasonNoVideoTrack);
    return false;
  }
  videoStream_ = formatContext_->streams[video];
  chooseStreams();
  return true;
}

void CVNFFmpegMovieAssetReader::chooseStreams() {
  const std::string longName =
      formatContext_->iformat && formatContext_->iformat->long_name ? formatContext_->iformat->long_name : "";
  setAssetType(isZiraStream() ? kAssetTypeZiraStream : assetTypeForFormatLongName(longName));
  const AVMediaType captionType = assetType() == kAssetTypeMXF ? AVMEDIA_TYPE_DATA : AVMEDIA_TYPE_SUBTITLE;
  const int caption = av_find_best_stream(formatContext_, captionType, -1, -1, nullptr, 0);
  ccStream_ = caption >= 0 ? formatContext_->streams[caption] : nullptr;
  for (unsigned i = 0; i < formatContext_->nb_streams; ++i) {
    AVStream* stream = formatContext_->streams[i];
    if (stream->codecpar->codec_type == AVMEDIA_TYPE_DATA &&
        stream->codecpar->codec_tag == MKTAG('t', 'm', 'c', 'd')) {
      tmcdStream_ = stream;
      break;
    }
  }
}

void CVNFFmpegMovieAssetReader::close() {
  if (!isOpen_ && !formatContext_) return;
  streamTags_.clear();
  packetBuffer_.clearPacketBuffer();
  avcodec_free_context(&codecContext_);
  if (isZiraStream()) {
    streamContext_.isOpen = false;
    streamContext_.aborting = true;
    avformat_close_input(&formatContext_);
  } else {
    avformat_close_input(&formatContext_);
    freeFileIO();
  }
  formatContext_ = nullptr;
  videoStream_ = ccStream_ = tmcdStream_ = nullptr;
  readFailed_ = false;
  isOpen_ = false;
}

platform::Dictionary CVNFFmpegMovieAssetReader::tagsForStream(const AVStream* stream) const {
  if (!stream) return {};
  const auto it = streamTags_.find(stream->index);
  return it == streamTags_.end() ? platform::Dictionary{} : it->second;
}

const AVPacket* CVNFFmpegMovieAssetReader::packetOfStream(int streamIndex, std::size_t ordinal) {
  if (const AVPacket* packet = packetBuffer_.bufferedPacketOfStream(streamIndex, ordinal)) return packet;
  if (!formatContext_ || readFailed_) return nullptr;
  std::int64_t bytesRead = 0;
  for (int budget = kFirstPacketReadBudget; budget > 0 && bytesRead < formatContext_->probesize; --budget) {
    AVPacketPtr packet(av_packet_alloc());
    if (!packet || av_read_frame(formatContext_, packet.get()) < 0) {
      readFailed_ = true;
      return nullptr;
    }
    bytesRead += packet->size;
    const bool match = packet->stream_index == streamIndex;
    packetBuffer_.bufferPacket(std::move(packet));
    if (match) {
      if (const AVPacket* found = packetBuffer_.bufferedPacketOfStream(streamIndex, ordinal)) return found;
    }
  }
  return nullptr;
}

}  // namespace media
