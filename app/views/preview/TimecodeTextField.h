#pragma once
// TimecodeTextField: a timecode entry field. It keeps the text it had when
// editing began, so Escape can put it back; Return hands the typed text on.
// PlayheadTextField is the current-position field: it also tells when the
// user starts typing in it (the preview pauses then).
//
// Owned by its parent widget. GUI thread.

#include <QLineEdit>

#include <functional>

namespace app::views {

class TimecodeTextField : public QLineEdit {
  Q_OBJECT

 public:
  explicit TimecodeTextField(QWidget* parent = nullptr);

  const QString& originalStringValue() const { return originalStringValue_; }
  // Return with the typed text.
  void setEnteredHandler(std::function<void(const QString&)> handler) { entered_ = std::move(handler); }
  // Escape, after the text went back.
  void setCancelledHandler(std::function<void()> handler) { cancelled_ = std::move(handler); }

 protected:
  void focusInEvent(QFocusEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  QString originalStringValue_;
  std::function<void(const QString&)> entered_;
  std::function<void()> cancelled_;
};

class PlayheadTextField final : public TimecodeTextField {
  Q_OBJECT

 public:
  using TimecodeTextField::TimecodeTextField;
  void setBecameFirstResponderHandler(std::function<void()> handler) { becameFirstResponder_ = std::move(handler); }

 protected:
  void focusInEvent(QFocusEvent* event) override;

 private:
  std::function<void()> becameFirstResponder_;
};

}  // namespace app::views
