#include "platform/media/TypeIdentifiers.h"

#include <cctype>
#include <string>

namespace platform::media {
namespace {

constexpr FileType kFileTypes[] = {
    // Movies.
    {"mov", "public.quicktime-movie", MediaFileKind::Movie},
    {"qt", "public.quicktime-movie", MediaFileKind::Movie},
    {"mp4", "public.mpeg-4", MediaFileKind::Movie},
    {"m4v", "public.m4v-video", MediaFileKind::Movie},
    {"mxf", "public.mxf", MediaFileKind::Movie},
    {"mpg", "public.mpeg", MediaFileKind::Movie},
    {"mpeg", "public.mpeg", MediaFileKind::Movie},
    {"m2v", "public.mpeg-2-video", MediaFileKind::Movie},
    {"ts", "public.mpeg-2-transport-stream", MediaFileKind::Movie},
    {"m2ts", "public.mpeg-2-transport-stream", MediaFileKind::Movie},
    {"mts", "public.avchd-mpeg-2-transport-stream", MediaFileKind::Movie},
    {"mkv", "public.matroska", MediaFileKind::Movie},
    {"webm", "public.webm", MediaFileKind::Movie},
    {"avi", "public.avi", MediaFileKind::Movie},
    {"dv", "public.dv-movie", MediaFileKind::Movie},
    {"h264", "public.h264", MediaFileKind::Movie},
    {"264", "public.h264", MediaFileKind::Movie},
    {"3gp", "public.3gpp", MediaFileKind::Movie},
    // Still images.
    {"png", "public.png", MediaFileKind::Image},
    {"jpg", "public.jpeg", MediaFileKind::Image},
    {"jpeg", "public.jpeg", MediaFileKind::Image},
    {"tif", "public.tiff", MediaFileKind::Image},
    {"tiff", "public.tiff", MediaFileKind::Image},
    {"bmp", "public.bmp", MediaFileKind::Image},
    {"gif", "public.gif", MediaFileKind::Image},
    {"webp", "public.webp", MediaFileKind::Image},
    // Audio.
    {"wav", "public.wav", MediaFileKind::Audio},
    {"aif", "public.aiff-audio", MediaFileKind::Audio},
    {"aiff", "public.aiff-audio", MediaFileKind::Audio},
    {"aifc", "public.aifc-audio", MediaFileKind::Audio},
    {"caf", "public.caf-audio", MediaFileKind::Audio},
    {"mp3", "public.mp3", MediaFileKind::Audio},
    {"m4a", "public.m4a-audio", MediaFileKind::Audio},
    {"aac", "public.aac-audio", MediaFileKind::Audio},
    {"flac", "public.flac", MediaFileKind::Audio},
    // Protected audio (encrypted; not playable here).
    {"m4p", "public.protected-mpeg-4-audio", MediaFileKind::ProtectedAudio},
};

}  // namespace

const FileType* fileTypeForExtension(std::string_view extension) {
  if (!extension.empty() && extension.front() == '.') extension.remove_prefix(1);
  std::string lower(extension);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  for (const auto& type : kFileTypes) {
    if (type.extension == lower) return &type;
  }
  return nullptr;
}

const FileType* fileTypeForPath(const std::filesystem::path& path) {
  return fileTypeForExtension(path.extension().string());
}

MediaFileKind mediaFileKindForPath(const std::filesystem::path& path) {
  const FileType* type = fileTypeForPath(path);
  return type ? type->kind : MediaFileKind::Unknown;
}

}  // namespace platform::media
