#pragma once
// InOutPointViewer: the strip under the preview that shades the part of the
// media between the in and out points and marks both. Setting a point
// redraws; the duration is taken as it is and used at the next redraw.
//
// Owned by its parent widget. GUI thread.

#include <QWidget>

namespace app::views {

class InOutPointViewer final : public QWidget {
  Q_OBJECT

 public:
  explicit InOutPointViewer(QWidget* parent = nullptr);

  void setInPointValue(double seconds);
  void setOutPointValue(double seconds);
  void setDuration(double seconds) { durationValue_ = seconds; }
  double inPointValue() const { return inPointValue_; }
  double outPointValue() const { return outPointValue_; }
  QSize sizeHint() const override { return {200, 12}; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  double inPointValue_ = 0;
  double outPointValue_ = 0;
  double durationValue_ = 0;
};

}  // namespace app::views
