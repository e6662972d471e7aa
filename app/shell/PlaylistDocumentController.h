#pragma once
// PlaylistDocumentController: the application's list of open playlist
// documents, each with its window controller. It keeps them in opening order
// and knows which window the operator brought forward last (front-to-back
// order); it makes new and opened documents, has the playlist window factory
// make their windows, and answers which document is current (front-most).
//
// Owned by the application delegate. Main thread.
//
// Guarantees: a document is in the list exactly while it has a window
// controller; opening a file that is already open brings its window to the
// front instead of opening it twice; a file that cannot be read opens
// nothing.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/shell/DocumentPanels.h"
#include "app/shell/DocumentWindowController.h"
#include "app/shell/NotAvailableNotice.h"
#include "nodes/playlist/PlaylistDocumentDataSource.h"
#include "nodes/playlist/VideoPlaylistDocument.h"
#include "platform/Error.h"
#include "platform/UserDefaults.h"

namespace app {

// The file name extension of playlist documents this application writes.
inline constexpr const char* kPlaylistDocumentFileExtension = "vzplaylist";
// The name of a document not yet saved.
inline constexpr const char* kUntitledDocumentName = "Untitled";
// The recently opened and saved playlists, newest first (a defaults key).
inline constexpr const char* kRecentDocumentPathsKey = "recentDocumentPaths";
inline constexpr std::size_t kRecentDocumentLimit = 10;

enum class PlaylistDocumentControllerError {
  WindowNotAvailable = 1,  // no playlist window factory is installed
  WindowNotMade = 2,       // the factory made no window
};

class PlaylistDocumentController {
 public:
  using DocumentPtr = std::shared_ptr<nodes::VideoPlaylistDocument>;
  using WindowPtr = std::shared_ptr<DocumentWindowController>;

  PlaylistDocumentController();
  PlaylistDocumentController(const PlaylistDocumentController&) = delete;
  PlaylistDocumentController& operator=(const PlaylistDocumentController&) = delete;

  void setPlaylistWindowFactory(PlaylistWindowFactory factory) { windowFactory_ = std::move(factory); }
  bool hasPlaylistWindowFactory() const { return static_cast<bool>(windowFactory_); }
  // The catalogue the documents refresh their rows from (not owned; outlives
  // every document); given to each document made from now on.
  void setDocumentDataSource(nodes::PlaylistDocumentDataSource* dataSource) { dataSource_ = dataSource; }

  // A new untitled playlist, not yet in the list.
  DocumentPtr makeUntitledDocument() const;
  // Adds the document, in front, with a window made by the factory (not
  // shown). Fails, leaving the list as it was, when no window
  // can be made.
  platform::Result<WindowPtr> addDocument(const DocumentPtr& document);

  // File > New: an untitled playlist in a window that is shown.
  platform::Result<DocumentPtr> newDocument();
  // File > Open: the playlist file at `path` in a window that is shown; the
  // document already open from that file when there is one.
  platform::Result<DocumentPtr> openDocumentWithContentsOfURL(const std::filesystem::path& path);

  // The window of `document` became the operator's front window.
  void documentBecameFront(const nodes::VideoPlaylistDocument& document);
  // The window of `document` closed: the document leaves the list.
  void closeDocument(const nodes::VideoPlaylistDocument& document);
  // Every document leaves the list, with its window (application shut-down).
  void closeAllDocuments();

  // ---- Saving, reverting and closing (nothing edited is dropped unasked) ----
  // The questions to the operator (not owned; nullptr: nothing can be asked,
  // so an edited document is never closed and an untitled one never saved).
  void setDocumentPanels(DocumentPanels* panels) { panels_ = panels; }
  // Where the recent documents are kept (not owned; nullptr: none kept).
  void setDefaults(platform::UserDefaults* defaults) { defaults_ = defaults; }
  // Told after a document joined or left the list.
  void setDocumentsChangedHandler(std::function<void()> handler) { documentsChanged_ = std::move(handler); }
  // Told after a document came to the front, joined or left the list.
  void setFrontDocumentChangedHandler(std::function<void()> handler) { frontDocumentChanged_ = std::move(handler); }

  // The file name without its extension; "Untitled" before it has one.
  static std::string displayName(const nodes::VideoPlaylistDocument& document);
  // File > Save: over its file; an untitled document asks for a name first.
  // False when not saved (cancelled or failed; the error was shown).
  bool saveDocument(const DocumentPtr& document);
  // File > Save As…: asks for a name (".vzplaylist" added when missing);
  // the playlist and every row get new unique IDs.
  bool saveDocumentAs(const DocumentPtr& document);
  // File > Revert to Saved: reads its file again, dropping the edits and
  // their undo; the window shows the file's rows. False when it has no file
  // or the file cannot be read (the document stays as it was).
  bool revertDocumentToSaved(const DocumentPtr& document);
  // Before a window closes: true when the document is unedited, or the
  // operator chose Save (and it was saved) or Don't Save.
  bool shouldCloseDocument(const DocumentPtr& document);
  // Before the application quits: asks for each edited document, front to
  // back; false as soon as one is not to be closed.
  bool reviewUnsavedDocumentsBeforeQuit();

  // File > Open Recent, newest first (only files that still exist).
  std::vector<std::filesystem::path> recentDocumentURLs() const;
  void noteNewRecentDocumentURL(const std::filesystem::path& path);
  void clearRecentDocuments();

  // In opening order.
  std::vector<DocumentPtr> documents() const;
  // Front to back.
  std::vector<DocumentPtr> orderedDocuments() const;
  // The front document, nullptr when none is open.
  DocumentPtr currentDocument() const;
  WindowPtr windowControllerForDocument(const nodes::VideoPlaylistDocument& document) const;

 private:
  struct Entry {
    DocumentPtr document;
    WindowPtr window;
    std::uint64_t frontStamp = 0;  // higher: brought forward more recently
  };
  std::vector<const Entry*> entriesFrontToBack() const;
  std::vector<Entry>::const_iterator find(const nodes::VideoPlaylistDocument& document) const;
  platform::Error windowError(PlaylistDocumentControllerError code) const;
  bool writeDocument(const DocumentPtr& document, const std::filesystem::path& path,
                     nodes::VideoPlaylistDocument::SaveOperation operation);
  void tellDocumentsChanged() const;

  PlaylistWindowFactory windowFactory_;
  nodes::PlaylistDocumentDataSource* dataSource_ = nullptr;  // not owned; outlives the documents
  std::vector<Entry> entries_;                                // opening order
  std::uint64_t nextFrontStamp_ = 1;
  DocumentPanels* panels_ = nullptr;           // not owned
  platform::UserDefaults* defaults_ = nullptr;  // not owned
  std::function<void()> documentsChanged_;
  std::function<void()> frontDocumentChanged_;
  NotAvailableNotice notice_{"The playlist window"};
};

}  // namespace app
