#include "app/browser/MediaCollectionNode.h"

#include <algorithm>
#include <cstdio>

#include <unicode/locid.h>
#include <unicode/unistr.h>

namespace app::browser {

namespace {

bool isAscii(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

char upperAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

std::string upperCased(std::string_view text) {
  std::string result;
  icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<std::int32_t>(text.size())))
      .toUpper(icu::Locale::getRoot())
      .toUTF8String(result);
  return result;
}

// Names compared as the upper-case strings would be, without building them
// for plain ASCII names (the common case, and the one a large tree repeats).
bool equalIgnoringCase(std::string_view name, std::string_view other) {
  if (isAscii(name) && isAscii(other)) {
    return name.size() == other.size() &&
           std::equal(name.begin(), name.end(), other.begin(),
                      [](char a, char b) { return upperAscii(a) == upperAscii(b); });
  }
  return upperCased(name) == upperCased(other);
}

std::string formatted(const char* format, double value) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, format, value);
  return buffer;
}

}  // namespace

MediaCollectionNodePtr MediaCollectionNode::make(bool caseSensitive) {
  return MediaCollectionNodePtr(new MediaCollectionNode(caseSensitive));
}

void MediaCollectionNode::addChild(const MediaCollectionNodePtr& child) { children_.push_back(child); }

void MediaCollectionNode::removeChild(const MediaCollectionNode* child) {
  const auto found =
      std::find_if(children_.begin(), children_.end(), [child](const auto& node) { return node.get() == child; });
  if (found == children_.end()) return;
  (*found)->parent_.reset();  // a removed node no longer reaches the tree
  children_.erase(found);
  if (!children_.empty()) return;
  if (const auto above = parent()) above->removeChild(this);
}

bool MediaCollectionNode::namesMatch(std::string_view name, std::string_view other) const {
  return caseSensitive_ ? name == other : equalIgnoringCase(name, other);
}

MediaCollectionNodePtr MediaCollectionNode::findChild(std::string_view name, std::string_view mediaFolderUniqueID,
                                                      bool foldersOnly) const {
  for (const auto& child : children_) {
    if (foldersOnly && child->isLeaf_) continue;
    if (child->mediaFolderUniqueID_ == mediaFolderUniqueID && namesMatch(child->name_, name)) return child;
  }
  return nullptr;
}

MediaCollectionNodePtr MediaCollectionNode::directoryChildWithName(std::string_view name,
                                                                   std::string_view mediaFolderUniqueID) const {
  return findChild(name, mediaFolderUniqueID, true);
}

MediaCollectionNodePtr MediaCollectionNode::childWithName(std::string_view name,
                                                          std::string_view mediaFolderUniqueID) const {
  return findChild(name, mediaFolderUniqueID, false);
}

MediaCollectionNodePtr MediaCollectionNode::childWithClipUniqueID(std::string_view clipUniqueID) const {
  for (const auto& child : children_) {
    if (child->playlistItem_ && child->playlistItem_->uniqueID() == clipUniqueID) return child;
  }
  return nullptr;
}

MediaCollectionNodePtr MediaCollectionNode::openChildrenWithPathComponents(const std::vector<std::string>& names) {
  MediaCollectionNode* current = this;
  for (std::size_t index = 0; index < names.size(); ++index) {
    const auto match = std::find_if(current->children_.begin(), current->children_.end(),
                                    [&](const auto& child) { return child->name_ == names[index]; });
    if (match == current->children_.end()) return nullptr;
    if (!(*match)->isLeaf_) (*match)->expanded_ = true;
    if (index + 1 == names.size()) return *match;
    current = match->get();
  }
  return nullptr;
}

void MediaCollectionNode::setPlaylistItem(std::shared_ptr<nodes::PlaylistItem> item) {
  playlistItem_ = std::move(item);
  if (playlistItem_) name_ = playlistItem_->displayName();
}

void MediaCollectionNode::setVideoTextsFromClip() {
  if (!playlistItem_) return;
  framesPerSecondAsString_ = formatted("%f", playlistItem_->framesPerSecond()).substr(0, 5);
  char buffer[128];
  std::snprintf(buffer, sizeof buffer, "%fx%f", static_cast<double>(playlistItem_->naturalSizeWidth()),
                static_cast<double>(playlistItem_->naturalSizeHeight()));
  naturalVideoSize_ = buffer;
}

bool MediaCollectionNode::isLiveClip() const {
  return isLeaf_ && playlistItem_ && playlistItem_->mediaFolderUniqueID().empty() &&
         playlistItem_->mediaFolderPath().empty();
}

// ---- Derived values ----

std::int32_t MediaCollectionNode::validationStatus() const {
  return playlistItem_ ? playlistItem_->validationStatus() : 0;
}
bool MediaCollectionNode::online() const { return playlistItem_ && playlistItem_->online(); }
std::int32_t MediaCollectionNode::invalidReason() const { return playlistItem_ ? playlistItem_->invalidReason() : 0; }
std::shared_ptr<const nodes::RGBAImage> MediaCollectionNode::thumbnail() const {
  return playlistItem_ ? playlistItem_->thumbnail() : nullptr;
}
std::string MediaCollectionNode::finderLabelName() const {
  return playlistItem_ ? playlistItem_->finderLabelName() : std::string();
}
std::int64_t MediaCollectionNode::finderLabelIndex() const {
  return playlistItem_ ? playlistItem_->finderLabelIndex() : 0;
}
std::string MediaCollectionNode::absolutePathToMediaItem() const {
  return playlistItem_ ? playlistItem_->absolutePathToMediaItem() : std::string();
}
std::optional<platform::Date> MediaCollectionNode::lastModificationDate() const {
  return playlistItem_ ? playlistItem_->lastModificationDate() : std::nullopt;
}
std::string MediaCollectionNode::durationAsString() const {
  return playlistItem_ ? playlistItem_->durationToDisplay() : std::string();
}

std::string MediaCollectionNode::startTime() const {
  if (!playlistItem_) return {};
  const std::optional<std::string> text = playlistItem_->fields().mediaItemStartTimeCode;
  return text && !text->empty() ? *text : kNoStartTimeCode;
}

std::string MediaCollectionNode::endTime() const {
  if (!playlistItem_) return {};
  const nodes::CVNTimeFormatter formatter = playlistItem_->timeCodeFormatter();
  const double start = formatter.doubleValueFromString(startTime(), false, false).value_or(0.0);
  return formatter.stringForObjectValue(start + playlistItem_->durationInSeconds());
}

std::string MediaCollectionNode::inPointAsString() const {
  if (!playlistItem_ || !playlistItem_->hasInPoint()) return {};
  return playlistItem_->timeCodeFormatter().stringForObjectValue(playlistItem_->inPointInSeconds());
}

std::string MediaCollectionNode::outPointAsString() const {
  if (!playlistItem_ || !playlistItem_->hasOutPoint()) return {};
  return playlistItem_->timeCodeFormatter().stringForObjectValue(playlistItem_->outPointInSeconds());
}

bool MediaCollectionNode::hasAttributes() const {
  if (!playlistItem_) return false;
  const auto attributes = playlistItem_->attributes();
  return attributes && !attributes->empty();
}

std::string MediaCollectionNode::videoCodecDescription() const {
  return playlistItem_ ? playlistItem_->videoCodecDescription() : std::string();
}

std::string MediaCollectionNode::clipInfoString() const {
  if (!playlistItem_) return {};
  const std::string codec = playlistItem_->videoCodecDescription();
  const std::string languages = playlistItem_->languagesDescription();
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, " (%.0fx%.0f, %2.2f fps) ", static_cast<double>(playlistItem_->naturalSizeWidth()),
                static_cast<double>(playlistItem_->naturalSizeHeight()), playlistItem_->framesPerSecond());
  return codec + buffer + languages;
}

std::optional<std::string> MediaCollectionNode::textForColumn(std::string_view identifier) const {
  if (identifier == "name") return name_;
  if (identifier == "durationAsString") return durationAsString();
  if (identifier == "startTime") return startTime();
  if (identifier == "endTime") return endTime();
  if (identifier == "inPointAsString") return inPointAsString();
  if (identifier == "outPointAsString") return outPointAsString();
  if (identifier == "videoCodecDescription") return videoCodecDescription();
  if (identifier == "clipInfoString") return clipInfoString();
  if (identifier == "framesPerSecondAsString") return framesPerSecondAsString_;
  if (identifier == "naturalVideoSize") return naturalVideoSize_;
  if (identifier == "lastModificationDate") {
    return playlistItem_ ? playlistItem_->lastModificationDateAsString().value_or("") : std::string();
  }
  return std::nullopt;
}

}  // namespace app::browser
