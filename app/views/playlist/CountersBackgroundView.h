#pragma once
// CountersBackgroundView: the rounded panel behind a playlist window's time
// counters (flat look: a light vertical gradient in a light grey outline).
// A Qt widget owned by its parent window; main (GUI) thread.

#include <QWidget>

namespace app::views {

class CountersBackgroundView : public QWidget {
  Q_OBJECT

 public:
  explicit CountersBackgroundView(QWidget* parent = nullptr) : QWidget(parent) {}

 protected:
  void paintEvent(QPaintEvent* event) override;
};

}  // namespace app::views
