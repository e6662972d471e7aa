#pragma once
// One table of file name extensions standing in for the desktop's type
// identifiers: each extension names a type ("public.png") and the kind of
// media it holds (movie, image, audio, protected audio). Comparison ignores
// case. The table is listed in this folder's README. Any thread.

#include <filesystem>
#include <string_view>

namespace platform::media {

enum class MediaFileKind { Unknown = 0, Movie = 1, Image = 2, Audio = 3, ProtectedAudio = 4 };

struct FileType {
  std::string_view extension;   // lower case, without the dot
  std::string_view identifier;  // "public.mpeg-4"
  MediaFileKind kind = MediaFileKind::Unknown;
};

// nullptr for an extension the table does not list.
const FileType* fileTypeForExtension(std::string_view extension);
const FileType* fileTypeForPath(const std::filesystem::path& path);
MediaFileKind mediaFileKindForPath(const std::filesystem::path& path);

}  // namespace platform::media
