#pragma once
// PatternView: the background of the playlist area. The flat look (this
// desktop's) fills it with a light grey; the gradient look tiles a pattern
// image and, when asked, shades a 3-pixel border with a white gradient.
//
// Owned by its Qt parent. GUI thread.

#include <QImage>
#include <QWidget>

namespace app::views {

class PatternView final : public QWidget {
  Q_OBJECT

 public:
  explicit PatternView(QWidget* parent = nullptr, bool flatLook = true);

  void setPaternImage(const QImage& image);
  bool drawGradientBorder() const { return drawGradientBorder_; }
  void setDrawGradientBorder(bool draw);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QImage pattern_;
  bool drawGradientBorder_ = false;
  const bool flatLook_;
};

}  // namespace app::views
