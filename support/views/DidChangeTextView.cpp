#include "support/views/DidChangeTextView.h"

DidChangeTextView::DidChangeTextView(QWidget* parent) : QPlainTextEdit(parent) {
  connect(this, &QPlainTextEdit::textChanged, this, [this] {
    if (delegate_) delegate_->textViewDidChangeText(*this);
  });
}
