#include "app/views/playlist/KeyboardAwareWindow.h"

#include <QAbstractSpinBox>
#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextEdit>
#include <QWidget>

namespace app::views {
namespace {

bool takesText(const QWidget* widget) {
  return qobject_cast<const QLineEdit*>(widget) || qobject_cast<const QAbstractSpinBox*>(widget) ||
         qobject_cast<const QTextEdit*>(widget) || qobject_cast<const QPlainTextEdit*>(widget);
}

}  // namespace

std::optional<PlaylistKey> playlistKeyForEvent(const QKeyEvent& event) {
  const Qt::KeyboardModifiers modifiers = event.modifiers() & ~Qt::KeypadModifier;
  PlaylistKey key;
  key.command = modifiers.testFlag(Qt::ControlModifier);
  key.option = modifiers.testFlag(Qt::AltModifier);
  switch (event.key()) {
    case Qt::Key_Left:
    case Qt::Key_Right:
      if (!key.option || key.command) return std::nullopt;  // plain arrows move the selection
      key.kind = event.key() == Qt::Key_Left ? PlaylistKey::Kind::LeftArrow : PlaylistKey::Kind::RightArrow;
      return key;
    case Qt::Key_Space:
      if (key.command) return std::nullopt;
      key.option = key.option || modifiers.testFlag(Qt::ShiftModifier);
      key.kind = PlaylistKey::Kind::Space;
      return key;
    case Qt::Key_K:
    case Qt::Key_P:
      if (key.command || key.option) return std::nullopt;
      key.character = event.key() == Qt::Key_K ? U'k' : U'p';
      return key;
    case Qt::Key_L:
    case Qt::Key_U:
      if (!key.command || key.option) return std::nullopt;
      key.character = event.key() == Qt::Key_L ? U'l' : U'u';
      return key;
    default:
      return std::nullopt;
  }
}

KeyboardAwareWindow::KeyboardAwareWindow(QWidget& window, Delegate delegate)
    : QObject(&window), window_(window), delegate_(std::move(delegate)) {
  if (QCoreApplication::instance()) QCoreApplication::instance()->installEventFilter(this);
}

bool KeyboardAwareWindow::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() != QEvent::KeyPress) return false;
  auto* widget = qobject_cast<QWidget*>(watched);
  if (!widget || widget->window() != &window_ || takesText(widget)) return false;
  const auto key = playlistKeyForEvent(*static_cast<QKeyEvent*>(event));
  if (!key || !delegate_) return false;
  return delegate_(*key);
}

}  // namespace app::views
