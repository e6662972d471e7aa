// Reading and writing the playlist document's file.

#include <system_error>

#include "foundation/CVNLogController.h"
#include "foundation/GenerateUniqueID.h"
#include "nodes/playlist/PlaylistDocumentErrors.h"
#include "nodes/playlist/VideoPlaylistDocument.h"
#include "platform/Files.h"

namespace nodes {
namespace {

using platform::Error;

Error documentError(PlaylistDocumentErrorCode code, std::string description,
                    const std::optional<std::filesystem::path>& path, platform::Dictionary userInfo = {}) {
  if (path) userInfo.insert_or_assign(kPlaylistDocumentPathKey, path->string());
  return Error(kPlaylistDocumentErrorDomain, code, std::move(description), std::move(userInfo));
}

Error wrongType(std::string_view typeName, const std::optional<std::filesystem::path>& path) {
  return documentError(PlaylistDocumentErrorCode::WrongDocumentType,
                       "A playlist document cannot be of type \"" + std::string(typeName) + "\"", path);
}

bool isSameFile(const std::filesystem::path& a, const std::filesystem::path& b) {
  std::error_code error;
  if (std::filesystem::equivalent(a, b, error)) return true;
  return std::filesystem::weakly_canonical(a, error) == std::filesystem::weakly_canonical(b, error);
}

std::string joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += (text.empty() ? "" : "; ") + line;
  return text;
}

}  // namespace

std::string VideoPlaylistDocument::logName() const {
  return fileURL_ ? fileURL_->filename().string() : "playlist " + uniqueID();
}

PlaylistDocumentSettings VideoPlaylistDocument::currentSettings() {
  if (delegate_) {
    if (std::optional<WindowFrame> frame = delegate_->windowFrame()) setWindowFrame(*frame);
  }
  std::lock_guard guard(lock_);
  PlaylistDocumentSettings s;
  s.loop = state_.loop;
  s.chain = state_.chain;
  s.cueMode = state_.cueMode;
  s.abRoll = state_.abRoll;
  s.absoluteStartTime = state_.absoluteStartTime;
  // Without a window the frame last read is kept rather than written as zeros.
  s.windowFrame = state_.windowFrame;
  s.nodeAName = state_.nodeAName;
  s.nodeBName = state_.nodeBName;
  s.nodeAUniqueID = state_.nodeAUniqueID;
  s.nodeBUniqueID = state_.nodeBUniqueID;
  s.playlistUniqueID = state_.uniqueID;
  return s;
}

platform::Dictionary VideoPlaylistDocument::settingsDictionary() { return currentSettings().dictionary(); }

platform::Result<std::string> VideoPlaylistDocument::dataOfType(std::string_view typeName) {
  if (typeName != kVideoPlaylistDocumentType) return wrongType(typeName, fileURL_);
  const PlaylistDocumentSettings settings = currentSettings();
  platform::Result<std::string> data = writePlaylistFile(settings, playlist());
  if (!data.ok()) {
    return documentError(PlaylistDocumentErrorCode::WriteFailed,
                         "The playlist cannot be written: " + data.error().localizedDescription, fileURL_);
  }
  return data;
}

platform::Status VideoPlaylistDocument::readFromData(std::string_view data, std::string_view typeName) {
  return readContents(data, typeName, std::nullopt);
}

platform::Status VideoPlaylistDocument::readFromURL(const std::filesystem::path& path, std::string_view typeName) {
  if (typeName != kVideoPlaylistDocumentType) return wrongType(typeName, path);
  platform::Result<std::string> data = platform::readFile(path, kMaxPlaylistFileBytes);
  if (!data.ok()) {
    return documentError(PlaylistDocumentErrorCode::Unreadable,
                         "The playlist cannot be opened: " + data.error().localizedDescription, path);
  }
  return readContents(*data, typeName, path);
}

platform::Status VideoPlaylistDocument::readContents(std::string_view data, std::string_view typeName,
                                                     const std::optional<std::filesystem::path>& path) {
  if (typeName != kVideoPlaylistDocumentType) return wrongType(typeName, path);
  platform::Result<PlaylistFileContents> contents = readPlaylistFile(data);
  if (!contents.ok()) {
    return documentError(PlaylistDocumentErrorCode::Unreadable,
                         "The playlist cannot be read: " + contents.error().localizedDescription, path);
  }
  if (path) fileURL_ = *path;
  applyContents(*contents);
  undoManager_.removeAllActions();
  updateChangeCount(DocumentChange::Cleared);

  foundation::CVNLogController& log = foundation::CVNLogController::sharedLogController();
  for (const std::string& repair : contents->repaired) {
    log.logMessageWithLevel(2, false, "VideoPlaylistDocument '" + logName() + "': " + repair);
  }
  readLosses_.reset();
  if (contents->hasLosses()) {
    const std::string parts = joined(contents->skipped);
    platform::Array skipped(contents->skipped.begin(), contents->skipped.end());
    readLosses_ =
        documentError(PlaylistDocumentErrorCode::ReadWithLosses, "The playlist was read with parts left out: " + parts,
                      path, platform::Dictionary{{kPlaylistDocumentSkippedKey, platform::Value(std::move(skipped))}});
    log.logMessageWithLevel(1, true, "VideoPlaylistDocument '" + logName() + "': read with parts left out: " + parts);
  }
  return platform::Status::success();
}

void VideoPlaylistDocument::applyContents(PlaylistFileContents& contents) {
  const PlaylistDocumentSettings& s = contents.settings;
  setNeedDefaultValues(false);
  // Emptied first, so that the mode setters below do not mark the document changed.
  setPlaylist({});
  if (s.loop) setLoop(*s.loop);
  if (s.absoluteStartTime) setAbsoluteStartTime(*s.absoluteStartTime);
  if (s.chain) setChain(*s.chain);
  if (s.cueMode) setCueMode(*s.cueMode);
  if (s.abRoll) setAbRoll(*s.abRoll);
  setNodeAName(s.nodeAName);
  setNodeAUniqueID(s.nodeAUniqueID);
  setNodeBUniqueID(s.nodeBUniqueID);
  setNodeBName(s.nodeBName);
  const bool hasUniqueID = s.playlistUniqueID && !s.playlistUniqueID->empty();
  setUniqueID(hasUniqueID ? *s.playlistUniqueID : foundation::GenerateUniqueID::generateUniqueID());

  if (contents.isLegacy) {
    const platform::Value nodeA = platform::UserDefaults::standard().objectForKey(kDefaultNodeAUniqueIDKey);
    setNodeAUniqueID(nodeA.string() ? std::optional<std::string>(*nodeA.string()) : std::nullopt);
    std::optional<Rows> converted;
    if (dataSource_)
      converted = dataSource_->playlistItemsArrayFromDict(contents.legacyRoot, nodeAUniqueID().value_or(""));
    if (converted) {
      setPlaylist(std::move(*converted));
    } else {
      contents.skipped.push_back(
          "the rows of this older playlist could not be converted by the clip catalogue and are left out");
    }
  } else {
    setPlaylist(std::move(contents.items));
  }
  // Legacy rows too get their start times: without them the window shows stale ones.
  updatePlaylistMovieAndStartTimes();
  if (s.windowFrame) setWindowFrame(*s.windowFrame);
}

bool VideoPlaylistDocument::saveNeedsConfirmation(const std::filesystem::path& target) const {
  return readLosses_ && (!fileURL_ || isSameFile(target, *fileURL_));
}

platform::Status VideoPlaylistDocument::writeToURL(const std::filesystem::path& path, std::string_view typeName,
                                                   SaveOperation operation, SaveConfirmation confirmation) {
  if (typeName != kVideoPlaylistDocumentType) return wrongType(typeName, path);
  if (confirmation != SaveConfirmation::Confirmed && saveNeedsConfirmation(path)) {
    platform::Dictionary userInfo = readLosses_->userInfo;
    return documentError(
        PlaylistDocumentErrorCode::SaveNeedsConfirmation,
        "The playlist was read with parts left out; saving it over \"" + path.string() + "\" loses them for good", path,
        std::move(userInfo));
  }

  // Save As: new identities, kept only when the file is written.
  const std::string oldUniqueID = uniqueID();
  const Rows rows = playlist();
  std::vector<std::optional<std::string>> oldPlaybackUniqueIDs;
  if (operation == SaveOperation::SaveAs) {
    setUniqueID(foundation::GenerateUniqueID::generateUniqueID());
    for (const auto& row : rows) {
      oldPlaybackUniqueIDs.push_back(row->playbackUniqueID());
      row->setPlaybackUniqueID(foundation::GenerateUniqueID::generateUniqueID());
    }
  }
  auto restoreIdentities = [&] {
    if (operation != SaveOperation::SaveAs) return;
    setUniqueID(oldUniqueID);
    for (std::size_t i = 0; i < rows.size(); ++i) rows[i]->setPlaybackUniqueID(oldPlaybackUniqueIDs[i]);
  };

  platform::Result<std::string> data = dataOfType(typeName);
  if (!data.ok()) {
    restoreIdentities();
    return data.error();
  }
  if (platform::Status written = platform::writeFileAtomically(path, *data); !written.ok()) {
    restoreIdentities();
    return documentError(PlaylistDocumentErrorCode::WriteFailed,
                         "The playlist cannot be saved: " + written.error().localizedDescription, path);
  }
  fileURL_ = path;
  readLosses_.reset();
  updateChangeCount(DocumentChange::Cleared);
  return platform::Status::success();
}

}  // namespace nodes
