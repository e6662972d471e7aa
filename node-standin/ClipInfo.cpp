#include "node-standin/ClipInfo.h"

#include <algorithm>
#include <cmath>

#include "foundation/GenerateUniqueID.h"
#include "node-standin/CommandLine.h"

namespace standin {
namespace {

using platform::Dictionary;
using platform::Value;

std::string displayNameOf(const MediaItemRecord& item) {
  return std::filesystem::path(item.relativePath).stem().string();
}

Value stringsValue(const std::vector<std::string>& strings) {
  platform::Array array;
  for (const std::string& text : strings) array.emplace_back(text);
  return Value(std::move(array));
}

// In and out points of the clip, kept inside the file when its length is known.
struct ClipRange {
  double inPoint = 0;
  double outPoint = 0;
};

double secondsOf(const Value& value) {
  const double seconds = value.realOr(0);
  return std::isfinite(seconds) ? std::max(0.0, seconds) : 0.0;
}

ClipRange clipRange(const Value& clipInfo, std::optional<double> fileLength) {
  const bool hasIn = clipInfo["clipInfoHasInPoint"].booleanOr(false);
  const bool hasOut = clipInfo["clipInfoHasOutPoint"].booleanOr(false);
  double in = hasIn ? secondsOf(clipInfo["clipInfoInPointInSeconds"]) : 0.0;
  double out = hasOut ? secondsOf(clipInfo["clipInfoOutPointInSeconds"]) : fileLength.value_or(0);
  if (fileLength) {
    in = std::min(in, *fileLength);
    out = std::min(out, *fileLength);
  }
  return {in, std::max(in, out)};
}

}  // namespace

Dictionary mediaItemClipInfo(const MediaFolderIndex& folder, const MediaItemRecord& item, const NodeIdentity& node) {
  const MediaProbe& probe = item.probe;
  const bool valid = probe.isValid();
  return Dictionary{
      {"clipInfoMediaItemUniqueID", Value(item.uniqueID)},
      {"clipInfoMediaFolderUniqueID", Value(folder.uniqueID())},
      {"clipInfoMediaFolderPath", Value(folder.pathText())},
      {"clipInfoAbsolutePathToMediaItem", Value(item.absolutePath.string())},
      {"clipInfoRelativePathToMediaItem", Value(item.relativePath)},
      {"clipInfoDisplayName", Value(displayNameOf(item))},
      {"clipInfoLanguages", stringsValue(probe.languages)},
      {"clipInfoLastModificationDate", Value(item.modificationDate)},
      {"clipInfoStartTimeCode", Value(probe.startTimeCode)},
      {"clipInfoValidationStatus", Value(valid ? kValidationStatusValid : kValidationStatusInvalid)},
      {"clipInfoInvalidReason", Value(static_cast<std::int64_t>(probe.invalidReason))},
      {"clipInfoDurationInSeconds", Value(probe.durationInSeconds)},
      {"clipInfoFramesPerSecond", Value(probe.framesPerSecond)},
      {"clipInfoDropFrame", Value(probe.dropFrame)},
      {"clipInfoVideoCodec", Value(static_cast<std::int64_t>(probe.videoCodec))},
      {"clipInfoVideoCodecDescription", Value(probe.videoCodecDescription)},
      {"clipInfoFinderLabelIndex", Value(0)},
      {"clipInfoFinderLabelName", Value("")},
      {"clipInfoNaturalVideoSizeWidth", Value(static_cast<double>(probe.width))},
      {"clipInfoNaturalVideoSizeHeight", Value(static_cast<double>(probe.height))},
      {"clipInfoOnline", Value(true)},
      {"clipInfoNodeName", Value(node.name)},
      {"clipInfoNodeUniqueID", Value(node.uniqueID)},
      {"clipInfoMetadata", Value(probe.metadata)},
  };
}

platform::Result<PlaylistEntry> playlistEntryFromClipInfo(const Value& clipInfo, const MediaLibrary& library,
                                                          const NodeIdentity& node) {
  const Dictionary* received = clipInfo.dictionary();
  if (!received) return commandError(NodeCommandErrorCode::BadArguments, "a clip is not a dictionary");
  const Value& playbackID = clipInfo["clipInfoPlaybackUniqueID"];
  if (!playbackID.isNone() && !playbackID.isString()) {
    return commandError(NodeCommandErrorCode::BadArguments, "clipInfoPlaybackUniqueID is not a string");
  }

  PlaylistEntry entry;
  entry.clipInfo = *received;
  entry.playbackUniqueID = playbackID.stringOr("");
  if (entry.playbackUniqueID.empty()) {
    entry.playbackUniqueID = foundation::GenerateUniqueID::generateUniqueID();
    entry.clipInfo["clipInfoPlaybackUniqueID"] = Value(entry.playbackUniqueID);
  }
  entry.endBehaviour =
      clipEndBehaviourNamed(clipInfo["clipInfoAttributes"]["Clip End Behaviour"].stringOr("Normal"));

  std::optional<MediaLibrary::Found> media = library.findItem(clipInfo["clipInfoMediaFolderUniqueID"].stringOr(""),
                                                              clipInfo["clipInfoMediaItemUniqueID"].stringOr(""));
  if (!media) media = library.findItemAtPath(clipInfo["clipInfoAbsolutePathToMediaItem"].stringOr(""));
  const bool online = media && media->item->probe.isValid();
  std::optional<double> fileLength;
  if (online) {
    fileLength = media->item->probe.durationInSeconds;
    // The client's values stay, but not its empty texts: a row sent without
    // the file's path would leave the engine nothing to play.
    for (auto& [key, value] : mediaItemClipInfo(*media->folder, *media->item, node)) {
      const auto [held, added] = entry.clipInfo.try_emplace(key, value);
      if (!added && held->second.stringOr("-").empty()) held->second = std::move(value);
    }
    entry.clipInfo["clipInfoMediaFileDurationInSeconds"] = Value(*fileLength);
  }
  const ClipRange range = clipRange(clipInfo, fileLength);
  entry.durationInSeconds = range.outPoint - range.inPoint;
  entry.clipInfo["clipInfoDurationInSeconds"] = Value(entry.durationInSeconds);
  entry.clipInfo["clipInfoOnline"] = Value(online);
  entry.clipInfo["clipInfoNodeName"] = Value(node.name);
  entry.clipInfo["clipInfoNodeUniqueID"] = Value(node.uniqueID);
  return entry;
}

}  // namespace standin
