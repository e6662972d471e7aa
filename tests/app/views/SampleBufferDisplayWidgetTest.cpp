// The preview's picture on the offscreen platform: black without a frame,
// the newest frame fitted with its aspect kept (bars above and below), black
// again after a flush.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QImage>

#include <cstring>

#include "app/views/preview/SampleBufferDisplayWidget.h"
#include "platform/media/FormatDescription.h"
#include "tests/app/views/QtTestApplication.h"

namespace {

namespace pm = platform::media;

// A 64 x 36 frame of one BGRA colour.
pm::SampleBufferRef solidFrame(std::uint8_t blue, std::uint8_t green, std::uint8_t red) {
  std::shared_ptr<pm::PixelBuffer> picture;
  pm::PixelBuffer::create(64, 36, pm::fourCC("BGRA"), {}, &picture);
  for (std::size_t row = 0; row < 36; ++row) {
    auto* line = picture->baseAddress() + row * picture->bytesPerRow();
    for (std::size_t x = 0; x < 64; ++x) {
      const std::uint8_t pixel[4] = {blue, green, red, 255};
      std::memcpy(line + x * 4, pixel, 4);
    }
  }
  pm::SampleBufferRef sample;
  pm::SampleBuffer::createForImageBuffer(picture, pm::FormatDescription::createForPixelBuffer(*picture),
                                         {pm::MediaTime::make(1, 25), pm::MediaTime::zero(), pm::MediaTime::invalid()},
                                         &sample);
  return sample;
}

QImage shot(app::views::SampleBufferDisplayWidget& widget) {
  QCoreApplication::processEvents();
  return widget.grab().toImage();
}

TEST(SampleBufferDisplayWidgetTest, ShowsTheNewestFrameFittedOnBlack) {
  testing_support::qtTestApplication();
  app::views::SampleBufferDisplayWidget widget;
  widget.resize(320, 320);
  EXPECT_EQ(shot(widget).pixelColor(160, 160), QColor(Qt::black));

  widget.enqueueSampleBuffer(solidFrame(0, 0, 255));
  widget.enqueueSampleBuffer(solidFrame(255, 0, 0));
  const QImage image = shot(widget);
  // 16:9 in a square: 180 rows of picture in the middle, bars above and below.
  EXPECT_EQ(image.pixelColor(160, 160), QColor(0, 0, 255));
  EXPECT_EQ(image.pixelColor(160, 20), QColor(Qt::black));
  EXPECT_EQ(image.pixelColor(160, 300), QColor(Qt::black));

  widget.flushAndRemoveImage();
  EXPECT_EQ(shot(widget).pixelColor(160, 160), QColor(Qt::black));
}

}  // namespace
