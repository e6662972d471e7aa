#include "app/views/common/ViewCategory.h"

#include <algorithm>

#include <QAbstractScrollArea>
#include <QEvent>
#include <QGridLayout>
#include <QResizeEvent>
#include <QVBoxLayout>
#include <QWidget>

namespace app::views {
namespace {

constexpr const char* kMaskProperty = "vzAutoresizingMask";
constexpr const char* kTranslatesProperty = "vzTranslatesAutoresizingMask";
constexpr const char* kApplierName = "vzAutoresizingApplier";
constexpr const char* kFillLayoutName = "vzFillInSuperViewLayout";

struct Span {
  int start;
  int length;
};

// One direction: the parent's length went from `before` to `after`; the
// flexible parts (leading margin, length, trailing margin) share the change.
Span resizeSpan(Span span, int before, int after, bool leadingFlexible, bool lengthFlexible, bool trailingFlexible) {
  const int flexible = int(leadingFlexible) + int(lengthFlexible) + int(trailingFlexible);
  if (flexible == 0) return span;
  const int delta = after - before;
  const int share = delta / flexible;
  int leadingShare = leadingFlexible ? share : 0;
  int lengthShare = lengthFlexible ? share : 0;
  // What the even split leaves over goes to the trailing margin when it is
  // flexible, else to the length, else to the leading margin.
  const int rest = delta - share * flexible;
  if (!trailingFlexible) (lengthFlexible ? lengthShare : leadingShare) += rest;
  return {span.start + leadingShare, std::max(0, span.length + lengthShare)};
}

// Applies the masks of a parent's children when the parent resizes.
class AutoresizingApplier final : public QObject {
 public:
  explicit AutoresizingApplier(QWidget& parent) : QObject(&parent) { setObjectName(kApplierName); }

  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() != QEvent::Resize || watched != parent()) return false;
    auto* parentWidget = static_cast<QWidget*>(watched);
    const auto* resize = static_cast<QResizeEvent*>(event);
    const QSize before = resize->oldSize();
    const QSize after = resize->size();
    if (!before.isValid()) return false;
    for (QWidget* child : parentWidget->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
      const unsigned mask = autoresizingMask(*child);
      if (mask == 0 || !translatesAutoresizingMask(*child) || child->isWindow()) continue;
      if (parentWidget->layout() && parentWidget->layout()->indexOf(child) >= 0) continue;
      const QRect frame = child->geometry();
      const Span x = resizeSpan({frame.x(), frame.width()}, before.width(), after.width(),
                                mask & kFlexibleLeftMargin, mask & kFlexibleWidth, mask & kFlexibleRightMargin);
      const Span y = resizeSpan({frame.y(), frame.height()}, before.height(), after.height(),
                                mask & kFlexibleTopMargin, mask & kFlexibleHeight, mask & kFlexibleBottomMargin);
      child->setGeometry(x.start, y.start, x.length, y.length);
    }
    return false;
  }
};

}  // namespace

unsigned autoresizingMask(const QWidget& view) { return view.property(kMaskProperty).toUInt(); }

void setAutoresizingBit(QWidget& view, unsigned mask, bool on) {
  const unsigned current = autoresizingMask(view);
  view.setProperty(kMaskProperty, on ? (current | mask) : (current & ~mask));
  QWidget* parent = view.parentWidget();
  if (parent && !parent->findChild<AutoresizingApplier*>(kApplierName, Qt::FindDirectChildrenOnly)) {
    parent->installEventFilter(new AutoresizingApplier(*parent));
  }
}

void fixLeftEdge(QWidget& view, bool fixed) { setAutoresizingBit(view, kFlexibleLeftMargin, !fixed); }
void fixRightEdge(QWidget& view, bool fixed) { setAutoresizingBit(view, kFlexibleRightMargin, !fixed); }
void fixWidth(QWidget& view, bool fixed) { setAutoresizingBit(view, kFlexibleWidth, !fixed); }
void fixHeight(QWidget& view, bool fixed) { setAutoresizingBit(view, kFlexibleHeight, !fixed); }
void fixTopEdge(QWidget& view, bool fixed) { setAutoresizingBit(view, kFlexibleBottomMargin, fixed); }
void fixBottomEdge(QWidget& view, bool fixed) { setAutoresizingBit(view, kFlexibleTopMargin, fixed); }

bool translatesAutoresizingMask(const QWidget& view) {
  const QVariant translates = view.property(kTranslatesProperty);
  return !translates.isValid() || translates.toBool();
}

void setTranslatesAutoresizingMask(QWidget& view, bool translates) { view.setProperty(kTranslatesProperty, translates); }

bool fillInSuperView(QWidget& view) {
  QWidget* parent = view.parentWidget();
  if (!parent) return false;
  auto* grid = qobject_cast<QGridLayout*>(parent->layout());
  if (parent->layout() && (!grid || grid->objectName() != kFillLayoutName)) return false;
  if (!grid) {
    grid = new QGridLayout(parent);
    grid->setObjectName(kFillLayoutName);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setSpacing(0);
  }
  setTranslatesAutoresizingMask(view, false);
  grid->addWidget(&view, 0, 0);
  return true;
}

void dontTranslateAutoresizingMaskToHierarchy(QWidget& view) {
  for (QWidget* child : view.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
    if (qobject_cast<QAbstractScrollArea*>(child)) continue;
    setTranslatesAutoresizingMask(*child, false);
    dontTranslateAutoresizingMaskToHierarchy(*child);
  }
}

void layoutRowConstraintWithViews(QWidget& receiver, const std::vector<QWidget*>& views, int top, int bottom,
                                  int spacing, int leading, int trailing) {
  delete receiver.layout();
  if (views.empty()) return;
  auto* column = new QVBoxLayout(&receiver);
  column->setContentsMargins(leading, top, trailing, bottom);
  column->setSpacing(spacing);
  for (QWidget* view : views) {
    setTranslatesAutoresizingMask(*view, false);
    column->addWidget(view);
  }
}

}  // namespace app::views
