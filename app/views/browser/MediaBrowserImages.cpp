#include "app/views/browser/MediaBrowserImages.h"

#include <array>

#include <QApplication>
#include <QPainter>
#include <QPixmap>
#include <QStyle>

#include "app/browser/MediaBrowserRowAppearance.h"

namespace app::views {

namespace {

constexpr int kImageSize = 16;

// A film frame with a badge: the movie images differ by their badge colour.
QIcon drawnMovie(const QColor& body, const QColor& badge) {
  QPixmap pixmap(kImageSize, kImageSize);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(body.darker(160));
  painter.setBrush(body);
  painter.drawRoundedRect(QRectF(1.5, 3.5, 13, 9), 1.5, 1.5);
  painter.setPen(Qt::NoPen);
  painter.setBrush(Qt::white);
  for (int x = 3; x < 14; x += 3) {
    painter.drawRect(QRectF(x, 4.5, 1.5, 1.5));
    painter.drawRect(QRectF(x, 10, 1.5, 1.5));
  }
  if (badge.isValid()) {
    painter.setBrush(badge);
    painter.drawEllipse(QRectF(9, 8, 7, 7));
  }
  return QIcon(pixmap);
}

}  // namespace

QIcon mediaBrowserImage(std::string_view name) {
  using namespace app::browser;
  if (name == kGenericFolderImage) {
    return QIcon::fromTheme(QStringLiteral("folder"), QApplication::style()->standardIcon(QStyle::SP_DirIcon));
  }
  if (name == kGenericMovieImage) return drawnMovie(QColor(70, 110, 170), QColor());
  if (name == kGenericMovieImageOffline) return drawnMovie(QColor(170, 170, 170), QColor());
  if (name == kGenericInvalidMovieImage) return drawnMovie(QColor(170, 170, 170), QColor(220, 160, 0));
  if (name == kSmallZiraClipIcon) return drawnMovie(QColor(70, 110, 170), QColor(210, 30, 30));
  return {};
}

QColor finderLabelColour(std::int64_t index) {
  static const std::array<QColor, 7> colours = {QColor(150, 150, 150), QColor(100, 200, 80), QColor(180, 110, 210),
                                                QColor(70, 150, 240),  QColor(240, 210, 60), QColor(240, 80, 70),
                                                QColor(245, 150, 50)};
  if (index < 1 || index > static_cast<std::int64_t>(colours.size())) return {};
  return colours[static_cast<std::size_t>(index - 1)];
}

}  // namespace app::views
