#include "app/views/inspector/ClipInspectorPanel.h"

#include <QAbstractSpinBox>
#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenuBar>
#include <QStackedWidget>
#include <QToolBar>
#include <QVBoxLayout>

#include <sstream>

#include "app/views/inspector/AttributesPaneView.h"
#include "app/views/inspector/InOutPaneView.h"
#include "app/views/inspector/InfoPaneView.h"
#include "app/views/inspector/ResizePaneView.h"
#include "app/views/preview/ClipPreviewView.h"

namespace app::views {
namespace {

// Widgets that keep the keys typed into them.
bool takesTyping(const QWidget* widget) {
  if (qobject_cast<const QLineEdit*>(widget) || qobject_cast<const QAbstractSpinBox*>(widget)) return true;
  const auto* combo = qobject_cast<const QComboBox*>(widget);
  return combo && combo->isEditable();
}

}  // namespace

ClipInspectorPanel::ClipInspectorPanel(inspector::ClipInspectorWindowController& controller,
                                       platform::UserDefaults& defaults, QWidget* parent)
    : QWidget(parent, Qt::Tool), controller_(controller), defaults_(defaults) {
  setObjectName("clipInspectorPanel");
  setWindowTitle(tr(inspector::kClipInspectorWindowTitle));
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(0, 0, 0, 0);
  menuBar_ = new QMenuBar(this);
  column->setMenuBar(menuBar_);
  toolbar_ = new QToolBar(this);
  toolbar_->setObjectName("toolbar");
  toolbar_->setToolButtonStyle(Qt::ToolButtonTextOnly);
  auto* group = new QActionGroup(this);
  for (const inspector::InspectorToolbarItem& item : inspector::kInspectorToolbarItems) {
    QAction* action = toolbar_->addAction(tr(item.label));
    action->setObjectName(item.identifier);
    action->setToolTip(item.identifier);
    action->setCheckable(true);
    group->addAction(action);
    const int tag = item.tag;
    connect(action, &QAction::triggered, this, [this, tag] { controller_.changePanes(tag); });
    toolbarItems_[item.identifier] = action;
  }
  column->addWidget(toolbar_);
  panes_ = new QStackedWidget(this);
  column->addWidget(panes_, 1);

  auto add = [this](const inspector::ClipInspectorViewController& pane, QWidget* view) {
    panes_->addWidget(view);
    paneViews_[&pane] = view;
  };
  add(controller_.attributesClipInspectorViewController(),
      new AttributesPaneView(controller_.attributesClipInspectorViewController()));
  inOut_ = new InOutPaneView(controller_.inOutInspectorViewController(), defaults_);
  add(controller_.inOutInspectorViewController(), inOut_);
  add(controller_.resizeClipInspectorViewController(), new ResizePaneView(controller_.resizeClipInspectorViewController()));
  add(controller_.generalClipInspectorViewController(),
      new InfoPaneView(controller_.generalClipInspectorViewController(),
                       controller_.metadataClipInspectorViewController()));
  connect(this, &ClipInspectorPanel::altKeyDownChanged, this,
          [this](bool down) { inOut_->preview().controller().setShowMixPoints(down); });
  qApp->installEventFilter(this);
  restoreOrigin();
  controller_.setWindow(this);
}

ClipInspectorPanel::~ClipInspectorPanel() {
  qApp->removeEventFilter(this);
  controller_.setWindow(nullptr);
}

void ClipInspectorPanel::setAltKeyDown(bool down) {
  if (down == altKeyDown_) return;
  altKeyDown_ = down;
  emit altKeyDownChanged(down);
}

void ClipInspectorPanel::selectToolbarItem(const std::string& identifier) {
  if (const auto found = toolbarItems_.find(identifier); found != toolbarItems_.end()) found->second->setChecked(true);
}

inspector::PaneFrame ClipInspectorPanel::frame() const {
  const QRect g = geometry();
  return {{static_cast<double>(g.x()), static_cast<double>(g.y())},
          {static_cast<double>(g.width()), static_cast<double>(g.height())}};
}

inspector::PaneSize ClipInspectorPanel::contentSize() const {
  return {static_cast<double>(panes_->width()), static_cast<double>(panes_->height())};
}

inspector::PaneSize ClipInspectorPanel::paneViewSize(const inspector::ClipInspectorViewController& pane) const {
  const auto found = paneViews_.find(&pane);
  if (found == paneViews_.end()) return {};
  const QSize size = found->second->sizeHint().expandedTo(found->second->minimumSize());
  return {static_cast<double>(size.width()), static_cast<double>(size.height())};
}

// No resize animation: the window takes its new frame and the pane at once.
void ClipInspectorPanel::showPane(inspector::ClipInspectorViewController& pane, const inspector::PaneResize& target) {
  const auto found = paneViews_.find(&pane);
  if (found == paneViews_.end()) return;
  for (const auto& [identifier, action] : toolbarItems_) {
    if (identifier == pane.title()) action->setChecked(true);
  }
  const QSize chrome = size() - panes_->size();
  panes_->setCurrentWidget(found->second);
  setMinimumSize(QSize(static_cast<int>(target.minimumContent.width), static_cast<int>(target.minimumContent.height)) +
                 chrome);
  if (target.sizeChanged) resize(static_cast<int>(target.frame.size.width), static_cast<int>(target.frame.size.height));
}

bool ClipInspectorPanel::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() != QEvent::KeyPress && event->type() != QEvent::KeyRelease) return false;
  auto* widget = qobject_cast<QWidget*>(watched);
  if (!widget || widget->window() != this) return false;
  auto* key = static_cast<QKeyEvent*>(event);
  setAltKeyDown(key->key() == Qt::Key_Alt ? event->type() == QEvent::KeyPress
                                           : key->modifiers().testFlag(Qt::AltModifier));
  if (event->type() != QEvent::KeyPress || takesTyping(QApplication::focusWidget())) return false;
  const auto previewKey = clipPreviewKeyForEvent(*key);
  if (!previewKey) return false;  // menu shortcuts, Tab, Escape, Return
  controller_.keyDown(*previewKey);
  return true;  // taken, or dropped when no pane wanted it
}

void ClipInspectorPanel::restoreOrigin() {
  const auto saved = defaults_.stringForKey(inspector::kClipInspectorFrameAutosaveName);
  std::istringstream fields(saved.value_or(""));
  int x = 0;
  int y = 0;
  if (fields >> x >> y) move(x, y);
}

void ClipInspectorPanel::moveEvent(QMoveEvent* event) {
  QWidget::moveEvent(event);
  if (!isVisible()) return;
  defaults_.setObject(std::to_string(pos().x()) + ' ' + std::to_string(pos().y()),
                      inspector::kClipInspectorFrameAutosaveName);
}

}  // namespace app::views
