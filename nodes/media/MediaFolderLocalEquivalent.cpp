#include "nodes/media/MediaFolderLocalEquivalent.h"

#include "foundation/PathUtilities.h"
#include "nodes/media/DictionaryFieldReader.h"

namespace nodes {

namespace {

constexpr const char* kNodeNameKey = "nodeName";
constexpr const char* kNodeUniqueIDKey = "nodeUniqueID";
constexpr const char* kMediaFolderPathKey = "mediaFolderPath";
constexpr const char* kEquivalentLocalPathKey = "equivalentLocalPath";
constexpr const char* kMediaFolderUniqueIDKey = "mediaFolderUniqueID";

}  // namespace

platform::Dictionary MediaFolderLocalEquivalent::dict() const {
  return platform::Dictionary{
      {kNodeNameKey, nodeName_},
      {kNodeUniqueIDKey, nodeUniqueID_},
      {kMediaFolderPathKey, mediaFolderPath_},
      {kEquivalentLocalPathKey, equivalentLocalPath_},
      {kMediaFolderUniqueIDKey, mediaFolderUniqueID_},
  };
}

platform::Status MediaFolderLocalEquivalent::loadFromDict(const platform::Dictionary& dictionary) {
  detail::DictionaryFieldReader read(dictionary, "MediaFolderLocalEquivalent");
  if (auto v = read.string(kNodeNameKey)) nodeName_ = std::move(*v);
  if (auto v = read.string(kNodeUniqueIDKey)) nodeUniqueID_ = std::move(*v);
  if (auto v = read.string(kMediaFolderPathKey)) mediaFolderPath_ = std::move(*v);
  if (auto v = read.string(kEquivalentLocalPathKey)) equivalentLocalPath_ = std::move(*v);
  if (auto v = read.string(kMediaFolderUniqueIDKey)) mediaFolderUniqueID_ = std::move(*v);
  return read.status();
}

std::vector<MediaFolderLocalEquivalent> MediaFolderLocalEquivalent::savedEquivalents(
    const platform::UserDefaults& defaults) {
  std::vector<MediaFolderLocalEquivalent> equivalents;
  std::optional<platform::Array> saved = defaults.arrayForKey(kMediaFoldersLocalEquivalentPathsKey);
  if (!saved) return equivalents;
  for (const platform::Value& entry : *saved) {
    const platform::Dictionary* dictionary = entry.dictionary();
    if (!dictionary) continue;
    MediaFolderLocalEquivalent equivalent;
    // Keys of another type keep their empty value; the entry still counts.
    (void)equivalent.loadFromDict(*dictionary);
    equivalents.push_back(std::move(equivalent));
  }
  return equivalents;
}

void MediaFolderLocalEquivalent::saveEquivalents(const std::vector<MediaFolderLocalEquivalent>& equivalents,
                                                 platform::UserDefaults& defaults) {
  platform::Array array;
  array.reserve(equivalents.size());
  for (const MediaFolderLocalEquivalent& equivalent : equivalents) array.emplace_back(equivalent.dict());
  defaults.setObject(std::move(array), kMediaFoldersLocalEquivalentPathsKey);
}

std::vector<std::filesystem::path> MediaFolderLocalEquivalent::candidateLocalPaths(
    const platform::UserDefaults& defaults, std::string_view mediaFolderUniqueID, std::string_view relativePath) {
  std::vector<std::filesystem::path> candidates;
  for (const MediaFolderLocalEquivalent& equivalent : savedEquivalents(defaults)) {
    if (equivalent.mediaFolderUniqueID() != mediaFolderUniqueID) continue;
    // An entry without a local folder has nothing to offer; joining would
    // turn the relative path into a path of its own.
    if (equivalent.equivalentLocalPath().empty()) continue;
    candidates.emplace_back(
        foundation::stringByAppendingPathComponent(equivalent.equivalentLocalPath(), relativePath));
  }
  return candidates;
}

}  // namespace nodes
