#include "app/shell/PlaylistDocumentController.h"

#include <algorithm>

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
}

void PlaylistDocumentController::closeDocument(const nodes::VideoPlaylistDocument& document) {
  auto found = find(document);
  if (found == entries_.end()) return;
  // The entry's window may be the caller; keep it alive until this returns.
  Entry closing = *found;
  entries_.erase(found);
}

void PlaylistDocumentController::closeAllDocuments() {
  // Windows are released after the list is empty, so one that asks the
  // controller about itself while going finds nothing half-removed.
  std::vector<Entry> closing = std::move(entries_);
  entries_.clear();
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
