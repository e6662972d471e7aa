#include "nodes/catalogue/ClipCatalogueSchema.h"

#include <array>

namespace nodes::catalogue {
namespace {

using namespace clipinfo;
using K = AttributeKind;

constexpr std::array<ClipAttribute, 35> kClipAttributes = {{
    {kUniqueID, K::Text},
    {kNodeUniqueID, K::Text},
    {kNodeName, K::Text},
    {kMediaItemUniqueID, K::Text},
    {kMediaFolderUniqueID, K::Text},
    {kMediaFolderPath, K::Text},
    {kAbsolutePathToMediaItem, K::Text},
    {kRelativePathToMediaItem, K::Text},
    {kDisplayName, K::Text},
    {kStartTimeCode, K::Text},
    {kValidationStatus, K::Int32},
    {kInvalidReason, K::Int32},
    {kOnline, K::Boolean},
    {kZira, K::Boolean},
    {kFinderLabelIndex, K::Integer},
    {kFinderLabelName, K::Text},
    {kFramesPerSecond, K::Real},
    {kDropFrame, K::Boolean},
    {kLastModificationDate, K::Date},
    {kLastModificationDateString, K::Text},
    {kVideoCodec, K::Any},
    {kVideoCodecDescription, K::Text},
    {kLanguagesDescription, K::Text},
    {kNaturalVideoSizeWidth, K::Real},
    {kNaturalVideoSizeHeight, K::Real},
    {kDisplayVideoSizeWidth, K::Real},
    {kDisplayVideoSizeHeight, K::Real},
    {kDisplayVideoOriginX, K::Real},
    {kDisplayVideoOriginY, K::Real},
    {kMediaFileDurationInSeconds, K::Real},
    {kDurationInSeconds, K::Real},
    {kHasInPoint, K::Boolean},
    {kHasOutPoint, K::Boolean},
    {kInPointInSeconds, K::Real},
    {kOutPointInSeconds, K::Real},
}};

}  // namespace

std::span<const ClipAttribute> clipAttributes() { return kClipAttributes; }

const ClipAttribute* clipAttributeNamed(std::string_view name) {
  for (const ClipAttribute& attribute : kClipAttributes) {
    if (attribute.name == name) return &attribute;
  }
  return nullptr;
}

const platform::Value& rowValue(const CatalogueRow& row, std::string_view key) {
  static const platform::Value kNone;
  auto found = row.find(key);
  return found == row.end() ? kNone : found->second;
}

}  // namespace nodes::catalogue
