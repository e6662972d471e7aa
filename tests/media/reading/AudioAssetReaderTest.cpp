// Audio files: every packet read compared with what ffprobe (and ffmpeg's
// raw copy of linear PCM) says the file holds, seeks to the nearest packet,
// the out point, cover pictures, and refusals of files that are not audio.

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <future>
#include <sstream>
#include <utility>

extern "C" {
#include <libavutil/md5.h>
}

#include "media/readers/AssetReaderRegistry.h"
#include "media/readers/audio/CVNAudioAssetReader.h"
#include "media/validation/CVNEngineValidation.h"
#include "platform/media/ImageSource.h"
#include "tests/media/movie/MovieFixtures.h"
#include "tests/support/MediaFixtures.h"

namespace {

using media::CVNAudioAssetReader;
using media::MediaURL;
using platform::media::MediaTime;
using platform::media::fourCC;
using testing_support::shellQuoted;

constexpr const char* kSine = "-f lavfi -i sine=frequency=440:sample_rate=48000:duration=3 -ac 2";

std::filesystem::path makeFile(const std::string& name, const std::string& arguments) {
  const auto path = movie_fixtures::fixtureFolder() / ("audio-" + name);
  if (std::filesystem::exists(path)) return path;
  const std::string command = "ffmpeg -nostdin -hide_banner -loglevel error -y " + arguments;
  // A command reading this run's own files differs in every process: kept, it would only fill the cache.
  if (arguments.find(movie_fixtures::fixtureFolder().string()) != std::string::npos) {
    testing_support::runCommand(command + " " + shellQuoted(path));
  } else {
    testing_support::makeFileOnce(command, path);
  }
  return path;
}

std::filesystem::path sineFile(const std::string& name, const std::string& codec) {
  return makeFile(name, std::string(kSine) + " -c:a " + codec);
}

std::filesystem::path writeBytes(const std::string& name, const std::string& bytes) {
  const auto path = movie_fixtures::fixtureFolder() / ("audio-" + name);
  std::ofstream(path, std::ios::binary) << bytes;
  return path;
}

std::unique_ptr<CVNAudioAssetReader> loaded(const std::filesystem::path& path) {
  auto reader = std::make_unique<CVNAudioAssetReader>(MediaURL::fileURLWithPath(path), "audio");
  std::promise<void> done;
  reader->loadInfoWithMetadata(false, false, [&] { done.set_value(); });
  done.get_future().wait();
  return reader;
}

struct ProbedPacket {
  std::int64_t pts = 0;  // frames
  std::size_t size = 0;
  std::string md5;
};

std::vector<ProbedPacket> probePackets(const std::filesystem::path& path) {
  std::istringstream lines(testing_support::commandOutputOnce(
      "ffprobe -v error -select_streams a:0 -show_packets -show_data_hash md5 -show_entries packet=pts_time,size,data_hash",
      path));
  std::vector<ProbedPacket> packets;
  ProbedPacket packet;
  for (std::string line; std::getline(lines, line);) {
    // In frames at 48 kHz, whatever the stream's time base.
    if (line.starts_with("pts_time=")) packet.pts = std::llround(std::stod(line.substr(9)) * 48000);
    if (line.starts_with("size=")) packet.size = std::stoul(line.substr(5));
    if (line.starts_with("data_hash=")) packet.md5 = line.substr(line.find(':') + 1);
    if (line == "[/PACKET]") packets.push_back(std::exchange(packet, {}));
  }
  return packets;
}

std::string md5Of(std::span<const std::uint8_t> bytes) {
  std::uint8_t digest[16];
  av_md5_sum(digest, bytes.data(), bytes.size());
  char text[33];
  for (int i = 0; i < 16; ++i) std::snprintf(text + 2 * i, 3, "%02x", digest[i]);
  return text;
}

// Every buffer until the reader says it has finished.
std::vector<platform::media::SampleBufferRef> readAll(CVNAudioAssetReader& reader) {
  std::vector<platform::media::SampleBufferRef> buffers;
  for (int guard = 0; guard < 100000 && !reader.finishedReading(); ++guard) {
    std::int32_t track = -1;
    if (auto buffer = reader.nextSampleBufferForTrackIndex(&track)) {
      EXPECT_EQ(track, 0);
      buffers.push_back(std::move(buffer));
    }
  }
  return buffers;
}

std::vector<std::uint8_t> packetBytes(const platform::media::SampleBuffer& buffer, std::size_t index) {
  const auto& description = buffer.packetDescriptions().at(index);
  const auto bytes = buffer.dataBuffer()->bytes().subspan(static_cast<std::size_t>(description.startOffset),
                                                          description.dataByteSize);
  return {bytes.begin(), bytes.end()};
}

TEST(AudioAssetReader, LinearPCMMatchesTheRawSamples) {
  struct Case {
    const char* name;
    const char* codec;
    const char* raw;
    std::uint32_t flags;
    std::uint32_t bits;
  } const cases[] = {
      {"s16.wav", "pcm_s16le", "s16le", 0xC, 16},
      {"s24.aif", "pcm_s24be", "s24be", 0xE, 24},
      {"f32.caf", "pcm_f32le", "f32le", 0x9, 32},
  };
  for (const auto& item : cases) {
    SCOPED_TRACE(item.name);
    const auto path = sineFile(item.name, item.codec);
    const auto raw = testing_support::commandOutputOnce("ffmpeg -nostdin -loglevel error -i", path,
                                                        std::string("-c copy -f ") + item.raw + " -");
    ASSERT_TRUE(CVNAudioAssetReader::canOpenAssetWithMediaURL(MediaURL::fileURLWithPath(path)));
    auto reader = loaded(path);
    ASSERT_TRUE(reader->isValid());
    EXPECT_EQ(reader->assetType(), media::kAssetTypeSound);
    EXPECT_EQ(reader->numberOfAudioChannels(), 2);
    EXPECT_EQ(reader->asbd().formatID, fourCC("lpcm"));
    EXPECT_EQ(reader->asbd().formatFlags, item.flags);
    EXPECT_EQ(reader->asbd().bitsPerChannel, item.bits);
    EXPECT_EQ(reader->duration(), MediaTime::make(144000, 48000));
    reader->initReading();
    EXPECT_EQ(reader->packetCount(), 144000u);
    EXPECT_EQ(reader->maxPacketSize(), 2 * item.bits / 8);

    const auto buffers = readAll(*reader);
    ASSERT_EQ(buffers.size(), 75u);  // 144000 / 1920
    std::string read;
    for (const auto& buffer : buffers) {
      EXPECT_EQ(buffer->numSamples(), 1920u);
      EXPECT_EQ(buffer->presentationTimeStamp(), MediaTime::make(0, 48000));
      EXPECT_TRUE(buffer->packetDescriptions().empty());
      EXPECT_EQ(buffer->formatDescription(), reader->audioFormatDescriptionForTrackIndex(0));
      const auto bytes = buffer->dataBuffer()->bytes();
      read.append(bytes.begin(), bytes.end());
    }
    EXPECT_EQ(read, raw);

    // Seeks land on the frame: the first buffer starts at byte frame × bytes per frame.
    const std::size_t bytesPerFrame = 2 * item.bits / 8;
    for (const double seconds : {1.0, 0.25, 2.9999}) {
      reader->seekToTime(seconds, true, false);
      const auto frame = static_cast<std::size_t>(seconds * 48000);
      EXPECT_EQ(reader->nextReadStartingPacket(), static_cast<std::int64_t>(frame));
      std::int32_t track = -1;
      const auto buffer = reader->nextSampleBufferForTrackIndex(&track);
      ASSERT_TRUE(buffer);
      const auto bytes = buffer->dataBuffer()->bytes();
      EXPECT_EQ(std::string(bytes.begin(), bytes.end()), raw.substr(frame * bytesPerFrame, bytes.size()));
      EXPECT_EQ(bytes.size(), std::min<std::size_t>(1920, 144000 - frame) * bytesPerFrame);
    }
  }
}

TEST(AudioAssetReader, CompressedPacketsMatchFFprobe) {
  struct Case {
    const char* name;
    const char* codec;
    const char* formatID;
    std::size_t headerBytes;  // ADTS headers go; the rest is the packet as stored
  } const cases[] = {
      {"a.mp3", "libmp3lame", ".mp3", 0}, {"a.aac", "aac", "aac ", 7},   {"aac.m4a", "aac", "aac ", 0},
      {"alac.m4a", "alac", "alac", 0},    {"a.flac", "flac", "flac", 0},   {"alac.caf", "alac", "alac", 0},
      {"mp3.caf", "libmp3lame", ".mp3", 0},
  };
  for (const auto& item : cases) {
    SCOPED_TRACE(item.name);
    const auto path = sineFile(item.name, item.codec);
    const auto probed = probePackets(path);
    ASSERT_FALSE(probed.empty());
    auto reader = loaded(path);
    ASSERT_TRUE(reader->isValid());
    EXPECT_EQ(platform::media::fourCCString(reader->asbd().formatID), item.formatID);
    EXPECT_EQ(reader->numberOfAudioChannels(), 2);
    const auto description = reader->audioFormatDescriptionForTrackIndex(0);
    ASSERT_TRUE(description);
    if (std::string(item.formatID) != ".mp3") {
      EXPECT_FALSE(description->magicCookie().empty());
    }
    reader->initReading();
    EXPECT_NEAR(static_cast<double>(reader->packetCount()), static_cast<double>(probed.size()), 1.0);
    reader->setOutPoint(MediaTime::zero());  // the whole file, past the duration's last whole packet

    const auto buffers = readAll(*reader);
    ASSERT_EQ(buffers.size(), probed.size());
    for (std::size_t i = 0; i < buffers.size(); ++i) {
      SCOPED_TRACE(i);
      ASSERT_EQ(buffers[i]->numSamples(), 1u);
      ASSERT_EQ(buffers[i]->packetDescriptions().size(), 1u);
      const auto bytes = packetBytes(*buffers[i], 0);
      EXPECT_LE(bytes.size(), reader->maxPacketSize());
      if (item.headerBytes == 0) {
        EXPECT_EQ(md5Of(bytes), probed[i].md5);
      } else {
        EXPECT_EQ(bytes.size(), probed[i].size - item.headerBytes);
      }
    }
  }
}

// The same frames with a CRC after each header: protection bit cleared,
// two bytes more per frame.
std::string withADTSCRC(const std::vector<std::uint8_t>& adts) {
  std::string out;
  for (std::size_t at = 0; at + 7 <= adts.size();) {
    const std::size_t length = ((adts[at + 3] & 3u) << 11) | (adts[at + 4] << 3) | (adts[at + 5] >> 5);
    if (length < 7 || at + length > adts.size()) break;
    std::vector<std::uint8_t> header(adts.begin() + static_cast<std::ptrdiff_t>(at),
                                     adts.begin() + static_cast<std::ptrdiff_t>(at + 7));
    header[1] &= 0xFE;
    const std::size_t longer = length + 2;
    header[3] = static_cast<std::uint8_t>((header[3] & 0xFC) | (longer >> 11));
    header[4] = static_cast<std::uint8_t>(longer >> 3);
    header[5] = static_cast<std::uint8_t>((header[5] & 0x1F) | ((longer & 7) << 5));
    out.append(header.begin(), header.end());
    out.append("\x5A\xA5", 2);
    out.append(adts.begin() + static_cast<std::ptrdiff_t>(at + 7), adts.begin() + static_cast<std::ptrdiff_t>(at + length));
    at += length;
  }
  return out;
}

TEST(AudioAssetReader, ADTSWithAndWithoutCRCGiveTheSameFrames) {
  const auto plain = sineFile("a.aac", "aac");
  const auto bytes = testing_support::readFileBytes(plain);
  ASSERT_GE(bytes.size(), 7u);
  ASSERT_EQ(bytes[1], 0xF1);  // no CRC
  const auto protectedFile = writeBytes("crc.aac", withADTSCRC(bytes));
  std::vector<std::string> frames[2];
  std::vector<std::uint8_t> cookies[2];
  for (int i = 0; i < 2; ++i) {
    auto reader = loaded(i == 0 ? plain : protectedFile);
    ASSERT_TRUE(reader->isValid());
    cookies[i] = reader->audioFormatDescriptionForTrackIndex(0)->magicCookie();
    reader->setOutPoint(MediaTime::zero());
    for (const auto& buffer : readAll(*reader)) {
      const auto packet = packetBytes(*buffer, 0);
      frames[i].emplace_back(packet.begin(), packet.end());
    }
  }
  EXPECT_EQ(testing_support::readFileBytes(protectedFile).at(1), 0xF0);
  EXPECT_EQ(frames[0].size(), probePackets(plain).size());
  EXPECT_EQ(frames[1], frames[0]);
  EXPECT_FALSE(cookies[0].empty());
  EXPECT_EQ(cookies[1], cookies[0]);
}

TEST(AudioAssetReader, PacketsAboveTheFormatsBoundAreSkipped) {
  // STREAMINFO says no frame exceeds 16 bytes: every packet breaks it.
  auto bytes = testing_support::readFileBytes(sineFile("a.flac", "flac"));
  ASSERT_GT(bytes.size(), 18u);
  ASSERT_EQ(std::string(bytes.begin(), bytes.begin() + 4), "fLaC");
  bytes[15] = 0;
  bytes[16] = 0;
  bytes[17] = 16;
  auto reader = loaded(writeBytes("small-bound.flac", std::string(bytes.begin(), bytes.end())));
  ASSERT_TRUE(reader->isValid());
  reader->initReading();
  EXPECT_EQ(reader->maxPacketSize(), 16u);
  EXPECT_TRUE(readAll(*reader).empty());
  EXPECT_TRUE(reader->finishedReading());

  // A frame size the encoder left unknown: the largest block stored verbatim bounds it.
  bytes[17] = 0;
  const std::uint32_t largestBlock = (bytes[10] << 8) | bytes[11];
  auto unknown = loaded(writeBytes("no-bound.flac", std::string(bytes.begin(), bytes.end())));
  ASSERT_TRUE(unknown->isValid());
  unknown->initReading();
  EXPECT_EQ(unknown->maxPacketSize(), 64 + largestBlock * 2 * 2);
  unknown->setOutPoint(MediaTime::zero());
  EXPECT_EQ(readAll(*unknown).size(), probePackets(sineFile("a.flac", "flac")).size());
}

TEST(AudioAssetReader, SeeksGoToTheNearestPacket) {
  const auto aac = sineFile("aac.m4a", "aac");
  auto reader = loaded(aac);
  ASSERT_TRUE(reader->isValid());
  reader->initReading();
  // Packet n starts at frame 1024 n: half a packet rounds down.
  struct Case {
    double seconds;
    std::int64_t packet;
  } const cases[] = {
      {1.0, 47},  // 48000 = 46 × 1024 + 896
      {0.0, 0},
      {-1.0, 0},
      {(10 * 1024 + 512) / 48000.0, 10},
      {(10 * 1024 + 513) / 48000.0, 11},
      {2.5, 117},
  };
  const auto probed = probePackets(aac);
  for (const auto& item : cases) {
    SCOPED_TRACE(item.seconds);
    reader->seekToTime(item.seconds, false, true);
    EXPECT_EQ(reader->nextReadStartingPacket(), item.packet);
    std::int32_t track = -1;
    const auto buffer = reader->nextSampleBufferForTrackIndex(&track);
    ASSERT_TRUE(buffer);
    EXPECT_EQ(md5Of(packetBytes(*buffer, 0)), probed.at(static_cast<std::size_t>(item.packet)).md5);
  }

  // MP3 (1152 frames) and FLAC, whose blocks may vary: the packet ffprobe lists there.
  for (const auto& [name, codec] : {std::pair{"a.mp3", "libmp3lame"}, std::pair{"a.flac", "flac"}}) {
    SCOPED_TRACE(name);
    const auto path = sineFile(name, codec);
    const auto packets = probePackets(path);
    auto file = loaded(path);
    ASSERT_TRUE(file->isValid());
    file->initReading();
    for (const double seconds : {1.0, 2.2, 0.4}) {
      file->seekToTime(seconds, true, false);
      const auto frame = static_cast<std::int64_t>(seconds * 48000);
      std::size_t nearest = 0;
      for (std::size_t i = 0; i < packets.size(); ++i) {
        if (std::llabs(packets[i].pts - packets[0].pts - frame) < std::llabs(packets[nearest].pts - packets[0].pts - frame)) {
          nearest = i;
        }
      }
      EXPECT_EQ(file->nextReadStartingPacket(), static_cast<std::int64_t>(nearest));
      std::int32_t track = -1;
      const auto buffer = file->nextSampleBufferForTrackIndex(&track);
      ASSERT_TRUE(buffer);
      EXPECT_EQ(md5Of(packetBytes(*buffer, 0)), packets[nearest].md5);
    }
  }
}

TEST(AudioAssetReader, OutPointStopsReading) {
  auto reader = loaded(sineFile("aac.m4a", "aac"));
  ASSERT_TRUE(reader->isValid());
  reader->initReading();
  reader->setOutPoint(MediaTime::make(96000, 48000));
  const auto buffers = readAll(*reader);
  EXPECT_EQ(buffers.size(), 93u);  // packets 0 to 92: 96000 / 1024 = 93
  EXPECT_EQ(reader->nextReadStartingPacket(), 93);
  EXPECT_TRUE(reader->finishedReading());
  // The same point at another time scale stops at the same packet.
  reader->seekToTime(0.0, true, false);
  EXPECT_FALSE(reader->finishedReading());
  reader->setOutPoint(MediaTime::make(2, 1));
  EXPECT_EQ(readAll(*reader).size(), 93u);

  // Variable blocks end by time stamp: FLAC stops at the first packet starting at 1 s or later.
  const auto flac = sineFile("a.flac", "flac");
  const auto packets = probePackets(flac);
  auto variable = loaded(flac);
  ASSERT_TRUE(variable->isValid());
  variable->initReading();
  variable->setOutPoint(MediaTime::make(1, 1));
  std::size_t expected = 0;
  while (expected < packets.size() && packets[expected].pts < 48000) ++expected;
  EXPECT_EQ(readAll(*variable).size(), expected);
}

TEST(AudioAssetReader, CoverPictures) {
  const auto jpeg = makeFile("cover.jpg", "-f lavfi -i testsrc2=size=64x48:rate=1 -frames:v 1");
  const auto png = makeFile("cover.png", "-f lavfi -i testsrc2=size=32x16:rate=1 -frames:v 1");
  const auto jpegBytes = testing_support::readFileBytes(jpeg);
  const std::string inputs = std::string(kSine) + " -t 1 -i " + shellQuoted(jpeg) + " -i " + shellQuoted(png);

  // One ID3 picture, and MPEG-4 artwork: the JPEG as embedded.
  for (const auto& [name, options] :
       {std::pair{"cover.mp3", " -map 0 -map 1 -c:a libmp3lame -id3v2_version 3"},
        std::pair{"cover.m4a", " -map 0 -map 1 -c:a aac"}}) {
    SCOPED_TRACE(name);
    auto reader = loaded(makeFile(name, inputs + options + " -c:v copy -disposition:v attached_pic"));
    ASSERT_TRUE(reader->isValid());
    EXPECT_EQ(reader->artwork(), jpegBytes);
  }

  // Two pictures, the second the front cover (PNG): that one, as JPEG.
  auto two = loaded(makeFile("two.mp3", inputs + " -map 0 -map 1 -map 2 -c:a libmp3lame -id3v2_version 3 -c:v copy "
                                                 "-disposition:v attached_pic -metadata:s:v:0 comment=\"Cover (back)\" "
                                                 "-metadata:s:v:1 comment=\"Cover (front)\""));
  ASSERT_TRUE(two->isValid());
  const auto cover = two->artwork();
  ASSERT_GE(cover.size(), 3u);
  EXPECT_EQ(cover[0], 0xFF);
  EXPECT_EQ(cover[1], 0xD8);
  auto decoded = platform::media::ImageSource::createWithData(cover);
  ASSERT_TRUE(decoded);
  const auto picture = (*decoded)->createImage();
  ASSERT_TRUE(picture);
  EXPECT_EQ((*picture)->width(), 32u);
  EXPECT_EQ((*picture)->height(), 16u);

  // Two pictures and no front cover: none; no picture at all: none.
  auto back = loaded(makeFile("back.mp3", inputs + " -map 0 -map 1 -map 2 -c:a libmp3lame -id3v2_version 3 -c:v copy "
                                                   "-disposition:v attached_pic -metadata:s:v comment=Other"));
  ASSERT_TRUE(back->isValid());
  EXPECT_TRUE(back->artwork().empty());
  auto plain = loaded(sineFile("a.mp3", "libmp3lame"));
  EXPECT_TRUE(plain->artwork().empty());
}

TEST(AudioAssetReader, RefusesWhatIsNotPlayableAudio) {
  EXPECT_FALSE(CVNAudioAssetReader::canOpenAssetWithMediaURL(MediaURL::fileURLWithPath("/music/song.m4p")));
  EXPECT_FALSE(CVNAudioAssetReader::canOpenAssetWithMediaURL(MediaURL::fileURLWithPath("/clips/a.mov")));
  EXPECT_FALSE(CVNAudioAssetReader::canOpenAssetWithMediaURL(MediaURL::URLWithString("srt://127.0.0.1:9000")));

  const auto wav = sineFile("s16.wav", "pcm_s16le");
  const auto whole = testing_support::readFileBytes(wav);
  struct Case {
    const char* name;
    std::filesystem::path path;
    std::int32_t reason;
  } const cases[] = {
      {"zero bytes", writeBytes("empty.wav", ""), media::kValidationReasonFormatNotSupported},
      {"text", writeBytes("text.wav", "This is not a sound file, only its name says so.\n"),
       media::kValidationReasonFormatNotSupported},
      {"header cut", writeBytes("header.wav", std::string(whole.begin(), whole.begin() + 20)),
       media::kValidationReasonFormatNotSupported},
      {"missing", movie_fixtures::fixtureFolder() / "audio-missing.wav", 0},
      {"ADPCM", makeFile("adpcm.wav", std::string(kSine) + " -c:a adpcm_ms"),
       media::kValidationReasonVideoCodecNotSupported},
  };
  for (const auto& item : cases) {
    SCOPED_TRACE(item.name);
    auto reader = loaded(item.path);
    EXPECT_FALSE(reader->isValid());
    EXPECT_EQ(reader->validationError(), item.reason);
    EXPECT_EQ(reader->nextSampleBufferForTrackIndex(nullptr), nullptr);
  }
}

TEST(AudioAssetReader, TruncatedFilesReadWhatIsThere) {
  const auto wav = testing_support::readFileBytes(sineFile("s16.wav", "pcm_s16le"));
  const auto mp3 = testing_support::readFileBytes(sineFile("a.mp3", "libmp3lame"));
  // A WAVE file cut in the middle of a frame, an MP3 cut in the middle of a packet.
  const auto cutWav = writeBytes("cut.wav", std::string(wav.begin(), wav.begin() + 44 + 4 * 5000 + 3));
  const auto cutMp3 = writeBytes("cut.mp3", std::string(mp3.begin(), mp3.begin() + mp3.size() / 2 + 17));
  auto raw = testing_support::commandOutputOnce("ffmpeg -nostdin -loglevel error -i", cutWav, "-c copy -f s16le -");
  raw.resize(raw.size() / 4 * 4);  // whole frames only
  auto pcm = loaded(cutWav);
  ASSERT_TRUE(pcm->isValid());
  pcm->setOutPoint(MediaTime::zero());
  std::string read;
  for (const auto& buffer : readAll(*pcm)) {
    const auto bytes = buffer->dataBuffer()->bytes();
    EXPECT_EQ(bytes.size(), buffer->numSamples() * 4);
    read.append(bytes.begin(), bytes.end());
  }
  EXPECT_GT(raw.size(), 4u * 4900);
  EXPECT_EQ(read, raw);

  auto compressed = loaded(cutMp3);
  ASSERT_TRUE(compressed->isValid());
  compressed->setOutPoint(MediaTime::zero());
  const auto buffers = readAll(*compressed);
  EXPECT_TRUE(compressed->finishedReading());
  EXPECT_GT(buffers.size(), 40u);
  compressed->seekToTime(10.0, true, false);
  EXPECT_EQ(compressed->nextSampleBufferForTrackIndex(nullptr), nullptr);
  EXPECT_TRUE(compressed->finishedReading());
}

TEST(AudioAssetReader, DamagedFilesNeverStallTheReader) {
  // Bytes overwritten at random (fixed seed) across each format: loading,
  // reading and seeking end, whatever the damage.
  const std::pair<const char*, const char*> sources[] = {
      {"s16.wav", "pcm_s16le"}, {"a.mp3", "libmp3lame"}, {"a.aac", "aac"},
      {"aac.m4a", "aac"},       {"a.flac", "flac"},      {"alac.caf", "alac"},
  };
  std::uint32_t seed = 12345;
  const auto next = [&seed] { return seed = seed * 1664525u + 1013904223u; };
  for (const auto& [name, codec] : sources) {
    const auto original = testing_support::readFileBytes(sineFile(name, codec));
    ASSERT_FALSE(original.empty());
    for (int round = 0; round < 12; ++round) {
      SCOPED_TRACE(std::string(name) + " round " + std::to_string(round));
      auto damaged = original;
      const std::size_t count = 1 + next() % 24;
      // Half the rounds hit the header, where the tables are.
      const std::size_t span = round % 2 == 0 ? std::min<std::size_t>(damaged.size(), 4096) : damaged.size();
      for (std::size_t i = 0; i < count; ++i) damaged[next() % span] = static_cast<std::uint8_t>(next() >> 24);
      const auto path = writeBytes(std::string("damaged-") + std::to_string(round) + "-" + name,
                                   std::string(damaged.begin(), damaged.end()));
      auto reader = loaded(path);
      if (!reader->isValid()) continue;
      reader->initReading();
      reader->setOutPoint(MediaTime::zero());
      int calls = 0;
      for (; calls < 20000 && !reader->finishedReading(); ++calls) reader->nextSampleBufferForTrackIndex(nullptr);
      EXPECT_TRUE(reader->finishedReading());
      reader->seekToTime(1.5, true, false);
      for (calls = 0; calls < 20000 && !reader->finishedReading(); ++calls) reader->nextSampleBufferForTrackIndex(nullptr);
      EXPECT_TRUE(reader->finishedReading());
      reader->artwork();
    }
  }
}

TEST(AudioAssetReader, JoinsTheFactoryAfterMoviesAndStills) {
  media::ScopedAssetReaderRegistration keep(media::AssetReaderRegistration{media::AssetReaderKind::Audio, {}, {}});
  CVNAudioAssetReader::registerAudioReader();
  const auto url = MediaURL::fileURLWithPath(sineFile("s16.wav", "pcm_s16le"));
  const auto reader = media::CVNAssetReader::assetReaderWithMediaURL(url, "audio");
  ASSERT_TRUE(std::dynamic_pointer_cast<CVNAudioAssetReader>(reader));
  bool isImage = true;
  bool isAudioOnly = false;
  EXPECT_TRUE(media::CVNAssetReader::mediaURLIsValidAsset(url, &isImage, &isAudioOnly));
  EXPECT_FALSE(isImage);
  EXPECT_TRUE(isAudioOnly);
}

}  // namespace
