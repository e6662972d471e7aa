#pragma once
// Bundle: a program's info dictionary (Info.plist: CFBundleName,
// CFBundleVersion, CFBundleIdentifier, ...) and the folder of resources that
// ships with it.
//
// A Bundle is an immutable value once constructed, so any thread may use it.
// Bundle::main() is the running program's bundle, shared by the process and
// created on first use; tests replace it with setMainForTesting.
//
// Where the main bundle is looked for, beside the executable (/proc/self/exe):
//   1. <exe dir>/<exe name>.resources/   (the build tree; see
//      vz_add_bundle_resources in cmake/VzTargets.cmake)
//   2. <exe dir>/../share/<exe name>/    (after installation)
// Info.plist sits in that folder. If neither exists, the main bundle is the
// executable's folder with an empty info dictionary.
//
// Guarantees: a missing folder or Info.plist gives an empty dictionary; a
// malformed Info.plist is reported through reportDiagnostic and also gives an
// empty dictionary. Missing keys read as none (or "" from the string getters).

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/Value.h"

namespace platform {

class Bundle {
 public:
  // Reads `<resourcesPath>/Info.plist` if there is one.
  explicit Bundle(std::filesystem::path resourcesPath);

  // The bundle of the program at `executablePath`, found as described above.
  static Bundle forExecutable(const std::filesystem::path& executablePath);

  static std::shared_ptr<const Bundle> main();
  // Replaces what main() returns; nullptr goes back to the real main bundle.
  static void setMainForTesting(std::shared_ptr<const Bundle> bundle);

  const Dictionary& infoDictionary() const { return info_; }
  // None when the key is missing.
  Value objectForInfoDictionaryKey(std::string_view key) const;

  // The string values of the well-known keys, "" when missing or not strings.
  std::string bundleIdentifier() const;    // CFBundleIdentifier
  std::string name() const;                // CFBundleName
  std::string version() const;             // CFBundleVersion
  std::string shortVersionString() const;  // CFBundleShortVersionString

  const std::filesystem::path& resourcesPath() const { return resourcesPath_; }

  // `<resourcesPath>/<name>.<extension>` (or `<name>` when the extension is
  // empty; a leading '.' on the extension is optional) if it exists. Names
  // may reach into subfolders ("fonts/Title") but never out of the bundle:
  // absolute names and ".." are refused.
  std::optional<std::filesystem::path> pathForResource(std::string_view name, std::string_view extension) const;

  // The text for `key` in the default string table, "Localizable.strings" (a
  // property-list dictionary of strings) in the resources folder; the key
  // itself when the table, or the key in it, is missing. Reads the table on
  // every call: it serves error messages, not hot paths.
  std::string localizedStringForKey(std::string_view key) const;

 private:
  Bundle(std::filesystem::path resourcesPath, Dictionary info);

  std::filesystem::path resourcesPath_;
  Dictionary info_;
};

}  // namespace platform
