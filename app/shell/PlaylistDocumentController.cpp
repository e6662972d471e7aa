#include "app/shell/PlaylistDocumentController.h"

#include <algorithm>
#include <cstdio>
#include <system_error>

#include "foundation/CVNAlertUtilities.h"
#include "nodes/playlist/PlaylistDocumentFormat.h"

namespace app {

PlaylistDocumentController::PlaylistDocumentController() = default;

PlaylistDocumentController::DocumentPtr PlaylistDocumentController::makeUntitledDocument() const {
  auto document = std::make_shared<nodes::VideoPlaylistDocument>();
  document->setDataSource(dataSource_);
  return document;
}

platform::Error PlaylistDocumentController::windowError(PlaylistDocumentControllerError code) const {
  const char* reason = code == PlaylistDocumentControllerError::WindowNotAvailable
                           ? "Playlist windows are not available in this build."
                           : "The playlist window could not be made.";
  return foundation::CVNAlertUtilities::errorWithCode(static_cast<std::int32_t>(code),
                                                      std::string("The playlist could not be opened."), reason);
}

platform::Result<PlaylistDocumentController::WindowPtr> PlaylistDocumentController::addDocument(
    const DocumentPtr& document) {
  if (!windowFactory_) {
    notice_.note();
    return windowError(PlaylistDocumentControllerError::WindowNotAvailable);
  }
  WindowPtr window = windowFactory_(document);
  if (!window) return windowError(PlaylistDocumentControllerError::WindowNotMade);
  entries_.push_back(Entry{document, window, nextFrontStamp_++});
  tellDocumentsChanged();
  return window;
}

platform::Result<PlaylistDocumentController::DocumentPtr> PlaylistDocumentController::newDocument() {
  DocumentPtr document = makeUntitledDocument();
  platform::Result<WindowPtr> window = addDocument(document);
  if (!window.ok()) return window.error();
  (*window)->showWindow();
  return document;
}

platform::Result<PlaylistDocumentController::DocumentPtr> PlaylistDocumentController::openDocumentWithContentsOfURL(
    const std::filesystem::path& path) {
  std::error_code ignored;
  const std::filesystem::path wanted = std::filesystem::weakly_canonical(path, ignored);
  for (const Entry& entry : entries_) {
    const auto& url = entry.document->fileURL();
    if (url && std::filesystem::weakly_canonical(*url, ignored) == wanted) {
      WindowPtr window = entry.window;
      DocumentPtr document = entry.document;
      documentBecameFront(*document);
      window->showWindow();
      return document;
    }
  }
  // A document that cannot be read never gets a window (and never saves over
  // the file it failed to read).
  DocumentPtr document = makeUntitledDocument();
  platform::Status read = document->readFromURL(path, nodes::kVideoPlaylistDocumentType);
  if (!read.ok()) return read.error();
  platform::Result<WindowPtr> window = addDocument(document);
  if (!window.ok()) return window.error();
  (*window)->showWindow();
  noteNewRecentDocumentURL(path);
  return document;
}

std::vector<PlaylistDocumentController::Entry>::const_iterator PlaylistDocumentController::find(
    const nodes::VideoPlaylistDocument& document) const {
  return std::find_if(entries_.begin(), entries_.end(),
                      [&](const Entry& entry) { return entry.document.get() == &document; });
}

void PlaylistDocumentController::documentBecameFront(const nodes::VideoPlaylistDocument& document) {
  for (Entry& entry : entries_) {
    if (entry.document.get() == &document) entry.frontStamp = nextFrontStamp_++;
  }
  if (frontDocumentChanged_) frontDocumentChanged_();
}

void PlaylistDocumentController::closeDocument(const nodes::VideoPlaylistDocument& document) {
  auto found = find(document);
  if (found == entries_.end()) return;
  // The entry's window may be the caller; keep it alive until this returns.
  Entry closing = *found;
  entries_.erase(found);
  tellDocumentsChanged();
}

void PlaylistDocumentController::closeAllDocuments() {
  // Windows are released after the list is empty, so one that asks the
  // controller about itself while going finds nothing half-removed.
  std::vector<Entry> closing = std::move(entries_);
  entries_.clear();
  tellDocumentsChanged();
}

void PlaylistDocumentController::tellDocumentsChanged() const {
  if (documentsChanged_) documentsChanged_();
  if (frontDocumentChanged_) frontDocumentChanged_();
}

// --- Saving, reverting and closing ---

std::string PlaylistDocumentController::displayName(const nodes::VideoPlaylistDocument& document) {
  const auto& url = document.fileURL();
  return url ? url->stem().string() : std::string(kUntitledDocumentName);
}

bool PlaylistDocumentController::writeDocument(const DocumentPtr& document, const std::filesystem::path& path,
                                               nodes::VideoPlaylistDocument::SaveOperation operation) {
  using Document = nodes::VideoPlaylistDocument;
  Document::SaveConfirmation confirmation = Document::SaveConfirmation::NotConfirmed;
  if (document->saveNeedsConfirmation(path)) {
    const std::string message = "The playlist \"" + displayName(*document) +
                                "\" was opened with parts left out. Saving over its file loses them for good.";
    if (foundation::CVNAlertUtilities::runWarningAlertPanelWithTitle("Save over the file?", message,
                                                                     {"Cancel", "Save Anyway"}) !=
        foundation::kAlertSecondButtonReturn) {
      return false;
    }
    confirmation = Document::SaveConfirmation::Confirmed;
  }
  const platform::Status written =
      document->writeToURL(path, nodes::kVideoPlaylistDocumentType, operation, confirmation);
  if (!written.ok()) {
    foundation::CVNAlertUtilities::presentError(written.error());
    return false;
  }
  noteNewRecentDocumentURL(path);
  return true;
}

bool PlaylistDocumentController::saveDocument(const DocumentPtr& document) {
  if (!document) return false;
  if (!document->fileURL()) return saveDocumentAs(document);
  return writeDocument(document, *document->fileURL(), nodes::VideoPlaylistDocument::SaveOperation::Save);
}

bool PlaylistDocumentController::saveDocumentAs(const DocumentPtr& document) {
  if (!document || !panels_) return false;
  std::optional<std::filesystem::path> path = panels_->askSaveFileName(displayName(*document));
  if (!path || path->empty()) return false;
  if (path->extension() != std::string(".") + kPlaylistDocumentFileExtension) {
    *path += std::string(".") + kPlaylistDocumentFileExtension;
  }
  return writeDocument(document, *path, nodes::VideoPlaylistDocument::SaveOperation::SaveAs);
}

bool PlaylistDocumentController::revertDocumentToSaved(const DocumentPtr& document) {
  if (!document || !document->fileURL()) return false;
  // Read into a scratch document first, so a file that went bad keeps the edits.
  auto scratch = makeUntitledDocument();
  if (platform::Status read = scratch->readFromURL(*document->fileURL(), nodes::kVideoPlaylistDocumentType);
      !read.ok()) {
    foundation::CVNAlertUtilities::presentError(read.error());
    return false;
  }
  const std::filesystem::path path = *document->fileURL();
  if (platform::Status read = document->readFromURL(path, nodes::kVideoPlaylistDocumentType); !read.ok()) {
    foundation::CVNAlertUtilities::presentError(read.error());
    return false;
  }
  document->undoManager().removeAllActions();
  document->updateChangeCount(nodes::VideoPlaylistDocument::DocumentChange::Cleared);
  // The nodes hold the edited rows: the next start sends the whole playlist.
  document->setDirtyOnNodeA(true);
  document->setDirtyOnNodeB(true);
  if (const WindowPtr window = windowControllerForDocument(*document)) window->documentWasReverted();
  return true;
}

bool PlaylistDocumentController::shouldCloseDocument(const DocumentPtr& document) {
  if (!document || !document->isDocumentEdited()) return true;
  if (!panels_) return false;
  if (const WindowPtr window = windowControllerForDocument(*document)) window->showWindow();
  switch (panels_->askSaveChanges(displayName(*document))) {
    case SaveChangesAnswer::Save:
      return saveDocument(document);
    case SaveChangesAnswer::DontSave:
      return true;
    case SaveChangesAnswer::Cancel:
      return false;
  }
  return false;
}

bool PlaylistDocumentController::reviewUnsavedDocumentsBeforeQuit() {
  for (const DocumentPtr& document : orderedDocuments()) {
    if (!shouldCloseDocument(document)) return false;
  }
  return true;
}

std::vector<std::filesystem::path> PlaylistDocumentController::recentDocumentURLs() const {
  std::vector<std::filesystem::path> paths;
  if (!defaults_) return paths;
  const platform::Value list = defaults_->objectForKey(kRecentDocumentPathsKey);
  if (const auto* array = list.array()) {
    for (const platform::Value& entry : *array) {
      std::error_code error;
      if (const auto* text = entry.string(); text && std::filesystem::is_regular_file(*text, error)) {
        paths.emplace_back(*text);
      }
    }
  }
  return paths;
}

void PlaylistDocumentController::noteNewRecentDocumentURL(const std::filesystem::path& path) {
  if (!defaults_) return;
  std::error_code error;
  const std::filesystem::path absolute = std::filesystem::weakly_canonical(path, error);
  const std::string wanted = (error ? path : absolute).string();
  platform::Array list{platform::Value(wanted)};
  for (const std::filesystem::path& known : recentDocumentURLs()) {
    if (known.string() != wanted && list.size() < kRecentDocumentLimit) list.emplace_back(known.string());
  }
  defaults_->setObject(platform::Value(std::move(list)), kRecentDocumentPathsKey);
}

void PlaylistDocumentController::clearRecentDocuments() {
  if (defaults_) defaults_->removeObjectForKey(kRecentDocumentPathsKey);
}

std::vector<PlaylistDocumentController::DocumentPtr> PlaylistDocumentController::documents() const {
  std::vector<DocumentPtr> documents;
  documents.reserve(entries_.size());
  for (const Entry& entry : entries_) documents.push_back(entry.document);
  return documents;
}

std::vector<const PlaylistDocumentController::Entry*> PlaylistDocumentController::entriesFrontToBack() const {
  std::vector<const Entry*> ordered;
  ordered.reserve(entries_.size());
  for (const Entry& entry : entries_) ordered.push_back(&entry);
  std::sort(ordered.begin(), ordered.end(), [](const Entry* a, const Entry* b) { return a->frontStamp > b->frontStamp; });
  return ordered;
}

std::vector<PlaylistDocumentController::DocumentPtr> PlaylistDocumentController::orderedDocuments() const {
  std::vector<DocumentPtr> documents;
  for (const Entry* entry : entriesFrontToBack()) documents.push_back(entry->document);
  return documents;
}

PlaylistDocumentController::DocumentPtr PlaylistDocumentController::currentDocument() const {
  const auto ordered = entriesFrontToBack();
  return ordered.empty() ? nullptr : ordered.front()->document;
}

PlaylistDocumentController::WindowPtr PlaylistDocumentController::windowControllerForDocument(
    const nodes::VideoPlaylistDocument& document) const {
  auto found = find(document);
  return found == entries_.end() ? nullptr : found->window;
}

}  // namespace app
