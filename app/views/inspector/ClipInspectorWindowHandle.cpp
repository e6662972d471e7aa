#include "app/views/inspector/ClipInspectorWindowHandle.h"

#include <QAction>
#include <QKeySequence>

#include "app/shell/ApplicationDelegate.h"
#include "app/views/inspector/ClipInspectorPanel.h"
#include "app/views/shell/ApplicationMenus.h"

namespace app::views {

ClipInspectorWindowHandle::ClipInspectorWindowHandle(std::function<ApplicationDelegate*()> delegate)
    : delegate_(std::move(delegate)),
      context_(delegate_, platform::UserDefaults::standard(), platform::NotificationCenter::defaultCenter()),
      controller_(std::make_unique<inspector::ClipInspectorWindowController>(context_)) {}

ClipInspectorWindowHandle::~ClipInspectorWindowHandle() { panel_.reset(); }

void ClipInspectorWindowHandle::showWindow() {
  if (!panel_) {
    panel_ = std::make_unique<ClipInspectorPanel>(*controller_, context_.defaults());
    if (ApplicationDelegate* delegate = delegate_()) {
      // Undo and Redo act on the inspected playlist (or on nothing).
      auto* undo = new QAction(QObject::tr("Undo"), panel_.get());
      undo->setShortcut(QKeySequence::Undo);
      QObject::connect(undo, &QAction::triggered, panel_.get(),
                       [this] { controller_->windowWillReturnUndoManager().undo(); });
      auto* redo = new QAction(QObject::tr("Redo"), panel_.get());
      redo->setShortcut(QKeySequence::Redo);
      QObject::connect(redo, &QAction::triggered, panel_.get(),
                       [this] { controller_->windowWillReturnUndoManager().redo(); });
      ApplicationMenus::populate(
          *panel_->menuBar(), *delegate,
          MenuOwner{panel_.get(), nullptr, {undo, redo}, [this] { return context_.currentPlaylistDocument(); }});
    }
    controller_->windowDidLoad();
  }
  panel_->show();
  panel_->raise();
  panel_->activateWindow();
}

std::function<std::shared_ptr<WindowController>()> makeClipInspectorFactory(
    std::function<ApplicationDelegate*()> delegate) {
  return [delegate = std::move(delegate)]() -> std::shared_ptr<WindowController> {
    return std::make_shared<ClipInspectorWindowHandle>(delegate);
  };
}

}  // namespace app::views
