#pragma once
// Errors of the catalogue's version files, export and import: what a version
// file or an export folder held that could not be taken, and what could not
// be written. Every refusal leaves what the catalogue already stores as it
// was.
//
// Constants only; safe on any thread.

namespace nodes {

inline constexpr const char* kCatalogueTransferErrorDomain = "CatalogueTransferErrorDomain";

enum class CatalogueTransferErrorCode {
  VersionFileUnreadable = 1,     // a version file exists but is not a dictionary with a usable "version"
  VersionFileUnwritable = 2,     // a version file could not be written
  ExportPathOccupied = 3,        // the export path holds a file or a folder that is not empty
  ExportFolderUncreatable = 4,   // the export folder or its "Clips" folder could not be made
  ExportWriteFailed = 5,         // an export file could not be written; the partial export was removed
  ImportVersionMissing = 6,      // "Clips/version.plist" is missing or unreadable
  ImportVersionUnsupported = 7,  // the export's version has no import routine
  ImportClipsMalformed = 8,      // "Clips/clips.plist" is missing, unreadable or not an array of dictionaries
  ImportValueWrongType = 9,      // a clip value does not fit its column
  ImportStoreFailed = 10,        // the store refused the imported rows; nothing was kept
};

// userInfo keys: the file or folder concerned, the offending clip's position
// in "clips.plist" and the key whose value was refused.
inline constexpr const char* kCatalogueTransferPathKey = "path";
inline constexpr const char* kCatalogueTransferClipIndexKey = "clipIndex";
inline constexpr const char* kCatalogueTransferKeyKey = "key";

}  // namespace nodes
