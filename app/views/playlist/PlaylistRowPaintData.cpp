#include "app/views/playlist/PlaylistRowPaintData.h"

#include <cstdio>
#include <cstring>

#include "foundation/PathUtilities.h"

namespace app::views {

namespace {

std::string informationLine(const nodes::PlaylistItemFields& f) {
  char numbers[128];
  std::snprintf(numbers, sizeof numbers, " (%.0fx%.0f, %2.2f fps, ", static_cast<double>(f.naturalSizeWidth),
                static_cast<double>(f.naturalSizeHeight), f.framesPerSecond);
  return f.videoCodecDescription + numbers + f.languagesDescription + ")";
}

}  // namespace

QImage imageFromRGBA(const nodes::RGBAImage& image) {
  if (image.width == 0 || image.height == 0) return {};
  if (image.width > nodes::kMaxTiffImageSide || image.height > nodes::kMaxTiffImageSide) return {};
  const std::uint64_t rowBytes = std::uint64_t{image.width} * 4;
  if (image.rgba.size() != rowBytes * image.height) return {};
  QImage out(static_cast<int>(image.width), static_cast<int>(image.height), QImage::Format_RGBA8888);
  if (out.isNull()) return {};
  for (std::uint32_t y = 0; y < image.height; ++y) {
    std::memcpy(out.scanLine(static_cast<int>(y)), image.rgba.data() + rowBytes * y, rowBytes);
  }
  return out;
}

PlaylistRowPaintData playlistRowPaintData(const nodes::PlaylistItem& item, bool nodeOffersOverlayLogo) {
  const nodes::PlaylistItemFields f = item.fields();
  const nodes::CVNTimeFormatter formatter = f.timeCodeFormatter();

  PlaylistRowPaintData row;
  row.startTime = f.relativeStartTimeAsString.value_or("");
  row.name = foundation::stringByDeletingPathExtension(f.displayName);
  row.duration = formatter.stringForObjectValue(f.durationInSeconds());
  if (f.hasInPoint()) row.inPointText = formatter.stringForObjectValue(f.inPointInSeconds);
  if (f.hasOutPoint()) row.outPointText = formatter.stringForObjectValue(f.outPointInSeconds);
  row.finderLabelName = f.finderLabelName;
  row.modificationDate = f.lastModificationDateAsString.value_or("");
  row.informationLine = informationLine(f);
  row.playbackStatus = f.playbackStatus;
  row.validationStatus = f.validationStatus;
  row.online = f.online;
  if (f.thumbnail) row.thumbnail = imageFromRGBA(*f.thumbnail);

  PlaylistRowCellInput& cell = row.cell;
  cell.abRollClipPosition = static_cast<std::int32_t>(f.abRollClipPosition);
  cell.badges =
      rowCellBadges(f.attributes.value_or(platform::Dictionary{}), nodeOffersOverlayLogo, f.resizeIsEffective());
  cell.hasInPoint = f.hasInPoint();
  cell.hasOutPoint = f.hasOutPoint();
  // Only 1 to 7 name a colour label; anything else draws none.
  cell.finderLabelIndex =
      f.finderLabelIndex >= 1 && f.finderLabelIndex <= 7 ? static_cast<std::int32_t>(f.finderLabelIndex) : 0;
  cell.mark = rowCellMark(f.playbackStatus, f.online, f.locked, f.validationStatus);
  return row;
}

}  // namespace app::views
