#include "app/views/inspector/InOutPaneView.h"

#include <QLabel>

#include "app/views/common/ViewCategory.h"
#include "app/views/inspector/PaneViewRefresh.h"
#include "app/views/preview/ClipPreviewView.h"

namespace app::views {

InOutPaneView::InOutPaneView(inspector::ZRXLInOutInspectorViewController& pane, platform::UserDefaults& defaults,
                             QWidget* parent)
    : QWidget(parent), pane_(pane) {
  setObjectName("inOutPane");
  preview_ = new ClipPreviewView(defaults, this);
  fillInSuperView(*preview_);
  message_ = new QLabel(this);
  message_->hide();
  message_->setObjectName("inOutMessageTextField");
  message_->setAlignment(Qt::AlignCenter);
  message_->setMinimumHeight(60);
  setMinimumSize(560, 480);
  pane_.setPreview(&preview_->controller());
  followPane(pane_, this);
  refresh();
}

InOutPaneView::~InOutPaneView() { pane_.setPreview(nullptr); }

void InOutPaneView::refresh() {
  const std::string& message = pane_.state().message;
  message_->setText(QString::fromStdString(message));
  preview_->setAccessoryView(message.empty() ? nullptr : message_);
}

}  // namespace app::views
