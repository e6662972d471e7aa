#pragma once
// MediaFolderLocalEquivalent: the operator's mapping of a node's media folder
// to a local folder holding the same files, so clips can be previewed and
// resolved locally. The list lives in the user default
// "MediaFoldersLocalEquivalentPaths" (an array of dict() dictionaries), written
// by the preferences window and read by playlist items, windows and the media
// browser.
//
// A plain value, used on the main thread; the defaults helpers may be called
// from any thread (UserDefaults serialises them).

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Error.h"
#include "platform/UserDefaults.h"
#include "platform/Value.h"

namespace nodes {

inline constexpr const char* kMediaFoldersLocalEquivalentPathsKey = "MediaFoldersLocalEquivalentPaths";

class MediaFolderLocalEquivalent {
 public:
  MediaFolderLocalEquivalent() = default;  // every field empty

  const std::string& nodeName() const { return nodeName_; }
  void setNodeName(std::string v) { nodeName_ = std::move(v); }
  const std::string& nodeUniqueID() const { return nodeUniqueID_; }
  void setNodeUniqueID(std::string v) { nodeUniqueID_ = std::move(v); }
  const std::string& mediaFolderPath() const { return mediaFolderPath_; }
  void setMediaFolderPath(std::string v) { mediaFolderPath_ = std::move(v); }
  const std::string& equivalentLocalPath() const { return equivalentLocalPath_; }
  void setEquivalentLocalPath(std::string v) { equivalentLocalPath_ = std::move(v); }
  const std::string& mediaFolderUniqueID() const { return mediaFolderUniqueID_; }
  void setMediaFolderUniqueID(std::string v) { mediaFolderUniqueID_ = std::move(v); }

  // "nodeName", "nodeUniqueID", "mediaFolderPath", "equivalentLocalPath",
  // "mediaFolderUniqueID", all strings.
  platform::Dictionary dict() const;
  // Sets each field whose key holds a string and keeps the others; the error
  // names the keys of another type.
  platform::Status loadFromDict(const platform::Dictionary& dictionary);

  // The saved list. Entries that are not dictionaries are skipped, and a
  // default of another type reads as an empty list.
  static std::vector<MediaFolderLocalEquivalent> savedEquivalents(const platform::UserDefaults& defaults);
  static void saveEquivalents(const std::vector<MediaFolderLocalEquivalent>& equivalents,
                              platform::UserDefaults& defaults);
  // For each saved entry, in order, whose media folder unique ID is
  // `mediaFolderUniqueID`: its local path joined with `relativePath` (path
  // components, so a leading "/" of the relative path does not restart the
  // path). The callers pick the first candidate that exists.
  static std::vector<std::filesystem::path> candidateLocalPaths(const platform::UserDefaults& defaults,
                                                                std::string_view mediaFolderUniqueID,
                                                                std::string_view relativePath);

  friend bool operator==(const MediaFolderLocalEquivalent&, const MediaFolderLocalEquivalent&) = default;

 private:
  std::string nodeName_;
  std::string nodeUniqueID_;
  std::string mediaFolderPath_;
  std::string equivalentLocalPath_;
  std::string mediaFolderUniqueID_;
};

}  // namespace nodes
