#include "app/views/preview/TimecodeTextField.h"

#include <QFontDatabase>
#include <QKeyEvent>

namespace app::views {

TimecodeTextField::TimecodeTextField(QWidget* parent) : QLineEdit(parent) {
  // Digits that do not move while the counter runs.
  setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  setAlignment(Qt::AlignCenter);
}

void TimecodeTextField::focusInEvent(QFocusEvent* event) {
  originalStringValue_ = text();
  QLineEdit::focusInEvent(event);
}

void TimecodeTextField::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape) {
    setText(originalStringValue_);
    if (cancelled_) cancelled_();
    return;
  }
  if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
    if (entered_) entered_(text());
    return;
  }
  QLineEdit::keyPressEvent(event);
}

void PlayheadTextField::focusInEvent(QFocusEvent* event) {
  TimecodeTextField::focusInEvent(event);
  if (becameFirstResponder_) becameFirstResponder_();
}

}  // namespace app::views
