#pragma once
// Redraws a pane view once per turn of the event loop after its pane's state
// changed, so that a change made from inside one of the view's own widgets
// (an edit being committed) never rebuilds that widget under its feet.
//
// GUI thread.

#include <QPointer>
#include <QTimer>
#include <QWidget>

#include "app/inspector/ClipInspectorViewController.h"

namespace app::views {

template <typename View>
void followPane(inspector::ClipInspectorViewController& pane, View* view) {
  QPointer<View> guarded(view);
  auto pending = std::make_shared<bool>(false);
  pane.setViewUpdater([guarded, pending] {
    if (*pending || !guarded) return;
    *pending = true;
    QTimer::singleShot(0, guarded.data(), [guarded, pending] {
      *pending = false;
      if (guarded) guarded->refresh();
    });
  });
}

}  // namespace app::views
