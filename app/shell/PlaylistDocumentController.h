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
#include <memory>
#include <vector>

#include "app/shell/DocumentWindowController.h"
#include "app/shell/NotAvailableNotice.h"
#include "nodes/playlist/PlaylistDocumentDataSource.h"
#include "nodes/playlist/VideoPlaylistDocument.h"
#include "platform/Error.h"

namespace app {

// The file name extension of playlist documents this application writes.
inline constexpr const char* kPlaylistDocumentFileExtension = "vzplaylist";

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

  PlaylistWindowFactory windowFactory_;
  nodes::PlaylistDocumentDataSource* dataSource_ = nullptr;  // not owned; outlives the documents
  std::vector<Entry> entries_;                                // opening order
  std::uint64_t nextFrontStamp_ = 1;
  NotAvailableNotice notice_{"The playlist window"};
};

}  // namespace app
