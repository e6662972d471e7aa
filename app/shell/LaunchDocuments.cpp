#include "app/shell/LaunchDocuments.h"

#include "app/shell/PlaylistDocumentController.h"

namespace app {

std::vector<std::filesystem::path> playlistDocumentsInArguments(const std::vector<std::string>& arguments,
                                                                const std::filesystem::path& workingFolder) {
  const std::string extension = std::string(".") + kPlaylistDocumentFileExtension;
  std::vector<std::filesystem::path> documents;
  bool defaultsEnded = false;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (!defaultsEnded && argument == "--") {
      defaultsEnded = true;
      continue;
    }
    if (!defaultsEnded && argument.size() >= 2 && argument[0] == '-') {
      if (argument[1] != '-') ++i;  // "-key value": the value is not a file
      continue;
    }
    if (argument.size() > extension.size() && argument.ends_with(extension)) {
      documents.push_back((workingFolder / argument).lexically_normal());
    }
  }
  return documents;
}

}  // namespace app
