#pragma once
// Where the device record's values come from on Linux. Each value has a
// documented fallback; nothing throws. Tests point the file paths at files
// they write.
//
//   model          DMI product_name              "Unknown" when unreadable
//   oemName        DMI sys_vendor                absent when unreadable
//   osName         os-release NAME               "Linux" when absent
//   osVersion      os-release VERSION_ID as "%ld.%ld.%ld"; the kernel release's
//                  numbers when absent
//   osBuild        the kernel release (uname)    "Unknown" when unreadable
//   locale         ICU default locale by localeText(); "C" and "POSIX" give en_US
//   timeZoneOffset local offset from UTC in whole minutes
//   screenSize     the provider the window layer installs; "0x0" headless

#include <functional>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>

namespace telemetry::core {

struct DRTLDeviceInfoPaths {
  std::filesystem::path dmiDirectory = "/sys/class/dmi/id";
  std::filesystem::path osRelease = "/etc/os-release";
  std::filesystem::path osReleaseFallback = "/usr/lib/os-release";
  std::filesystem::path kernelRelease = "/proc/sys/kernel/osrelease";
};

class DRTLDeviceInfoProvider {
 public:
  using ScreenSizeProvider = std::function<std::optional<std::pair<int, int>>()>;

  explicit DRTLDeviceInfoProvider(DRTLDeviceInfoPaths paths = {});

  std::string model() const;
  std::optional<std::string> oemName() const;
  std::string osName() const;
  std::optional<std::string> osVersion() const;
  std::string osBuild() const;
  std::string locale() const;
  std::int64_t timeZoneOffsetMinutes() const;
  std::string screenSize() const;

  // "%ld.%ld.%ld" of the first three numbers in the text; none without one.
  static std::optional<std::string> versionText(const std::string& text);
  // language, "-" script when there is one, "_" country; a locale without a
  // country gives the language alone.
  static std::string localeText(const std::string& localeIdentifier);
  static void setScreenSizeProvider(ScreenSizeProvider provider);

 private:
  std::optional<std::string> osReleaseValue(const std::string& key) const;

  DRTLDeviceInfoPaths paths_;
};

}  // namespace telemetry::core
