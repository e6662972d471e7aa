#pragma once
// Where the collector finds things on this machine. fromEnvironment() reads
// HOME and the XDG folders; tests point every entry into a temporary folder.
#include <filesystem>
#include <vector>

namespace support {

struct SupportSources {
  std::filesystem::path applicationSupportFolder;  // the maker's shared data
  std::filesystem::path userPreferencesFolder;     // user-defaults files
  std::filesystem::path localPreferencesFolder;
  std::vector<std::filesystem::path> crashReportFolders;
  std::filesystem::path systemLogFolder;           // syslog and its rotations
  std::filesystem::path systemJournalFolder;       // readable without pkexec?
  std::filesystem::path dmiFolder;
  std::filesystem::path osReleaseFile;
  std::filesystem::path cpuInfoFile;
  std::filesystem::path memInfoFile;
  std::filesystem::path technicalLogFolder;        // "technicalLogFolderPath"; empty when unset

  static SupportSources fromEnvironment();
};

}  // namespace support
