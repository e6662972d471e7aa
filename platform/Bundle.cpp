#include "platform/Bundle.h"

#include <mutex>
#include <system_error>

#include "platform/Diagnostics.h"
#include "platform/Files.h"
#include "platform/PropertyList.h"

namespace platform {
namespace {

constexpr const char* kInfoFileName = "Info.plist";
// An info dictionary is a few kilobytes; refuse to pull a huge file into memory.
constexpr std::size_t kMaxInfoBytes = 4 * 1024 * 1024;

Dictionary readInfo(const std::filesystem::path& folder) {
  const std::filesystem::path file = folder / kInfoFileName;
  Result<std::string> bytes = readFile(file, kMaxInfoBytes);
  if (!bytes) {
    if (!bytes.error().is(kFileErrorDomain, FileErrorCode::NotFound)) {
      reportDiagnostic(DiagnosticLevel::Warning, "Bundle '" + folder.string() + "': cannot read " + kInfoFileName +
                                                     ": " + bytes.error().localizedDescription);
    }
    return {};
  }
  Result<Value> info = readPropertyList(*bytes);
  if (!info || !info->isDictionary()) {
    reportDiagnostic(DiagnosticLevel::Warning,
                     "Bundle '" + folder.string() + "': " + kInfoFileName + " is not a property-list dictionary" +
                         (info ? std::string() : ": " + info.error().localizedDescription) +
                         "; using an empty info dictionary");
    return {};
  }
  return std::move(*info->dictionary());
}

bool isDirectory(const std::filesystem::path& path) {
  std::error_code error;
  return std::filesystem::is_directory(path, error);
}

std::mutex mainMutex;
std::shared_ptr<const Bundle> mainBundle;      // guarded by mainMutex; created on first use
std::shared_ptr<const Bundle> mainOverride;    // guarded by mainMutex

}  // namespace

Bundle::Bundle(std::filesystem::path resourcesPath) : resourcesPath_(std::move(resourcesPath)) {
  info_ = readInfo(resourcesPath_);
}

Bundle::Bundle(std::filesystem::path resourcesPath, Dictionary info)
    : resourcesPath_(std::move(resourcesPath)), info_(std::move(info)) {}

Bundle Bundle::forExecutable(const std::filesystem::path& executablePath) {
  const std::filesystem::path folder = executablePath.parent_path();
  const std::string name = executablePath.filename().string();
  const std::filesystem::path candidates[] = {
      folder / (name + ".resources"),
      (folder / ".." / "share" / name).lexically_normal(),
  };
  for (const std::filesystem::path& candidate : candidates) {
    if (isDirectory(candidate)) return Bundle(candidate);
  }
  // No resources: the executable's folder stands in, without reading any
  // Info.plist that happens to lie there (it would belong to something else).
  return Bundle(folder, Dictionary{});
}

std::shared_ptr<const Bundle> Bundle::main() {
  std::lock_guard guard(mainMutex);
  if (mainOverride) return mainOverride;
  if (!mainBundle) {
    std::error_code error;
    std::filesystem::path executable = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) {
      reportDiagnostic(DiagnosticLevel::Warning,
                       "Bundle: cannot find the executable (" + error.message() + "); the main bundle is empty");
      mainBundle = std::make_shared<const Bundle>(Bundle(std::filesystem::path(), Dictionary{}));
    } else {
      mainBundle = std::make_shared<const Bundle>(forExecutable(executable));
    }
  }
  return mainBundle;
}

void Bundle::setMainForTesting(std::shared_ptr<const Bundle> bundle) {
  std::lock_guard guard(mainMutex);
  mainOverride = std::move(bundle);
}

Value Bundle::objectForInfoDictionaryKey(std::string_view key) const {
  auto found = info_.find(key);
  return found == info_.end() ? Value() : found->second;
}

std::string Bundle::bundleIdentifier() const { return objectForInfoDictionaryKey("CFBundleIdentifier").stringOr(""); }
std::string Bundle::name() const { return objectForInfoDictionaryKey("CFBundleName").stringOr(""); }
std::string Bundle::version() const { return objectForInfoDictionaryKey("CFBundleVersion").stringOr(""); }
std::string Bundle::shortVersionString() const {
  return objectForInfoDictionaryKey("CFBundleShortVersionString").stringOr("");
}

std::optional<std::filesystem::path> Bundle::pathForResource(std::string_view name, std::string_view extension) const {
  if (name.empty()) return std::nullopt;
  if (extension.starts_with('.')) extension.remove_prefix(1);
  std::filesystem::path relative{std::string(name)};
  if (!extension.empty()) relative += "." + std::string(extension);
  if (relative.is_absolute()) return std::nullopt;
  for (const std::filesystem::path& part : relative) {
    if (part == "..") return std::nullopt;
  }
  const std::filesystem::path candidate = resourcesPath_ / relative;
  std::error_code error;
  if (!std::filesystem::exists(candidate, error)) return std::nullopt;
  return candidate;
}

std::string Bundle::localizedStringForKey(std::string_view key) const {
  Result<std::string> bytes = readFile(resourcesPath_ / "Localizable.strings", kMaxInfoBytes);
  if (!bytes) return std::string(key);
  Result<Value> table = readPropertyList(*bytes);
  if (!table || !table->isDictionary()) return std::string(key);
  const Dictionary& entries = *table->dictionary();
  const auto found = entries.find(key);
  if (found == entries.end() || !found->second.isString()) return std::string(key);
  return *found->second.string();
}

}  // namespace platform
