#pragma once
// Draws one of the customer's tickets in two lines: the subject in bold and
// "#<id> - <application>" below, both in 12 pt and elided in the middle.
#include <QStyledItemDelegate>

namespace support::views {

class TicketCell final : public QStyledItemDelegate {
 public:
  // Item data: the subject (Qt::DisplayRole) and the second line.
  static constexpr int kSubtitleRole = Qt::UserRole + 1;

  using QStyledItemDelegate::QStyledItemDelegate;
  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};

}  // namespace support::views
