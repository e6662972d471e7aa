#pragma once
// A plain text view that tells its delegate about every change of its text.
#include <QPlainTextEdit>

namespace support::views {

class DidChangeTextViewDelegate {
 public:
  virtual ~DidChangeTextViewDelegate() = default;
  virtual void textViewDidChangeText(QPlainTextEdit& view) = 0;
};

}  // namespace support::views

class DidChangeTextView : public QPlainTextEdit {
  Q_OBJECT

 public:
  explicit DidChangeTextView(QWidget* parent = nullptr);
  // delegate: not owned; it outlives the view or clears itself first.
  void setDelegate(support::views::DidChangeTextViewDelegate* delegate) { delegate_ = delegate; }

 private:
  support::views::DidChangeTextViewDelegate* delegate_ = nullptr;
};
