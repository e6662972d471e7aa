#include "app/views/playlist/PlaylistRowDelegate.h"

#include <QFontMetrics>
#include <QPainter>
#include <QPainterPath>
#include <QWidget>

#include <cmath>

#include "app/playlist/PlaylistEditor.h"

namespace app::views {

namespace {

QRectF toQt(const LayoutRect& r) { return QRectF(r.x, r.y, r.width, r.height); }

struct BubbleStyle {
  QColor colour;
  double opacity = 1.0;
  bool fillers = false;
};

// The bubble's colour by the first state that holds: selection (unless the
// row plays), offline,
// paused or cued, status 5, playing, anything else. Unfocused tables draw the
// paler "back" set.
BubbleStyle bubbleStyle(const PlaylistRowPaintData& row, bool selected, bool focused) {
  BubbleStyle style;
  // A playing row stays green when selected: the selection never hides what is on air.
  if (selected && !(row.playbackStatus == 3 && row.online && row.validationStatus == 2)) {
    style = {focused ? QColor(60, 110, 215) : QColor(175, 195, 235), 0.98, true};
    return style;
  }
  if (row.validationStatus != 2 || !row.online) return {QColor(205, 60, 50), 0.9, false};
  switch (row.playbackStatus) {
    case 1:
    case 2:
      style = {QColor(235, 150, 40), 0.9, false};
      break;
    case 5:
      style = {QColor(205, 60, 50), 0.9, false};
      break;
    case 3:
      style = {QColor(80, 170, 80), 0.98, false};
      break;
    default:
      style = {QColor(200, 200, 200), 0.7, false};
      break;
  }
  if (!focused) style.colour = style.colour.lighter(118);
  return style;
}

// Colour-label dots 1 to 7: grey, green, purple, blue, yellow, red, orange.
QColor labelColour(std::int32_t index) {
  static const QColor kColours[] = {QColor(),
                                    QColor(150, 150, 150),
                                    QColor(110, 190, 70),
                                    QColor(170, 110, 200),
                                    QColor(80, 140, 230),
                                    QColor(240, 210, 60),
                                    QColor(230, 70, 70),
                                    QColor(245, 150, 50)};
  return index >= 1 && index <= 7 ? kColours[index] : QColor();
}

QString badgeLetter(RowCellBadge badge) {
  switch (badge) {
    case RowCellBadge::Loop:
      return QStringLiteral("L");
    case RowCellBadge::StopAtEnd:
      return QStringLiteral("S");
    case RowCellBadge::HoldLastFrame:
      return QStringLiteral("H");
    case RowCellBadge::Chain:
      return QStringLiteral("C");
    case RowCellBadge::Logo:
      return QStringLiteral("O");
    case RowCellBadge::ReverseFieldsOrder:
      return QStringLiteral("R");
    case RowCellBadge::Resize:
      return QStringLiteral("Z");
    case RowCellBadge::Attribute:
      return QStringLiteral("A");
  }
  return {};
}

void drawMark(QPainter& painter, RowCellMark mark, const QRectF& r) {
  painter.save();
  painter.setPen(Qt::NoPen);
  switch (mark) {
    case RowCellMark::Playing: {
      painter.setBrush(QColor(40, 140, 40));
      QPainterPath triangle;
      triangle.moveTo(r.topLeft());
      triangle.lineTo(r.right(), r.center().y());
      triangle.lineTo(r.bottomLeft());
      triangle.closeSubpath();
      painter.drawPath(triangle);
      break;
    }
    case RowCellMark::Paused:
      painter.setBrush(QColor(200, 120, 20));
      painter.drawRect(QRectF(r.x(), r.y(), r.width() / 3, r.height()));
      painter.drawRect(QRectF(r.x() + 2 * r.width() / 3, r.y(), r.width() / 3, r.height()));
      break;
    case RowCellMark::Locked:
      painter.setBrush(QColor(90, 90, 90));
      painter.drawRoundedRect(r.adjusted(0, r.height() / 3, 0, 0), 2, 2);
      break;
    case RowCellMark::Offline:
      painter.setPen(QPen(QColor(180, 30, 30), 2));
      painter.drawLine(r.topLeft(), r.bottomRight());
      painter.drawLine(r.topRight(), r.bottomLeft());
      break;
    case RowCellMark::HoldLastFrame:
      painter.setBrush(QColor(60, 60, 160));
      painter.drawRect(r);
      break;
    case RowCellMark::None:
      break;
  }
  painter.restore();
}

}  // namespace

PlaylistRowDelegate::PlaylistRowDelegate(RowProvider provider, QObject* parent)
    : QStyledItemDelegate(parent), provider_(std::move(provider)) {}

int PlaylistRowDelegate::rowHeight(bool showThumbnails) {
  return static_cast<int>(std::ceil(showThumbnails ? kThumbnailRowHeight : kCompactRowHeight));
}

QSize PlaylistRowDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const {
  QSize size = QStyledItemDelegate::sizeHint(option, index);
  size.setHeight(rowHeight(showThumbnails_));
  return size;
}

void PlaylistRowDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
  if (!provider_ || !painter) return;
  const std::optional<PlaylistRowPaintData> row = provider_(index.row());
  if (!row) return;

  // The row's geometry is in pixels, so are its text sizes.
  QFont small = option.font;
  small.setPixelSize(11);
  const QFontMetricsF smallMetrics(small);
  const QString modificationDate = QString::fromStdString(row->modificationDate);

  PlaylistRowCellInput input = row->cell;
  const QRectF frame(option.rect);
  input.frame = LayoutRect{frame.x(), frame.y(), frame.width(), frame.height()};
  input.showThumbnails = showThumbnails_;
  input.thumbnailSize.reset();
  if (!row->thumbnail.isNull()) {
    input.thumbnailSize =
        LayoutSize{static_cast<double>(row->thumbnail.width()), static_cast<double>(row->thumbnail.height())};
  }
  input.modificationDateTextSize = LayoutSize{smallMetrics.horizontalAdvance(modificationDate), smallMetrics.height()};
  const PlaylistRowCellGeometry g = layoutPlaylistRowCell(input);

  const bool selected = option.state.testFlag(QStyle::State_Selected);
  // Focused: the table itself holds the keyboard focus in the active window.
  const bool focused =
      option.state.testFlag(QStyle::State_Active) && option.widget != nullptr && option.widget->hasFocus();
  const bool lightText = (selected && focused) || !row->online;
  const QColor primary = lightText ? QColor(255, 255, 255) : QColor::fromRgbF(0.1f, 0.1f, 0.1f);
  const QColor secondary = lightText ? QColor(255, 255, 255) : QColor::fromRgbF(0.3f, 0.3f, 0.3f);

  painter->save();
  painter->setRenderHint(QPainter::Antialiasing, true);
  painter->setClipRect(option.rect);

  // Bubble: fillers, caps and centre share one colour.
  const BubbleStyle bubble = bubbleStyle(*row, selected, focused);
  painter->setOpacity(bubble.opacity);
  painter->setPen(Qt::NoPen);
  if (bubble.fillers) {
    for (const auto& piece : {g.leftFiller, g.rightFiller}) {
      if (piece) painter->fillRect(toQt(*piece), bubble.colour.darker(115));
    }
  }
  if (g.leftCap && g.centre) {
    QRectF body = toQt(*g.leftCap).united(toQt(*g.centre));
    if (g.rightCap) body = body.united(toQt(*g.rightCap));
    painter->setBrush(bubble.colour);
    painter->drawRoundedRect(body.adjusted(1, 1, -1, 0), 6, 6);
  }
  painter->setOpacity(1.0);

  if (g.nodeLabel) {
    painter->setPen(primary);
    painter->drawText(toQt(*g.nodeLabel), Qt::AlignCenter,
                      row->cell.abRollClipPosition == 2 ? QStringLiteral("B") : QStringLiteral("A"));
  }

  QFont regular = option.font;
  regular.setPixelSize(13);
  QFont bold = regular;
  bold.setBold(true);
  painter->setPen(primary);
  painter->setFont(regular);
  painter->drawText(toQt(g.startTime), Qt::AlignLeft | Qt::AlignTop, QString::fromStdString(row->startTime));
  painter->drawText(toQt(g.duration), Qt::AlignRight | Qt::AlignTop, QString::fromStdString(row->duration));

  if (g.thumbnail) {
    // Scaled into the layout's box while drawing; the picture itself is kept.
    painter->drawImage(toQt(*g.thumbnail), row->thumbnail);
  }
  if (g.colourLabel) {
    painter->setBrush(labelColour(row->cell.finderLabelIndex));
    painter->setPen(Qt::NoPen);
    painter->drawEllipse(toQt(*g.colourLabel));
  }

  painter->setFont(small);
  painter->setPen(secondary);
  if (g.labelName) {
    painter->drawText(toQt(*g.labelName), Qt::AlignLeft | Qt::AlignTop, QString::fromStdString(row->finderLabelName));
  }
  if (g.modificationDate) painter->drawText(toQt(*g.modificationDate), Qt::AlignRight | Qt::AlignTop, modificationDate);
  if (g.informationLine) {
    const QRectF r = toQt(*g.informationLine);
    painter->drawText(
        r, Qt::AlignLeft | Qt::AlignTop,
        smallMetrics.elidedText(QString::fromStdString(row->informationLine), Qt::ElideMiddle, r.width()));
  }

  QFont badgeFont = option.font;
  badgeFont.setPixelSize(8);
  painter->setFont(badgeFont);
  for (const PlacedBadge& badge : g.badges) {
    const QRectF r = toQt(badge.rect);
    painter->setPen(Qt::NoPen);
    painter->setBrush(QColor(100, 100, 100));
    painter->drawRoundedRect(r, 2, 2);
    painter->setPen(Qt::white);
    painter->drawText(r, Qt::AlignCenter, badgeLetter(badge.badge));
  }

  QFont pointFont = option.font;
  pointFont.setPixelSize(10);
  painter->setFont(pointFont);
  painter->setPen(primary);  // white marks on light text
  if (g.inPointText) painter->drawText(toQt(*g.inPointText), Qt::AlignLeft, QString::fromStdString(row->inPointText));
  if (g.outPointText) {
    painter->drawText(toQt(*g.outPointText), Qt::AlignLeft, QString::fromStdString(row->outPointText));
  }
  if (g.inPointMark) painter->drawText(toQt(*g.inPointMark), Qt::AlignCenter, QStringLiteral("["));
  if (g.outPointMark) painter->drawText(toQt(*g.outPointMark), Qt::AlignCenter, QStringLiteral("]"));

  painter->setFont(bold);
  const QString name = QString::fromStdString(row->name);
  const QRectF nameRect = toQt(g.name);
  painter->drawText(nameRect, Qt::AlignLeft | Qt::AlignTop,
                    QFontMetricsF(bold).elidedText(name, Qt::ElideMiddle, nameRect.width()));

  if (g.mark) {
    // Our fonts are wider than the layout's: the mark moves right of the
    // start time rather than covering its digits.
    QRectF mark = toQt(*g.mark);
    if (!row->startTime.empty() && !g.thumbnail) {
      const double textEnd = g.startTime.x +
                             QFontMetricsF(regular).horizontalAdvance(QString::fromStdString(row->startTime)) + 3.0;
      if (mark.left() < textEnd) mark.moveLeft(textEnd);
    }
    drawMark(*painter, row->cell.mark, mark);
  }
  painter->restore();
}

}  // namespace app::views
