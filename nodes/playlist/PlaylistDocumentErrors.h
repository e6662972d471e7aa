#pragma once
// Errors of the playlist document: files that cannot be read or were read
// with losses, and saves that were refused or failed.
//
// Constants only; safe on any thread.

namespace nodes {

inline constexpr const char* kPlaylistDocumentErrorDomain = "PlaylistDocumentErrorDomain";

enum class PlaylistDocumentErrorCode {
  WrongDocumentType = 1,      // a type other than "VideoPlaylistDocument"
  Unreadable = 2,             // nothing of a playlist could be read
  ReadWithLosses = 3,         // read, but parts of the file were left out (see "skipped")
  SaveNeedsConfirmation = 4,  // writing over a file that was read with losses, unconfirmed
  WriteFailed = 5,            // the file could not be made or written
};

// userInfo of ReadWithLosses: array of strings, one per part left out.
inline constexpr const char* kPlaylistDocumentSkippedKey = "skipped";
// userInfo of every file error: the file's path, when there is one.
inline constexpr const char* kPlaylistDocumentPathKey = "path";

}  // namespace nodes
