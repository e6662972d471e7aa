#include "app/views/preview/SampleBufferDisplayWidget.h"

#include <QMetaObject>
#include <QPainter>

#include <cstring>

namespace app::views {

namespace pm = platform::media;

SampleBufferDisplayWidget::SampleBufferDisplayWidget(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void SampleBufferDisplayWidget::enqueueSampleBuffer(const pm::SampleBufferRef& frame) {
  const auto& picture = frame ? frame->imageBuffer() : nullptr;
  if (!picture) return;
  std::shared_ptr<pm::PixelBuffer> converted;
  if (pm::PixelBuffer::create(picture->width(), picture->height(), pm::fourCC("BGRA"), {}, &converted) != 0) return;
  if (transfer_.transferImage(*picture, *converted) != 0) return;
  // BGRA bytes are Qt's ARGB32 on a little-endian machine.
  QImage image(static_cast<int>(converted->width()), static_cast<int>(converted->height()), QImage::Format_ARGB32);
  for (int row = 0; row < image.height(); ++row) {
    std::memcpy(image.scanLine(row), converted->baseAddress() + converted->bytesPerRow() * static_cast<std::size_t>(row),
                static_cast<std::size_t>(image.width()) * 4);
  }
  {
    const std::lock_guard lock(mutex_);
    image_ = std::move(image);
  }
  scheduleRepaint();
}

void SampleBufferDisplayWidget::flushAndRemoveImage() {
  {
    const std::lock_guard lock(mutex_);
    image_ = QImage();
  }
  scheduleRepaint();
}

void SampleBufferDisplayWidget::scheduleRepaint() {
  // Queued with the widget as context: dropped if the widget is gone first.
  QMetaObject::invokeMethod(this, [this] { update(); }, Qt::QueuedConnection);
}

void SampleBufferDisplayWidget::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), Qt::black);
  QImage image;
  {
    const std::lock_guard lock(mutex_);
    image = image_;
  }
  if (image.isNull()) return;
  const QSize fitted = image.size().scaled(size(), Qt::KeepAspectRatio);
  const QRect target(QPoint((width() - fitted.width()) / 2, (height() - fitted.height()) / 2), fitted);
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  painter.drawImage(target, image);
}

}  // namespace app::views
