#pragma once
// The media browser's two cells, drawn over the pure geometry of
// BrowserCellGeometry: ImageAndTextCellDelegate (a row's image, then its
// name as plain text; editing covers the text only) and
// FinderLabelCellDelegate (a colour label and its name; nothing for no
// label). Owned by the browser window (Qt parent). GUI thread.

#include <QStyledItemDelegate>

namespace app::views {

class ImageAndTextCellDelegate final : public QStyledItemDelegate {
  Q_OBJECT

 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
  void updateEditorGeometry(QWidget* editor, const QStyleOptionViewItem& option,
                            const QModelIndex& index) const override;
};

class FinderLabelCellDelegate final : public QStyledItemDelegate {
  Q_OBJECT

 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};

}  // namespace app::views
