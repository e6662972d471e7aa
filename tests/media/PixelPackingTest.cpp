// Our packed 16-bit layouts written by FrameConverter against swscale writing
// the same random picture: the straight packers must give its bytes exactly,
// at every width (odd ones and the narrow ones swscale treats apart go the
// swscale way), with the row bands split over threads and a shifted band.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <random>
#include <thread>
#include <vector>

#include "media/decoders/FrameConverter.h"
#include "media/decoders/RowBands.h"

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

namespace media {
namespace {

namespace pm = platform::media;

struct FrameDeleter {
  void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;

FramePtr makeFrame(int width, int height, AVPixelFormat format) {
  FramePtr frame(av_frame_alloc());
  frame->width = width;
  frame->height = height;
  frame->format = format;
  if (av_frame_get_buffer(frame.get(), 0) < 0) return nullptr;
  return frame;
}

// Random samples of the format's depth in every plane.
FramePtr randomPicture(int width, int height, AVPixelFormat format, unsigned seed) {
  FramePtr frame = makeFrame(width, height, format);
  const AVPixFmtDescriptor* description = av_pix_fmt_desc_get(format);
  std::mt19937 random(seed);
  std::uniform_int_distribution<int> sample(0, (1 << description->comp[0].depth) - 1);
  for (int plane = 0; plane < description->nb_components; ++plane) {
    const bool chroma = plane == 1 || plane == 2;
    const int planeWidth = chroma ? AV_CEIL_RSHIFT(width, description->log2_chroma_w) : width;
    const int planeHeight = chroma ? AV_CEIL_RSHIFT(height, description->log2_chroma_h) : height;
    for (int y = 0; y < planeHeight; ++y) {
      auto* row = reinterpret_cast<std::uint16_t*>(frame->data[plane] + y * frame->linesize[plane]);
      for (int x = 0; x < planeWidth; ++x) row[x] = static_cast<std::uint16_t>(sample(random));
    }
  }
  return frame;
}

// swscale's bilinear conversion of rows [first, first + count) of `frame`.
FramePtr swscaleRows(const AVFrame& frame, int first, int count, AVPixelFormat format) {
  FramePtr out = makeFrame(frame.width, count, format);
  SwsContext* context = sws_getContext(frame.width, count, static_cast<AVPixelFormat>(frame.format), frame.width, count,
                                       format, SWS_BILINEAR, nullptr, nullptr, nullptr);
  const AVPixFmtDescriptor* description = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(frame.format));
  const std::uint8_t* planes[4] = {};
  for (int i = 0; i < 4 && frame.data[i]; ++i) {
    const int row = (i == 1 || i == 2) ? first >> description->log2_chroma_h : first;
    planes[i] = frame.data[i] + row * frame.linesize[i];
  }
  sws_scale(context, planes, frame.linesize, 0, count, out->data, out->linesize);
  sws_freeContext(context);
  return out;
}

// The packed row swscale's picture stands for: 'y416' is its AYUV64LE row;
// 'v216' interleaves its 16-bit 4:2:2 planes as Cb Y0 Cr Y1, an odd last
// pixel repeating its luma.
std::vector<std::uint8_t> expectedRow(const AVFrame& reference, pm::FourCharCode format, int row) {
  const int width = reference.width;
  if (format == pm::kPixelFormat4444AYpCbCr16) {
    const std::uint8_t* line = reference.data[0] + row * reference.linesize[0];
    return {line, line + 8 * width};
  }
  auto sample = [&](int plane, int x) {
    return reinterpret_cast<const std::uint16_t*>(reference.data[plane] + row * reference.linesize[plane])[x];
  };
  std::vector<std::uint16_t> samples;
  for (int x = 0; x < width; x += 2) {
    samples.insert(samples.end(), {sample(1, x / 2), sample(0, x), sample(2, x / 2), sample(0, std::min(x + 1, width - 1))});
  }
  std::vector<std::uint8_t> bytes(samples.size() * 2);
  std::memcpy(bytes.data(), samples.data(), bytes.size());
  return bytes;
}

TEST(PixelPackingTest, PackedRowsEqualSwscales) {
  struct Case {
    AVPixelFormat source;
    pm::FourCharCode output;
    AVPixelFormat reference;
  };
  const Case cases[] = {
      {AV_PIX_FMT_YUV422P10LE, pm::kPixelFormat4444AYpCbCr16, AV_PIX_FMT_AYUV64LE},
      {AV_PIX_FMT_YUV422P12LE, pm::kPixelFormat4444AYpCbCr16, AV_PIX_FMT_AYUV64LE},
      {AV_PIX_FMT_YUV444P10LE, pm::kPixelFormat4444AYpCbCr16, AV_PIX_FMT_AYUV64LE},
      {AV_PIX_FMT_YUVA444P10LE, pm::kPixelFormat4444AYpCbCr16, AV_PIX_FMT_AYUV64LE},
      {AV_PIX_FMT_YUV444P12LE, pm::kPixelFormat4444AYpCbCr16, AV_PIX_FMT_AYUV64LE},
      {AV_PIX_FMT_YUV420P10LE, pm::kPixelFormat4444AYpCbCr16, AV_PIX_FMT_AYUV64LE},
      {AV_PIX_FMT_YUV422P10LE, pm::kPixelFormat422YpCbCr16, AV_PIX_FMT_YUV422P16LE},
      {AV_PIX_FMT_YUV422P12LE, pm::kPixelFormat422YpCbCr16, AV_PIX_FMT_YUV422P16LE},
      {AV_PIX_FMT_YUV444P10LE, pm::kPixelFormat422YpCbCr16, AV_PIX_FMT_YUV422P16LE},
  };
  // 6 and 7 and every odd width: what swscale does there is not a plain
  // 3:1 mix, so 'y416' from 4:2:2 must take its way; 'v216' packs them itself.
  const int widths[] = {2, 6, 7, 8, 10, 321, 322, 1918};
  constexpr int kHeight = 100;  // several bands
  for (const Case& c : cases) {
    for (const int width : widths) {
      // Whole pictures, and a picture moved up a line (the other field first).
      for (const int shift : {0, 1}) {
        SCOPED_TRACE(std::string(av_get_pix_fmt_name(c.source)) + " to " + pm::fourCCString(c.output) + ", width " +
                     std::to_string(width) + ", shift " + std::to_string(shift));
        const FramePtr picture = randomPicture(width, kHeight, c.source, static_cast<unsigned>(width * 3 + shift));
        ASSERT_NE(picture, nullptr);
        std::shared_ptr<pm::PixelBuffer> buffer;
        ASSERT_EQ(pm::PixelBuffer::create(width, kHeight, c.output, {}, &buffer), 0);
        buffer->lockBaseAddress(pm::PixelBufferLockFlags::None);
        FrameConverter converter;
        std::string error;
        const std::size_t rows = kHeight - shift;
        ASSERT_TRUE(converter.convert(*picture, {static_cast<std::size_t>(shift), rows}, *buffer, {0, rows}, &error)) << error;
        const FramePtr reference = swscaleRows(*picture, shift, static_cast<int>(rows), c.reference);
        for (std::size_t row = 0; row < rows; ++row) {
          const std::vector<std::uint8_t> expected = expectedRow(*reference, c.output, static_cast<int>(row));
          const std::uint8_t* ours = buffer->baseAddress() + row * buffer->bytesPerRow();
          ASSERT_EQ(std::vector<std::uint8_t>(ours, ours + expected.size()), expected) << "row " << row;
        }
        buffer->unlockBaseAddress(pm::PixelBufferLockFlags::None);
      }
    }
  }
}

// Every row in exactly one band, also with more callers at once than the pool
// has threads (each caller then does the bands no helper took).
TEST(PixelPackingTest, RowBandsCoverEveryRowOnceFromManyCallers) {
  const std::size_t rowCounts[] = {0, 1, 31, 32, 100, 1081};
  std::vector<std::thread> callers;
  std::atomic<int> mistakes{0};
  for (int caller = 0; caller < 8; ++caller) {
    callers.emplace_back([&] {
      for (const std::size_t rows : rowCounts) {
        std::vector<std::atomic<int>> visits(rows);
        forEachRowBand(rows, 32, [&](RowBand band) {
          for (std::size_t row = band.first; row < band.first + band.count; ++row) visits.at(row).fetch_add(1);
        });
        for (const auto& count : visits) {
          if (count.load() != 1) mistakes.fetch_add(1);
        }
      }
    });
  }
  for (auto& caller : callers) caller.join();
  EXPECT_EQ(mistakes.load(), 0);
}

}  // namespace
}  // namespace media
