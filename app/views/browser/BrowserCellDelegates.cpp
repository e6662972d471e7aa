#include "app/views/browser/BrowserCellDelegates.h"

#include <QAbstractProxyModel>
#include <QApplication>
#include <QPainter>

#include "app/browser/BrowserCellGeometry.h"
#include "app/browser/MediaBrowserRowAppearance.h"
#include "app/views/browser/MediaBrowserImages.h"
#include "app/views/browser/MediaCollectionTreeModel.h"

namespace app::views {

namespace {

constexpr int kImageSide = 16;
constexpr int kLabelFontPoints = 12;

const browser::MediaCollectionNode* nodeOf(const QModelIndex& index) {
  QModelIndex source = index;
  if (const auto* proxy = qobject_cast<const QAbstractProxyModel*>(index.model())) source = proxy->mapToSource(index);
  return MediaCollectionTreeModel::nodeAt(source);
}

browser::CellRect cellRect(const QRect& rect) { return {double(rect.x()), double(rect.y()), double(rect.width()), double(rect.height())}; }
QRect qRect(const browser::CellRect& rect) {
  return QRect(int(rect.x), int(rect.y), int(rect.width), int(rect.height));
}

QColor colourOf(browser::RowTextColour colour) {
  switch (colour) {
    case browser::RowTextColour::Black: return Qt::black;
    case browser::RowTextColour::Grey: return Qt::gray;
    case browser::RowTextColour::White: return Qt::white;
    case browser::RowTextColour::LightGrey: return Qt::lightGray;
  }
  return Qt::black;
}

void drawBackground(QPainter* painter, const QStyleOptionViewItem& option) {
  QStyleOptionViewItem background = option;
  background.text.clear();
  background.icon = QIcon();
  const QWidget* widget = option.widget;
  (widget ? widget->style() : QApplication::style())->drawControl(QStyle::CE_ItemViewItem, &background, painter, widget);
}

}  // namespace

void ImageAndTextCellDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                                     const QModelIndex& index) const {
  const browser::MediaCollectionNode* node = nodeOf(index);
  if (!node) return QStyledItemDelegate::paint(painter, option, index);
  QStyleOptionViewItem item = option;
  initStyleOption(&item, index);
  drawBackground(painter, item);
  const bool highlighted = item.state & QStyle::State_Selected;
  const browser::RowAppearance appearance = browser::nameCellAppearance(*node, highlighted);
  const QIcon icon = appearance.imageName ? mediaBrowserImage(*appearance.imageName) : QIcon();
  const std::optional<browser::CellSize> imageSize =
      icon.isNull() ? std::nullopt : std::optional<browser::CellSize>(browser::CellSize{kImageSide, kImageSide});
  const browser::CellRect frame = cellRect(item.rect);
  if (imageSize) icon.paint(painter, qRect(browser::imageDrawRect(frame, *imageSize)));
  const QRect text = qRect(browser::textFrame(frame, imageSize)).adjusted(2, 0, 0, 0);
  painter->save();
  painter->setPen(colourOf(appearance.textColour));
  painter->setFont(item.font);
  // Plain text, cut at the end: a name is never read as markup.
  painter->drawText(text, Qt::AlignVCenter | Qt::AlignLeft | Qt::TextSingleLine,
                    item.fontMetrics.elidedText(QString::fromStdString(node->name()), Qt::ElideRight, text.width()));
  painter->restore();
}

QSize ImageAndTextCellDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const {
  QSize size = QStyledItemDelegate::sizeHint(option, index);
  const browser::MediaCollectionNode* node = nodeOf(index);
  if (!node) return size;
  const double textWidth = option.fontMetrics.horizontalAdvance(QString::fromStdString(node->name()));
  size.setWidth(int(browser::imageAndTextCellWidth(textWidth, browser::CellSize{kImageSide, kImageSide})) + 4);
  size.setHeight(std::max(size.height(), kImageSide + 2));
  return size;
}

void ImageAndTextCellDelegate::updateEditorGeometry(QWidget* editor, const QStyleOptionViewItem& option,
                                                    const QModelIndex&) const {
  editor->setGeometry(qRect(browser::textFrame(cellRect(option.rect), browser::CellSize{kImageSide, kImageSide})));
}

void FinderLabelCellDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                                    const QModelIndex& index) const {
  QStyleOptionViewItem item = option;
  initStyleOption(&item, index);
  drawBackground(painter, item);
  const browser::MediaCollectionNode* node = nodeOf(index);
  if (!node) return;
  const browser::FinderLabelValue value = browser::finderLabelValue(*node);
  if (!browser::finderLabelDrawsAnything(value.finderLabelIndex)) return;
  const browser::CellRect frame = cellRect(item.rect);
  painter->save();
  painter->setRenderHint(QPainter::Antialiasing);
  const QColor colour = finderLabelColour(value.finderLabelIndex);
  painter->setPen(colour.darker(140));
  painter->setBrush(colour);
  painter->drawEllipse(qRect(browser::finderLabelImageRect(frame)));
  QFont font = item.font;
  font.setPointSize(kLabelFontPoints);
  painter->setFont(font);
  const bool highlighted = item.state & QStyle::State_Selected;
  painter->setPen(highlighted ? Qt::white : (value.enabled ? Qt::black : Qt::gray));
  painter->drawText(qRect(browser::finderLabelNameRect(frame)), Qt::AlignVCenter | Qt::AlignLeft | Qt::TextSingleLine,
                    QString::fromStdString(value.finderLabelName));
  painter->restore();
}

}  // namespace app::views
