#include "support/views/TicketCell.h"

#include <QApplication>
#include <QPainter>

namespace support::views {

void TicketCell::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
  QStyleOptionViewItem base = option;
  initStyleOption(&base, index);
  base.text.clear();
  QApplication::style()->drawControl(QStyle::CE_ItemViewItem, &base, painter, base.widget);

  const bool highlighted = option.state & QStyle::State_Selected;
  painter->save();
  painter->setPen(option.palette.color(highlighted ? QPalette::HighlightedText : QPalette::Text));
  QFont font = option.font;
  font.setPointSize(12);
  const QRect cell = option.rect;
  const auto drawLine = [&](const QString& text, int y, bool bold) {
    font.setBold(bold);
    painter->setFont(font);
    const QFontMetrics metrics(font);
    const QRect line(cell.x() + 5, cell.y() + y, cell.width() - 10, metrics.height());
    // Help-desk texts are drawn as they are, never read as markup.
    painter->drawText(line, Qt::AlignLeft | Qt::AlignTop, metrics.elidedText(text, Qt::ElideMiddle, line.width()));
  };
  drawLine(index.data(Qt::DisplayRole).toString(), 2, true);
  drawLine(index.data(kSubtitleRole).toString(), 18, false);
  painter->restore();
}

QSize TicketCell::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const {
  return {QStyledItemDelegate::sizeHint(option, index).width(), 38};
}

}  // namespace support::views
