#include "app/views/playlist/NodePopUpButton.h"

#include <algorithm>

#include <QAbstractItemView>
#include <QPainter>
#include <QPixmap>
#include <QSignalBlocker>
#include <QStyle>
#include <QStyleOptionComboBox>
#include <QStandardItemModel>

namespace app::views {
namespace {

// The lock images of the node items, drawn once.
QIcon lockIcon(const std::string& image) {
  static const QIcon locked = [] {
    QPixmap pixmap(14, 14);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(80, 80, 80), 1.6));
    painter.drawArc(QRectF(3.5, 1.5, 7, 8), 0, 180 * 16);
    painter.fillRect(QRectF(2, 6, 10, 7), QColor(80, 80, 80));
    return QIcon(pixmap);
  }();
  static const QIcon slave = [] {
    QPixmap pixmap(14, 14);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(60, 90, 160), 1.6));
    painter.drawEllipse(QRectF(2, 2, 10, 10));
    painter.drawLine(QPointF(7, 4), QPointF(7, 10));
    return QIcon(pixmap);
  }();
  static const QIcon blank = [] {
    QPixmap pixmap(14, 14);
    pixmap.fill(Qt::transparent);
    return QIcon(pixmap);
  }();
  if (image == kLockedImage) return locked;
  if (image == kSlaveImage) return slave;
  return blank;
}

}  // namespace

NodePopUpButton::NodePopUpButton(QWidget* parent) : QComboBox(parent) {
  setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
}

int NodePopUpButton::widthForSelectedName() const {
  QStyleOptionComboBox option;
  initStyleOption(&option);
  const int text = fontMetrics().horizontalAdvance(currentText());
  const int icon = itemIcon(currentIndex()).isNull() ? 0 : iconSize().width() + 4;
  return style()->sizeFromContents(QStyle::CT_ComboBox, &option, QSize(text + icon, height()), this).width();
}

void NodePopUpButton::showPopup() {
  if (willPopUp_) willPopUp_();
  QComboBox::showPopup();
}

void NodePopUpButton::showItems(const std::vector<NodeMenuItem>& items, std::optional<std::size_t> selected) {
  const QSignalBlocker quiet(this);
  if (items != shown_) {
    shown_ = items;
    clear();
    auto* standardModel = qobject_cast<QStandardItemModel*>(model());
    for (const NodeMenuItem& item : items) {
      if (item.separator) {
        insertSeparator(count());
        continue;
      }
      addItem(lockIcon(item.image), QString::fromStdString(item.title),
              item.nodeUniqueID ? QString::fromStdString(*item.nodeUniqueID) : QString());
      if (standardModel) standardModel->item(count() - 1)->setEnabled(item.enabled);
    }
  }
  setCurrentIndex(selected && *selected < static_cast<std::size_t>(count()) ? static_cast<int>(*selected) : -1);
  // The list is wide enough for the longest node name, whatever the button's width.
  int widest = 0;
  for (int i = 0; i < count(); ++i) widest = std::max(widest, fontMetrics().horizontalAdvance(itemText(i)));
  view()->setMinimumWidth(widest + iconSize().width() + 48);
}

}  // namespace app::views
