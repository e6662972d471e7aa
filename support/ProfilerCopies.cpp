#include <algorithm>
#include <system_error>

#include "platform/Diagnostics.h"
#include "support/Profiler.h"

namespace fs = std::filesystem;

namespace support {

namespace {
void log(const std::string& message) { platform::reportDiagnostic(platform::DiagnosticLevel::Info, message); }

std::vector<fs::path> regularFilesBelow(const fs::path& root) {
  std::vector<fs::path> files;
  std::error_code error;
  for (fs::recursive_directory_iterator it(root, error), end; !error && it != end; it.increment(error)) {
    if (it->is_regular_file(error)) files.push_back(it->path());
  }
  return files;
}
}  // namespace

bool Profiler::copyItem(const fs::path& source, const fs::path& target, std::string* errorText) {
  std::error_code error;
  if (fs::exists(fs::symlink_status(target, error))) {
    error = std::make_error_code(std::errc::file_exists);
  } else {
    fs::copy(source, target, fs::copy_options::recursive | fs::copy_options::copy_symlinks, error);
  }
  if (error && errorText) *errorText = source.string() + ": " + error.message();
  return !error;
}

void Profiler::copyIntoFolder(const std::vector<fs::path>& sources, const fs::path& target) {
  if (sources.empty()) return;
  std::error_code error;
  fs::create_directories(target, error);
  for (const auto& source : sources) copyItem(source, target / source.filename());
}

void Profiler::copyFlattened(const std::vector<fs::path>& roots, const fs::path& target) {
  std::error_code error;
  fs::create_directories(target, error);
  for (const auto& root : roots) {
    for (const auto& file : regularFilesBelow(root)) copyItem(file, target / file.filename());
  }
}

void Profiler::copyFilesInvolvedAtPath(const fs::path& folder) { copyIntoFolder(filesInvolved, folder / "Files Involved"); }

void Profiler::copySupportFilesAtPath(const fs::path& folder) { copyIntoFolder(supportFilesPath, folder / "Support Files"); }

void Profiler::copyApplicationSpecificFilesFolderToPath(const fs::path& folder) {
  copyItem(sources_.applicationSupportFolder / applicationName_, folder / applicationName_);
}

void Profiler::copyStreamDeckFolderToPath(const fs::path& folder) {
  copyItem(sources_.applicationSupportFolder / "StreamDeck", folder / "StreamDeck");
}

void Profiler::copyStreamingPresetsFolderToPath(const fs::path& folder) {
  copyItem(sources_.applicationSupportFolder / "Streaming Presets", folder / "Streaming Presets");
}

void Profiler::copyUserCorvanePreferencesFolderToPath(const fs::path& folder) {
  fs::path target = folder / "User Preferences";
  std::error_code error;
  fs::create_directories(target, error);
  for (fs::directory_iterator it(sources_.userPreferencesFolder, error), end; !error && it != end; it.increment(error)) {
    std::string name = it->path().filename().string();
    if (name.starts_with("com.dirarovazovo")) copyItem(it->path(), target / name);
  }
}

void Profiler::copyVideoDevicesPath(const fs::path& folder) {
  fs::path source = sources_.userPreferencesFolder / "com.aja.devicesettings";
  std::error_code error;
  if (!fs::exists(source, error)) return;
  std::string text;
  if (!copyItem(source, folder / "com.aja.devicesettings", &text))
    log("Contact Corvane Support: AJA Device Settings: Error: " + text);
}

void Profiler::copyAjaDeviceSettingsAtPath(const fs::path& folder) {
  fs::path source = sources_.userPreferencesFolder / "com.aja.devicesettings.plist";
  std::string text;
  if (!copyItem(source, folder / source.filename(), &text)) log("Contact Corvane Support: Copy AJA Preferences: " + text);
}

void Profiler::copyBMDDeviceSettingsAtPath(const fs::path& folder) {
  fs::path source = sources_.localPreferencesFolder / "com.blackmagic-design.desktopvideo.prefspanel.plist";
  std::string text;
  if (!copyItem(source, folder / source.filename(), &text))
    log("Contact Corvane Support: Copy BMD Preferences: Error: " + text);
}

void Profiler::copyCrashLogToPath(const fs::path& folder) {
  copyFlattened(sources_.crashReportFolders, folder / "Diagnostic Reports");
}

std::vector<fs::path> Profiler::technicalLogFilesForOccuredDate() const {
  std::vector<fs::path> files;
  if (sources_.technicalLogFolder.empty()) return files;
  auto [start, end] = systemLogWindow();
  std::error_code error;
  for (fs::directory_iterator it(sources_.technicalLogFolder, error), last; !error && it != last; it.increment(error)) {
    std::error_code fileError;
    if (!it->is_regular_file(fileError)) continue;
    auto modified = fs::last_write_time(it->path(), fileError);
    if (fileError) continue;
    auto date = std::chrono::time_point_cast<Date::duration>(std::chrono::file_clock::to_sys(modified));
    if (dateIsBetween(date, start, end)) files.push_back(it->path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

void Profiler::copySystemLogsToPath(const fs::path& folder) {
  // Oldest rotations first, the live log last.
  std::vector<fs::path> candidates;
  for (const char* suffix : {".gz", ""}) {
    for (int n = 8; n >= 1; --n) candidates.push_back(sources_.systemLogFolder / ("syslog." + std::to_string(n) + suffix));
  }
  candidates.push_back(sources_.systemLogFolder / "syslog");
  auto [start, end] = systemLogWindow();
  for (const auto& candidate : candidates) {
    std::error_code error;
    auto modified = fs::last_write_time(candidate, error);
    if (error) continue;
    auto modifiedDate = std::chrono::file_clock::to_sys(modified);
    if (!dateIsBetween(std::chrono::time_point_cast<Date::duration>(modifiedDate), start, end)) continue;
    if (!copyItem(candidate, folder / candidate.filename())) {
      showErrorRetrievingFilesAlert();
      return;
    }
  }
}

}  // namespace support
