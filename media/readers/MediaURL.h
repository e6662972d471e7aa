#pragma once
// The address of a media asset: a file path or a network stream URL
// ("srt://host:port?mode=listener"). A text with a scheme other than "file"
// is a network URL; "file://" texts and plain paths are files. Plain value.

#include <filesystem>
#include <string>

namespace media {

class MediaURL {
 public:
  MediaURL() = default;
  static MediaURL fileURLWithPath(const std::filesystem::path& path);
  // A network URL when the text starts with "<scheme>://" (scheme not "file").
  static MediaURL URLWithString(const std::string& text);

  bool isFileURL() const { return isFile_; }
  // The file's path (empty for network URLs).
  const std::filesystem::path& path() const { return path_; }
  // The scheme in lower case ("file" for files).
  const std::string& scheme() const { return scheme_; }
  // The whole text: the path of a file, the URL of a stream.
  const std::string& absoluteString() const { return text_; }
  bool isEmpty() const { return text_.empty(); }

  friend bool operator==(const MediaURL&, const MediaURL&) = default;

 private:
  bool isFile_ = true;
  std::filesystem::path path_;
  std::string scheme_ = "file";
  std::string text_;
};

}  // namespace media
