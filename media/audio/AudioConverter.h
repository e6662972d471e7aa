#pragma once
// Converts audio of one format into linear PCM of another: compressed input
// ('aac ', 'alac', MP3, AC-3, FLAC, µ-law, A-law and PCM variants with no
// sample format of their own) is decoded with libavcodec, then libswresample
// changes sample format, rate and channel count. Output channel i takes the
// input channel the channel map names (-1: silent). Input arrives through a
// pull callback, output frames go to caller memory; frames converted beyond
// the room of one call wait for the next. Lives on its owner's thread.

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <vector>

#include "platform/media/AudioFormat.h"

namespace media {

using AudioStatus = std::int32_t;
inline constexpr AudioStatus kAudioNoError = 0;
// The input callback had nothing more: not an error to the caller.
inline constexpr AudioStatus kAudioConverterInputRanDry = -1;
// 'fmt?': a format the converter cannot read or write.
inline constexpr AudioStatus kAudioConverterErrFormatNotSupported = 0x666d743f;

// What the input callback hands over: bytes of the input format, not copied.
struct AudioConverterInput {
  const std::uint8_t* data = nullptr;
  std::size_t byteSize = 0;
  std::uint32_t packets = 0;
  const std::vector<platform::media::AudioStreamPacketDescription>* packetDescriptions = nullptr;  // may be null
  // Sizes of the packets when there are no descriptions (one entry: every packet).
  const std::vector<std::size_t>* packetSizes = nullptr;
};

class AudioConverter {
 public:
  // kAudioNoError or the input status when the input is kAudioConverterInputRanDry.
  using InputCallback = std::function<AudioStatus(AudioConverterInput* input)>;

  // nullptr with *status set when the pair cannot be converted.
  static std::unique_ptr<AudioConverter> create(const platform::media::AudioStreamBasicDescription& input,
                                                const platform::media::AudioStreamBasicDescription& output,
                                                AudioStatus* status);
  ~AudioConverter();
  AudioConverter(const AudioConverter&) = delete;
  AudioConverter& operator=(const AudioConverter&) = delete;

  const platform::media::AudioStreamBasicDescription& inputFormat() const { return input_; }
  const platform::media::AudioStreamBasicDescription& outputFormat() const { return output_; }
  // Decoder configuration ('aac ': an ES descriptor or the bare configuration; 'alac': the codec box or its payload).
  AudioStatus setDecompressionMagicCookie(std::span<const std::uint8_t> cookie);
  // One entry per output channel.
  AudioStatus setChannelMap(std::vector<int> map);
  // Opens the decoder and sets up the resampler with the configuration given
  // so far, so that the first buffers allocate (almost) nothing.
  AudioStatus prepare();

  // Converts until `*frames` frames are written to `output` (one buffer, or
  // one per channel for non-interleaved output) or the callback runs dry;
  // `*frames` becomes the number written. kAudioNoError, kAudioConverterInputRanDry,
  // or a decoding failure (what was converted in this call is then dropped).
  AudioStatus fillComplexBuffer(const InputCallback& callback, platform::media::AudioBufferList& output,
                                std::uint32_t* frames);
  // Discards the next `frames` decoded frames at the input rate, before any
  // rate conversion, so a cut lands between input samples exactly.
  void skipInputFrames(std::uint64_t frames);
  // Forgets decoder state, waiting frames and frames still to skip.
  void reset();

 private:
  struct Impl;
  AudioConverter(const platform::media::AudioStreamBasicDescription& input,
                 const platform::media::AudioStreamBasicDescription& output, std::unique_ptr<Impl> impl);

  platform::media::AudioStreamBasicDescription input_;
  platform::media::AudioStreamBasicDescription output_;
  std::unique_ptr<Impl> impl_;
};

}  // namespace media
