#pragma once
// May a truncated movie still be played? MediaInfo (libmediainfo, loaded at
// run time) tells whether a file is truncated and which application wrote
// it; a truncated file passes only when that application's name begins with
// "Tessarine". Without the library nothing is refused.
//
// The library is looked for only at absolute places: beside the executable,
// then the system's "libmediainfo.so.0" (never the working folder).
// Loading happens once per process; a validator is used by one job.

#include <memory>
#include <string>
#include <vector>

#include "media/readers/MediaURL.h"

namespace media {

// The loaded library and its 28 entry points; unavailable when the library
// or any entry point is missing.
class MediaInfoLibrary {
 public:
  // Loads from the first candidate that opens.
  explicit MediaInfoLibrary(const std::vector<std::string>& candidates);
  ~MediaInfoLibrary();
  MediaInfoLibrary(const MediaInfoLibrary&) = delete;
  MediaInfoLibrary& operator=(const MediaInfoLibrary&) = delete;

  // The process-wide library, loaded on first use from defaultCandidates().
  static MediaInfoLibrary& shared();
  static std::vector<std::string> defaultCandidates();
  static const std::vector<const char*>& functionNames();

  bool isAvailable() const { return handle_ != nullptr; }
  void* function(const char* name) const;

 private:
  void* handle_ = nullptr;
  std::vector<void*> functions_;
};

class CVNMediaInfoValidator {
 public:
  // None when the library is unavailable or no handle can be made.
  static std::unique_ptr<CVNMediaInfoValidator> create(MediaInfoLibrary& library = MediaInfoLibrary::shared());
  ~CVNMediaInfoValidator();
  CVNMediaInfoValidator(const CVNMediaInfoValidator&) = delete;
  CVNMediaInfoValidator& operator=(const CVNMediaInfoValidator&) = delete;

  // YES = playable.
  bool validateFileAtURL(const MediaURL& url);

 private:
  CVNMediaInfoValidator(MediaInfoLibrary& library, void* handle) : library_(library), mediaInfoHandle_(handle) {}
  std::string get(const char* parameter);

  MediaInfoLibrary& library_;
  void* mediaInfoHandle_;
};

}  // namespace media
