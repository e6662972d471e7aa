#include <mutex>
#include <system_error>

#include "platform/Bundle.h"
#include "platform/Files.h"
#include "telemetry/core/DRTLLogger.h"
#include "telemetry/core/DRTLUtility.h"

namespace telemetry::core {
namespace fs = std::filesystem;
namespace {

// Held by every operation that touches the file system.
std::mutex& fileMutex() {
  static std::mutex mutex;
  return mutex;
}

fs::path sdkDirectory() {
  fs::path folder = platform::userApplicationSupportFolder();
  if (auto bundle = platform::Bundle::main(); bundle && !bundle->bundleIdentifier().empty()) {
    folder /= bundle->bundleIdentifier();
  }
  return folder / "TelemetryCore";
}

}  // namespace

fs::path DRTLUtility::dirAradedDirectoryURL() {
  static const fs::path directory = [] {
    fs::path made = sdkDirectory();
    std::lock_guard lock(fileMutex());
    std::error_code error;
    fs::create_directories(made, error);
    if (error) DRTLLogError("Couldn't create directory at " + made.string() + ": " + error.message());
    return made;
  }();
  return directory;
}

std::optional<fs::path> DRTLUtility::fullURLForPathComponent(const std::optional<std::string>& component) {
  if (!component) return std::nullopt;
  return dirAradedDirectoryURL() / *component;
}

std::optional<fs::path> DRTLUtility::createFileAtPathComponent(const std::optional<std::string>& component,
                                                               const std::optional<std::string>& data,
                                                               bool atomically, bool forceOverwrite) {
  if (!component) return std::nullopt;
  const fs::path url = *fullURLForPathComponent(component);
  std::lock_guard lock(fileMutex());
  std::error_code error;
  if (!forceOverwrite && fs::exists(fs::symlink_status(url, error))) return url;
  fs::create_directories(url.parent_path(), error);
  bool written = false;
  if (atomically) {
    written = platform::writeFileAtomically(url, data.value_or(std::string())).ok();
  } else if (FILE* file = std::fopen(url.c_str(), "wb")) {
    const std::string& bytes = data ? *data : std::string();
    written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    written = std::fclose(file) == 0 && written;
  }
  if (!written) {
    DRTLLogError("Couldn't create new file at path " + url.string());
    return std::nullopt;
  }
  return url;
}

bool DRTLUtility::createDirectoryAtURL(const std::optional<fs::path>& url) {
  if (!url) return false;
  std::error_code error;
  fs::create_directories(*url, error);
  if (error) {
    DRTLLogError("Couldn't create directory at " + url->string() + ": " + error.message());
    return false;
  }
  // Nothing here is backed up, so "excluded from backup" needs no marking.
  return true;
}

std::optional<fs::path> DRTLUtility::createDirectoryForPathComponent(const std::optional<std::string>& component) {
  if (!component) return std::nullopt;
  const fs::path url = *fullURLForPathComponent(component);
  std::lock_guard lock(fileMutex());
  if (!createDirectoryAtURL(url)) return std::nullopt;
  return url;
}

bool DRTLUtility::deleteFileAtURL(const std::optional<fs::path>& url) {
  if (!url) return false;
  std::lock_guard lock(fileMutex());
  std::error_code error;
  fs::remove_all(*url, error);
  if (error) {
    DRTLLogDebug("Couldn't remove item at " + url->string() + ": " + error.message());
    return false;
  }
  return true;
}

bool DRTLUtility::deleteItemForPathComponent(const std::optional<std::string>& component) {
  if (!component) return false;
  return deleteFileAtURL(fullURLForPathComponent(component));
}

bool DRTLUtility::fileExistsForPathComponent(const std::optional<std::string>& component) {
  if (!component) return false;
  std::error_code error;
  return fs::exists(fs::symlink_status(*fullURLForPathComponent(component), error));
}

std::optional<std::string> DRTLUtility::loadDataForPathComponent(const std::optional<std::string>& component) {
  if (!component) return std::nullopt;
  const fs::path url = *fullURLForPathComponent(component);
  std::lock_guard lock(fileMutex());
  platform::Result<std::string> bytes = platform::readFile(url);
  if (!bytes.ok()) return std::nullopt;
  return std::move(*bytes);
}

std::optional<std::vector<fs::path>> DRTLUtility::contentsOfDirectory(const std::optional<std::string>& component) {
  if (!component || component->empty()) return std::nullopt;
  const fs::path url = *fullURLForPathComponent(component);
  std::lock_guard lock(fileMutex());
  std::error_code error;
  std::vector<fs::path> entries;
  for (fs::directory_iterator it(url, error), end; !error && it != end; it.increment(error)) {
    entries.push_back(it->path());
  }
  if (error) {
    DRTLLogDebug("Couldn't get files in the directory \"" + *component + "\": " + error.message());
    return std::nullopt;
  }
  return entries;
}

}  // namespace telemetry::core
