#pragma once
// SampleBufferDisplayWidget: the display of one player view. It is black,
// and shows the newest enqueued frame fitted into it with its aspect kept.
// Frames are converted to 32-bit BGRA on the thread that enqueues them (the
// preview queue); painting happens on the GUI thread.

#include <QImage>
#include <QWidget>

#include <mutex>

#include "media/preview/SampleBufferDisplay.h"
#include "platform/media/PixelTransferSession.h"

namespace app::views {

class SampleBufferDisplayWidget final : public QWidget, public media::SampleBufferDisplay {
  Q_OBJECT

 public:
  explicit SampleBufferDisplayWidget(QWidget* parent = nullptr);

  // Any thread, one at a time (the player view's lock orders them).
  void enqueueSampleBuffer(const platform::media::SampleBufferRef& frame) override;
  void flushAndRemoveImage() override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  void scheduleRepaint();

  platform::media::PixelTransferSession transfer_;  // the enqueuing thread
  std::mutex mutex_;
  QImage image_;  // guarded by mutex_
};

}  // namespace app::views
