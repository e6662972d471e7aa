#include "captions/CVNSubtitlesPacketizer.h"

#include <gtest/gtest.h>

#include "captions/CVNCCUtilities.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace captions {
namespace {

using platform::media::MediaTime;
using platform::media::SampleBufferRef;
using Bytes = std::vector<std::uint8_t>;

const MediaTime kFrame = MediaTime::make(1, 25);

SubtitleRecordRef record(double start, double end, std::string text) {
  auto r = std::make_shared<CVNSubtitleRecord>();
  r->setStartTimeInSeconds(start);
  r->setEndTimeInSeconds(end);
  r->setText(std::move(text));
  return r;
}

Bytes bytesOf(const SampleBufferRef& sample) {
  const auto data = sample->dataBuffer()->bytes();
  return Bytes(data.begin(), data.end());
}

// The text of a decoded subtitle event: markup and blank lines dropped, each line trimmed.
std::string plainText(const char* ass) {
  std::string text = ass ? ass : "";
  // Event lines carry eight fields before the text.
  std::size_t textStart = 0;
  for (int field = 0; field < 8; ++field) {
    const auto comma = text.find(',', textStart);
    if (comma == std::string::npos) {
      textStart = 0;
      break;
    }
    textStart = comma + 1;
  }
  text.erase(0, textStart);
  std::string lines, line;
  auto flush = [&] {
    const auto first = line.find_first_not_of(' ');
    if (first != std::string::npos) {
      if (!lines.empty()) lines += '\n';
      lines += line.substr(first, line.find_last_not_of(' ') - first + 1);
    }
    line.clear();
  };
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '{') {
      const auto close = text.find('}', i);
      if (close != std::string::npos) i = close;
    } else if (text.compare(i, 2, "\\N") == 0 || text.compare(i, 2, "\\n") == 0) {
      flush();
      ++i;
    } else if (text[i] == '\n' || text[i] == '\r') {
      flush();
    } else {
      line += text[i];
    }
  }
  flush();
  return lines;
}

// A subtitle decoder of the peer library, fed one packet per frame.
class PeerDecoder {
 public:
  PeerDecoder(const char* name, AVDictionary* options) {
    const AVCodec* codec = avcodec_find_decoder_by_name(name);
    if (!codec) return;
    context_ = avcodec_alloc_context3(codec);
    context_->pkt_timebase = AVRational{1, 25};
    context_->time_base = AVRational{1, 25};
    if (avcodec_open2(context_, codec, &options) < 0) avcodec_free_context(&context_);
    av_dict_free(&options);
  }
  ~PeerDecoder() { avcodec_free_context(&context_); }
  bool ok() const { return context_ != nullptr; }
  // Texts of the subtitles the packet completes.
  std::vector<std::string> decode(const Bytes& data, std::int64_t frame) {
    std::vector<std::string> texts;
    AVPacket* packet = av_packet_alloc();
    av_new_packet(packet, static_cast<int>(data.size()));
    std::copy(data.begin(), data.end(), packet->data);
    packet->pts = frame;
    packet->duration = 1;
    AVSubtitle subtitle{};
    int got = 0;
    EXPECT_GE(avcodec_decode_subtitle2(context_, &subtitle, &got, packet), 0) << "frame " << frame;
    if (got) {
      for (unsigned i = 0; i < subtitle.num_rects; ++i) {
        const std::string text = plainText(subtitle.rects[i]->ass ? subtitle.rects[i]->ass : subtitle.rects[i]->text);
        if (!text.empty()) texts.push_back(text);
      }
      avsubtitle_free(&subtitle);
    }
    av_packet_free(&packet);
    return texts;
  }

 private:
  AVCodecContext* context_ = nullptr;
};

const char* const kTexts[] = {"Hello world", "Two lines\nof text", "Señor José, ¿qué tal?", "Numbers 0123456789 and (signs)!"};
const char* const kCEA608Expected[] = {"Hello world", "Two lines\nof text", "Señor José,  qué tal?",
                                       "Numbers 0123456789 and (signs)!"};

TEST(CVNSubtitlesPacketizerTest, CEA608PopOnDecodesToTheSameTextAtItsStart) {
  for (bool hd : {true, false}) {
    for (std::size_t t = 0; t < std::size(kTexts); ++t) {
      SCOPED_TRACE(std::string(kTexts[t]) + (hd ? " HD" : " SD"));
      // As the session does: the record starts early by the frames its caption takes to load.
      auto r = record(2.0, 4.0, kTexts[t]);
      const int loadFrames = static_cast<int>(cea608PopOnPairs(kTexts[t]).size());
      r->setStartTimeInSeconds(2.0 - loadFrames / 25.0);
      CVNSubtitlesPacketizer packetizer(1, hd);
      packetizer.setSubtitleRecords({r});
      AVDictionary* options = nullptr;
      av_dict_set(&options, "real_time", "0", 0);
      PeerDecoder decoder("cc_dec", options);
      ASSERT_TRUE(decoder.ok());
      std::vector<std::string> texts;
      int lastEndOfCaption = -1;
      std::uint16_t previousSequence = 0;
      for (int frame = 0; frame < 5 * 25; ++frame) {
        SampleBufferRef sample = packetizer.copyNextSubtitleSampleBufferAtPTS(MediaTime::make(frame, 25), kFrame);
        ASSERT_NE(sample, nullptr);
        EXPECT_EQ(sample->presentationTimeStamp(), MediaTime::make(frame, 25));
        if (hd) {
          const Bytes cdp = bytesOf(sample);
          const std::uint16_t sequence = static_cast<std::uint16_t>(cdp[5] << 8 | cdp[6]);
          if (frame > 0) EXPECT_EQ(sequence, static_cast<std::uint16_t>(previousSequence + 1));
          previousSequence = sequence;
        } else {
          EXPECT_EQ(sample->formatDescription()->mediaSubType(), kCEA608SubType);
          sample = CVNCCUtilities::conformSampleBufferToCEA708(sample, kFrame);
        }
        const Triplets triplets = *CVNCCUtilities::tripletsFromCEA708SampleBuffer(*sample);
        if (triplets[1] == 0x94 && triplets[2] == 0x2f) lastEndOfCaption = frame;
        for (auto& text : decoder.decode(triplets, frame)) texts.push_back(text);
      }
      EXPECT_EQ(lastEndOfCaption, 2 * 25 - 1);  // on screen from the record's own start
      ASSERT_FALSE(texts.empty());
      EXPECT_EQ(texts.front(), kCEA608Expected[t]);
    }
  }
}

// The teletext packets of a subtitling data packet, checked whole.
std::vector<Bytes> teletextPacketsOfSDP(const Bytes& sdp) {
  std::vector<Bytes> packets;
  if (sdp.size() < 13 || sdp[0] != 0x51 || sdp[1] != 0x15 || sdp[2] != sdp.size() || sdp[3] != 0x02) {
    ADD_FAILURE() << "not a subtitling data packet";
    return packets;
  }
  unsigned sum = 0;
  for (std::uint8_t b : sdp) sum += b;
  EXPECT_EQ(sum % 256, 0u);
  std::size_t offset = 9;
  for (int i = 0; i < 5; ++i) {
    if (sdp[4 + i] == 0) continue;
    EXPECT_EQ(Bytes(sdp.begin() + offset, sdp.begin() + offset + 3), (Bytes{0x55, 0x55, 0x27}));
    packets.emplace_back(sdp.begin() + offset + 3, sdp.begin() + offset + 45);
    offset += 45;
  }
  EXPECT_EQ(sdp[offset], 0x74);
  EXPECT_EQ(offset + 4, sdp.size());
  return packets;
}

std::uint8_t reversedBits(std::uint8_t b) {
  std::uint8_t r = 0;
  for (int i = 0; i < 8; ++i) r |= ((b >> i) & 1) << (7 - i);
  return r;
}

// DVB teletext PES data: subtitle data units of the packets, bits reversed as transmitted.
Bytes dvbTeletext(const std::vector<Bytes>& packets) {
  Bytes pes = {0x10};
  int line = 7;
  for (const Bytes& packet : packets) {
    pes.insert(pes.end(), {0x03, 0x2c, static_cast<std::uint8_t>(0xe0 | line++), 0xe4});
    for (std::uint8_t b : packet) pes.push_back(reversedBits(b));
  }
  // Stuffing units fill the PES packet to whole transport packets.
  for (std::size_t units = packets.size(); units % 4 != 3; ++units) {
    pes.insert(pes.end(), {0xff, 0x2c});
    pes.insert(pes.end(), 0x2c, 0xff);
  }
  return pes;
}

TEST(CVNSubtitlesPacketizerTest, TeletextPagesDecodeToTheSameText) {
  const char* const expected[] = {"Hello world", "Two lines\nof text", "Se or Jos ,  qu  tal?",
                                  "Numbers 0123456789 and (signs)!"};
  SubtitleRecords records;
  for (std::size_t t = 0; t < std::size(kTexts); ++t) records.push_back(record(1.0 + t, 1.8 + t, kTexts[t]));
  CVNSubtitlesPacketizer packetizer(2, true);
  packetizer.setSubtitleRecords(records);
  AVDictionary* options = nullptr;
  av_dict_set(&options, "txt_page", "888", 0);
  av_dict_set(&options, "txt_format", "text", 0);
  PeerDecoder decoder("libzvbi_teletextdec", options);
  if (!decoder.ok()) GTEST_SKIP() << "no teletext decoder in this FFmpeg";
  std::vector<std::string> texts;
  int samples = 0;
  for (int frame = 0; frame < 6 * 25; ++frame) {
    const SampleBufferRef sample = packetizer.copyNextSubtitleSampleBufferAtPTS(MediaTime::make(frame, 25), kFrame);
    if (!sample) continue;  // nothing to send on this frame
    ++samples;
    EXPECT_EQ(sample->formatDescription()->mediaSubType(), kOP47SubType);
    const Bytes pes = dvbTeletext(teletextPacketsOfSDP(bytesOf(sample)));
    for (auto& text : decoder.decode(pes, frame)) texts.push_back(text);
  }
  EXPECT_EQ(samples, 8);  // a page and a clearing page per record
  // Cleared pages decode to nothing, so only the subtitles show.
  EXPECT_EQ(texts, std::vector<std::string>(std::begin(expected), std::end(expected)));
}

TEST(CVNSubtitlesPacketizerTest, LiveRecordShowsAtOnceAndClearsOnNone) {
  CVNSubtitlesPacketizer packetizer(1, true);
  auto firstPair = [&packetizer](int frame) {
    const auto sample = packetizer.copyNextSubtitleSampleBufferAtPTS(MediaTime::make(frame, 25), kFrame);
    const Triplets triplets = *CVNCCUtilities::tripletsFromCEA708SampleBuffer(*sample);
    return Bytes(triplets.begin() + 1, triplets.begin() + 3);
  };
  EXPECT_EQ(firstPair(0), (Bytes{0x80, 0x80}));
  packetizer.setZiraSubtitleRecordToDisplay(record(0, 0, "Live"));
  EXPECT_EQ(firstPair(1), (Bytes{0x94, 0x20}));  // resume caption loading
  for (int frame = 2; frame < 20; ++frame) firstPair(frame);
  packetizer.setZiraSubtitleRecordToDisplay(nullptr);
  EXPECT_EQ(firstPair(20), (Bytes{0x94, 0x2c}));  // erase displayed memory
  EXPECT_EQ(firstPair(21), (Bytes{0x94, 0x2c}));
  EXPECT_EQ(firstPair(22), (Bytes{0x80, 0x80}));

  CVNSubtitlesPacketizer teletext(2, true);
  EXPECT_EQ(teletext.copyNextSubtitleSampleBufferAtPTS(MediaTime::zero(), kFrame), nullptr);
  CVNSubtitlesPacketizer unknown(3, true);
  unknown.setZiraSubtitleRecordToDisplay(record(0, 0, "x"));
  EXPECT_EQ(unknown.copyNextSubtitleSampleBufferAtPTS(MediaTime::zero(), kFrame), nullptr);
}

}  // namespace
}  // namespace captions
