// The binary images of a crash log, image kinds and path anonymising.

#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <regex>

#include "telemetry/services/crashes/logs/DRTLErrorLogFormatter.h"

namespace telemetry::crashes {
namespace {

std::string lowerCased(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

bool startsWith(const std::string& text, const std::string& prefix) { return text.rfind(prefix, 0) == 0; }

std::string standardized(const std::string& path) {
  std::string text = std::filesystem::path(path).lexically_normal().string();
  if (text.size() > 1 && text.back() == '/') text.pop_back();
  return text;
}

// The folders the application is installed in: its executable's folder and
// its plug-ins folder, each ending in "/", lower-cased.
std::vector<std::string> installFolders(const std::string& processPath) {
  const std::filesystem::path executable = std::filesystem::path(processPath).lexically_normal();
  const std::filesystem::path folder = executable.parent_path();
  const std::filesystem::path plugIns = (folder / ".." / "lib" / executable.filename()).lexically_normal();
  return {lowerCased(standardized(folder.string())) + "/", lowerCased(standardized(plugIns.string())) + "/"};
}

// The current user's home folder, or "" when it is unknown or the root folder.
std::string currentHomeFolder() {
  std::string home;
  if (const char* variable = std::getenv("HOME"); variable != nullptr && *variable != '\0') {
    home = variable;
  } else if (const passwd* entry = getpwuid(getuid()); entry != nullptr && entry->pw_dir != nullptr) {
    home = entry->pw_dir;
  }
  home = standardized(home);
  return home == "/" || home == "." ? std::string() : home;
}

const std::regex& macUserFolder() {
  static const std::regex pattern("(/Users/[^/]+/)");
  return pattern;
}

const std::regex& linuxUserFolder() {
  static const std::regex pattern("(/home/[^/]+/)");
  return pattern;
}

}  // namespace

std::vector<std::shared_ptr<DRTLBinary>> DRTLErrorLogFormatter::extractBinaryImagesFromReport(const Report& report,
                                                                                            bool is64bit) {
  std::vector<std::uint64_t> addresses = addressesFromReport(report);
  std::sort(addresses.begin(), addresses.end());
  auto images = report.images();
  std::stable_sort(images.begin(), images.end(),
                   [](const auto& a, const auto& b) { return a->imageBaseAddress() < b->imageBaseAddress(); });
  const std::optional<std::string> processPath =
      report.hasProcessInfo() ? report.processInfo()->processPath() : std::nullopt;

  std::vector<std::shared_ptr<DRTLBinary>> binaries;
  for (const auto& image : images) {
    const std::uint64_t start = image->imageBaseAddress();
    // An image reaching past 2^64 ends there: no address is in use by wrapping round.
    const std::uint64_t span = image->imageSize() == 0 ? 0 : image->imageSize() - 1;
    const std::uint64_t end = span > std::numeric_limits<std::uint64_t>::max() - start
                                  ? std::numeric_limits<std::uint64_t>::max()
                                  : start + span;
    const auto first = std::lower_bound(addresses.begin(), addresses.end(), start);
    const bool inUse = first != addresses.end() && *first <= end;
    const ImageKind kind = imageTypeForImagePath(image->imageName(), processPath);
    if (!inUse && kind == kOtherImage) continue;

    auto binary = std::make_shared<DRTLBinary>();
    binary->binaryId = image->hasImageUUID() ? *image->imageUUID() : "???";
    binary->startAddress = formatAddress(start, is64bit);
    binary->endAddress = formatAddress(end, is64bit);
    binary->path = anonymizedPathFromPath(image->imageName());
    const std::string name = std::filesystem::path(image->imageName()).filename().string();
    binary->name = name.empty() ? "???" : name;
    const auto& codeType = image->codeType();
    binary->primaryArchitectureId = codeType ? codeType->type() : 0;
    binary->architectureVariantId = codeType ? codeType->subtype() : 0;
    binaries.push_back(std::move(binary));
  }
  return binaries;
}

std::vector<std::uint64_t> DRTLErrorLogFormatter::addressesFromReport(const Report& report) {
  std::vector<std::uint64_t> addresses;
  if (report.hasExceptionInfo() && report.exceptionInfo()->stackFrames()) {
    for (const auto& frame : *report.exceptionInfo()->stackFrames()) addresses.push_back(frame.instructionPointer());
  }
  for (const auto& thread : report.threads()) {
    for (const auto& frame : thread->stackFrames()) addresses.push_back(frame.instructionPointer());
    for (const auto& value : thread->registers()) addresses.push_back(value.registerValue());
  }
  return addresses;
}

bool DRTLErrorLogFormatter::isBinaryWithStart(std::uint64_t start, std::uint64_t end,
                                              const std::vector<std::uint64_t>& addresses) {
  return std::any_of(addresses.begin(), addresses.end(), [&](std::uint64_t a) { return start <= a && a <= end; });
}

DRTLErrorLogFormatter::ImageKind DRTLErrorLogFormatter::imageTypeForImagePath(
    const std::optional<std::string>& imagePath, const std::optional<std::string>& processPath) {
  if (!imagePath || !processPath) return kOtherImage;
  const std::string standardPath = lowerCased(standardized(*imagePath));
  const std::string image = lowerCased(*imagePath);
  const std::string process = lowerCased(*processPath);
  const auto folders = installFolders(*processPath);
  const bool installed = std::any_of(folders.begin(), folders.end(),
                                     [&](const std::string& folder) { return startsWith(standardPath, folder); });
  if (!installed) return kOtherImage;
  if (standardPath == process || startsWith(image, process)) return kApplicationExecutable;
  return kApplicationFramework;
}

std::string DRTLErrorLogFormatter::anonymizedPathFromPath(const std::string& path) {
  if (path.empty()) return "";
  if (startsWith(path, "/Users/")) return std::regex_replace(path, macUserFolder(), "/Users/USER/");
  // Linux homes: "/home/<name>/" and the current user's home, wherever it lies.
  std::string anonymized = std::regex_replace(path, linuxUserFolder(), "/home/USER/");
  const std::string home = currentHomeFolder();
  if (!home.empty() && (anonymized == home || startsWith(anonymized, home + "/"))) {
    const std::string parent = std::filesystem::path(home).parent_path().string();
    anonymized = (parent == "/" ? "" : parent) + "/USER" + anonymized.substr(home.size());
  }
  if (anonymized.find("Users") == std::string::npos) return anonymized;
  return "";
}

}  // namespace telemetry::crashes
