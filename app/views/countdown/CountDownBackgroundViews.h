#pragma once
// The plain views of a countdown window: FullScreenView (the counter's
// background, black at alpha 0.8), NavigationContentView (the bar of
// pop-ups: the control background stroked with the highlight colour) and
// NSKeyView (a view that takes the keyboard focus, so the window's keys and
// menu shortcuts reach the window whatever was clicked).
//
// Owned by their Qt parents. GUI thread.

#include <QWidget>

namespace app::views {

inline constexpr double kFullScreenViewAlpha = 0.8;

class FullScreenView final : public QWidget {
  Q_OBJECT

 public:
  explicit FullScreenView(QWidget* parent = nullptr);

 protected:
  void paintEvent(QPaintEvent* event) override;
};

class NavigationContentView final : public QWidget {
  Q_OBJECT

 public:
  explicit NavigationContentView(QWidget* parent = nullptr);

 protected:
  void paintEvent(QPaintEvent* event) override;
};

class NSKeyView final : public QWidget {
  Q_OBJECT

 public:
  explicit NSKeyView(QWidget* parent = nullptr);

 protected:
  void mousePressEvent(QMouseEvent* event) override;
};

}  // namespace app::views
