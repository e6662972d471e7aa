#pragma once
// The reader of every movie container libavformat reads (QuickTime, MXF,
// MPEG transport and program streams, DV, AVI, Matroska) and of network
// streams (RTMP, HTTP, RTSP, TCP, SRT as caller). Files go through the page
// ring of CVNFileContext; streams through the library's network layer with a
// 20 s connection limit on platform::Clock. Loading the information turns
// the streams into format descriptions (audio per codec row, video with its
// profile, field order and atoms, captions, timecode), duration and points.
//
// Threads: open, loading and reading run on one queue at a time (loading on
// its own "com.dirarovazovo.loadInfoQueue"); the interrupt callback runs on
// whichever thread is inside the library.

#include <atomic>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "media/decoders/FFmpegCodecSource.h"
#include "media/readers/CVNAssetReader.h"
#include "media/readers/io/CVNFileContext.h"
#include "media/readers/io/PacketBuffer.h"

struct AVFormatContext;
struct AVIOContext;
struct AVStream;
struct AVCodecContext;
struct AVPacket;

namespace media {

// Where the last seek stands.
struct SeekContext {
  std::int32_t seekCount = 0;  // seeks issued for the request
  bool seekingInPreviousGOP = false;  // the open-GOP retry was made
  bool justSeeked = false;
  bool checkForOpenGOP = false;
  // Presentation time (video time base) from which frames are shown; a zero
  // time scale means no seek happened yet.
  platform::media::MediaTime seekPoint;
};

// The opaque value of the interrupt callback.
struct CVNStreamContext {
  double connectionTimestamp = 0;  // seconds on platform::Clock when opening began
  double connectionTimeout = 20.0;
  std::atomic<bool> isOpen{false};
  std::atomic<bool> aborting{false};
};

class CVNFFmpegMovieAssetReader : public CVNAssetReader, public FFmpegCodecSource {
 public:
  // Packets a search for "the first packet of a stream" may read before it
  // gives up and treats the stream as absent.
  static constexpr int kFirstPacketReadBudget = 500;
  static constexpr std::int64_t kStreamProbeSize = 512000;
  static constexpr std::int64_t kFileProbeSize = 10485760;

  CVNFFmpegMovieAssetReader(MediaURL url, std::optional<std::string> sourceDescription);
  ~CVNFFmpegMovieAssetReader() override;

  // Class operations.
  static bool canOpenAssetWithMediaURL(const MediaURL& url);
  static bool isZiraStreamURL(const MediaURL& url);
  static const std::vector<std::string>& supportedStreamURLSchemes();
  static bool isPathInSMB(const std::optional<std::filesystem::path>& path);
  // Joins the reader factory as its movie reader.
  static void registerMovieReader();
  // Debugging aids (nothing in the system calls them): packet and seek
  // flags as text, a stream's index entries, and a file's timecodes written
  // next to it with the extension "tc", jumps of 3 frames or more marked.
  static std::string stringFromAVPacketFlags(int flags);
  static std::string stringFromAVSeekFlag(int flags);
  static std::string AVIndexEntriesString(AVFormatContext* context, int streamIndex);
  static void printTimecodesFromFileAtURL(const MediaURL& url);
  // The asset type for a demuxer's long name (files).
  static std::int32_t assetTypeForFormatLongName(const std::string& longName);
  static void setShouldCreateVideoFormatDescriptionForDNxHD(bool value);
  static bool shouldCreateVideoFormatDescriptionForDNxHD();
  // Bits of one raw sample of a pixel format (0 for hardware surfaces and unknown formats).
  static std::int32_t bitsPerRawSampleFromPixelFormat(int pixelFormat);
  static std::vector<std::uint8_t> audioAACMagicCookieFromExtradata(const std::uint8_t* extradata, std::size_t size);
  static void appendDescriptorWithTag(std::uint8_t tag, std::uint32_t size, std::vector<std::uint8_t>& data);

  bool open();
  void close();
  bool isZiraStream() const { return isZiraStreamURL(fileURL()); }
  bool isSeekableZiraStream() const;

  void loadInfoWithMetadata(bool withMetadata, bool validateUsingMediaInfo, CompletionHandler handler) override;
  // The loading itself, on the calling thread (the queued block runs it).
  void loadInfo(bool withMetadata, bool validateUsingMediaInfo);

  bool hasEmbeddedCaptions() const override;
  bool isIFrameOnlyCodec() const override { return isIFrameOnlyCodec_; }
  std::int64_t numberOfAudioTracks() const override { return numberOfAudioStreams_; }
  std::int64_t numberOfAudioChannels() const override { return numberOfAudioChannels_; }
  foundation::Size decodedFrameSize() const override;
  foundation::Size displaySize() const override;
  double framerate() const override;
  platform::media::MediaTime frameRateAsCMTime() const override;
  platform::media::MediaTime frameDuration() const override;
  std::int32_t fieldOrder() const override;
  bool hasBFrames() const override { return hasBFrames_; }
  platform::Dictionary metadata() const override { return metadata_; }
  bool isUncompressed() const { return isUncompressed_; }
  std::uint64_t ac3FrameSize() const { return ac3FrameSize_; }
  // The video stream's start time (0 when unknown).
  platform::media::MediaTime startOffset() const { return startOffset_; }

  // FFmpegCodecSource.
  AVCodecContext* codecContext() const override { return codecContext_; }
  TimeBase videoStreamTimeBase() const override;
  bool fieldBasedAVPacket() const override { return fieldBasedAVPacket_; }

  // The opened container and the chosen streams (null when closed or none).
  AVFormatContext* formatContext() const { return formatContext_; }
  AVStream* videoStream() const { return videoStream_; }
  AVStream* ccStream() const { return ccStream_; }
  AVStream* tmcdStream() const { return tmcdStream_; }
  PacketBuffer& packetBuffer() { return packetBuffer_; }
  CVNFileContext& fileContext() { return fileContext_; }
  // The per-stream tags ("isBeyondOutPoint", "index"), by stream index.
  platform::Dictionary tagsForStream(const AVStream* stream) const;

  // Description builders (each answers null when the stream cannot be described).
  platform::media::FormatDescriptionRef createAudioFormatDescriptionFromAudioStream(AVStream* stream);
  platform::media::FormatDescriptionRef createVideoFormatDescriptionFromVideoStream(AVStream* stream,
                                                                                  bool* foundEmbeddedCaptions);
  platform::media::FormatDescriptionRef createClosedCaptionFormatDescriptionFromCCStream(AVStream* stream);
  platform::media::FormatDescriptionRef createTimecodeFormatDescriptionFromTimecodeStream(AVStream* stream);

  // The `ordinal`-th packet of the stream, from the read-ahead buffer or read
  // into it; null when the stream gives none within the read budget.
  const AVPacket* packetOfStream(int streamIndex, std::size_t ordinal = 0);

  // Reading: packets in file order, stopped at the out point, as sample
  // buffers timed from the clip's first frame.
  void initReading() override;
  platform::media::SampleBufferRef nextSampleBufferForTrackIndex(std::int32_t* trackIndex) override;
  // 0 with the next packet, or -1 (packet empty) once reading has finished.
  int nextPacket(AVPacketPtr& packet);
  void updateOutPoint(double seconds) override;
  // An MPEG-2 picture's type and temporal reference; an I picture becomes a
  // key frame and starts the group, a packet without presentation time gets
  // one from the group start. False (type 0, reference -1) when unparsable.
  bool extractPtsFromMPEG2Header(AVPacket& packet, std::int64_t* frameType, std::int32_t* temporalOrder);
  void updatePlaybackDuration(double /*seconds*/) override {}
  platform::media::SampleBufferRef createCMSampleBufferWithVideoPacket(const AVPacket& packet);
  platform::media::SampleBufferRef createCMSampleBufferWithAudioPacket(const AVPacket& packet);
  platform::media::SampleBufferRef createCMSampleBufferWithCCPacket(AVPacket& packet);
  // Packets read past the out point, kept for an extension (at most the
  // page ring's bytes, 4 MiB or more; past it an extension seeks instead).
  std::size_t beyondOutPointPacketCount() const { return beyondOutPointPackets_.size(); }
  std::int64_t beyondOutPointBytes() const { return beyondOutPointBytes_; }
  // Packets taken from the library since opening (the tests' counting seam).
  std::int64_t packetsReadFromFile() const { return packetsReadFromFile_; }

  // Seeking: the next packets start with what a decoder needs for the frame
  // at `seconds`; a precise seek marks frames before it not to be shown.
  void seekToTime(double seconds, bool precisely, bool backwards) override;
  void seekToStartPoint() override;
  platform::media::MediaTime syncPTS() const override;
  const SeekContext& seekContext() const { return seekContext_; }
  // The nearer of the key-frame index entry at or before `timestamp` and the
  // first entry at or after it, when they lie within `maxFrameDuration`;
  // AV_NOPTS_VALUE otherwise.
  std::int64_t v2nearestTsFromAVIndexEntryForTimestamp(std::int64_t timestamp, bool preferNext,
                                                       std::int64_t maxFrameDuration) const;
  // Re-seeks a request may issue before it takes the first key frame met.
  static constexpr std::int32_t kMaxSeekCount = 8;

  // The interrupt callback's decision (exposed for tests of the stream limit).
  static int interruptCallback(void* opaque);
  const CVNStreamContext& streamContext() const { return streamContext_; }

 private:
  bool openStream(void* options);
  bool openFile(void* options);
  void failOpen(int error);
  void chooseStreams();
  bool finishOpen();
  void freeFileIO();
  void setValidationError(std::int32_t reason) { validationError_ = reason; }
  std::string fileName() const;

  // Loading steps (stream information).
  void loadAudioDescriptions();
  bool loadDuration();
  void repairFrameRate();
  void loadFirstFrameNumber();
  void loadQuickTimeMetadata();
  bool mediaInfoRefuses() const;
  platform::media::FormatDescriptionRef timecodeDescription(bool dropFrame) const;

  // Packet reading.
  int localReadFrame(AVPacket* packet);
  void checkFrameType(AVPacket& packet);
  int nextPacketAndBufferIt();
  void addBeyondOutPointPacket(AVPacketPtr packet);
  bool isBeyondOutPoint(const AVPacket& packet) const;
  bool allStreamsBeyondOutPoint();
  void setStreamBeyondOutPoint(int streamIndex, bool beyond);
  void finishReadingAtEnd();
  // The audio index of a stream, -1 when it has none.
  std::int32_t audioIndexOfStream(int streamIndex) const;
  std::int64_t frameDurationInTimeBase(std::int64_t packetDuration) const;
  std::int64_t averageFrameSize(std::int64_t lastPacketDuration) const;
  void allocateReadingPages(std::int64_t largestPacket, std::int64_t lastPacketDuration);
  platform::media::SampleBufferRef createUncompressedVideoSample(const AVPacket& packet,
                                                                 const platform::media::SampleTimingInfo& timing);
  platform::media::SampleBufferRef createCaptionSample(const AVPacket& packet, std::size_t offset, std::size_t size,
                                                       const platform::media::SampleTimingInfo& timing);

  // Seeking steps.
  int seekStep(std::int64_t timestamp, int flags);
  void readAfterSeek(std::int64_t timestamp, bool precisely);

  // Video builders by codec.
  platform::Value mpeg2Profile(AVStream* stream, bool* foundEmbeddedCaptions);
  std::optional<platform::media::FourCharCode> dvFormatType(AVStream* stream);
  void searchH264Captions(AVStream* stream, bool* foundEmbeddedCaptions);
  std::optional<std::vector<std::uint8_t>> aresAtom(AVStream* stream);

  CVNFileContext fileContext_;
  AVFormatContext* formatContext_ = nullptr;
  AVIOContext* ioContext_ = nullptr;
  AVStream* videoStream_ = nullptr;
  AVStream* ccStream_ = nullptr;
  AVStream* tmcdStream_ = nullptr;
  AVCodecContext* codecContext_ = nullptr;
  PacketBuffer packetBuffer_;
  bool readFailed_ = false;  // the demuxer ended or failed while searching packets
  std::map<int, platform::Dictionary> streamTags_;
  std::shared_ptr<ReadReport> readReport_;
  bool isIFrameOnlyCodec_ = false;
  bool hasBFrames_ = false;
  bool isUncompressed_ = false;
  bool isOnSMB_ = false;
  bool fieldBasedAVPacket_ = false;
  foundation::Size decodedFrameSize_;
  std::int64_t numberOfAudioStreams_ = 0;
  std::int64_t numberOfAudioChannels_ = 0;
  platform::media::MediaTime startOffset_ = platform::media::MediaTime::zero();
  platform::Dictionary metadata_;
  std::uint64_t ac3FrameSize_ = 0;
  bool foundEmbeddedCaptions_ = false;
  CVNStreamContext streamContext_;

  // Reading state.
  std::int64_t gopStartPTS_ = 0;
  bool gopStartKnown_ = false;
  std::int64_t mpeg2OffsetToAddToComputePTS_ = 0;
  std::int64_t firstVideoDTS_ = 0;
  bool firstVideoDTSKnown_ = false;
  std::int64_t lastDTS_ = 0;
  bool lastDTSKnown_ = false;
  std::int64_t lastPresentationEnd_ = 0;
  bool lastPresentationEndKnown_ = false;
  AVPacketPtr firstMPEGPacket_;
  platform::media::FormatDescriptionRef uncompressedVideoFormatDescription_;
  std::deque<platform::media::SampleBufferRef> ccQueue_;
  std::deque<AVPacketPtr> beyondOutPointPackets_;
  std::int64_t beyondOutPointBytes_ = 0;
  bool beyondOutPointOverflow_ = false;  // packets were dropped past the cap
  std::int64_t packetsReadFromFile_ = 0;
  SeekContext seekContext_;
  platform::media::MediaTime timeToSeekTo_;
  bool lastSeekFailed_ = false;
};

}  // namespace media
