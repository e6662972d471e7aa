#include "telemetry/core/DRTLDeviceInfoProvider.h"

#include <unicode/locid.h>

#include <ctime>
#include <mutex>

#include "platform/Clock.h"
#include "platform/Files.h"

namespace telemetry::core {
namespace {

// System files are small; anything larger is not what we expect.
constexpr std::size_t kMaxSystemFileBytes = 64 * 1024;

std::optional<std::string> firstLine(const std::filesystem::path& path) {
  platform::Result<std::string> text = platform::readFile(path, kMaxSystemFileBytes);
  if (!text.ok()) return std::nullopt;
  std::string line = text->substr(0, text->find('\n'));
  while (!line.empty() && (line.back() == ' ' || line.back() == '\r' || line.back() == '\t')) line.pop_back();
  if (line.empty()) return std::nullopt;
  return line;
}

std::mutex screenMutex;
DRTLDeviceInfoProvider::ScreenSizeProvider screenProvider;  // guarded by screenMutex

}  // namespace

DRTLDeviceInfoProvider::DRTLDeviceInfoProvider(DRTLDeviceInfoPaths paths) : paths_(std::move(paths)) {}

std::string DRTLDeviceInfoProvider::model() const {
  return firstLine(paths_.dmiDirectory / "product_name").value_or("Unknown");
}

std::optional<std::string> DRTLDeviceInfoProvider::oemName() const {
  return firstLine(paths_.dmiDirectory / "sys_vendor");
}

// os-release: KEY=value lines, the value optionally in quotes.
std::optional<std::string> DRTLDeviceInfoProvider::osReleaseValue(const std::string& key) const {
  platform::Result<std::string> text = platform::readFile(paths_.osRelease, kMaxSystemFileBytes);
  if (!text.ok()) text = platform::readFile(paths_.osReleaseFallback, kMaxSystemFileBytes);
  if (!text.ok()) return std::nullopt;
  std::size_t start = 0;
  while (start < text->size()) {
    std::size_t end = text->find('\n', start);
    if (end == std::string::npos) end = text->size();
    const std::string line = text->substr(start, end - start);
    start = end + 1;
    if (!line.starts_with(key + "=")) continue;
    std::string value = line.substr(key.size() + 1);
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front()) {
      value = value.substr(1, value.size() - 2);
    }
    if (value.empty()) return std::nullopt;
    return value;
  }
  return std::nullopt;
}

std::string DRTLDeviceInfoProvider::osName() const { return osReleaseValue("NAME").value_or("Linux"); }

std::optional<std::string> DRTLDeviceInfoProvider::versionText(const std::string& text) {
  long numbers[3] = {0, 0, 0};
  int found = 0;
  std::size_t i = 0;
  while (i < text.size() && found < 3) {
    if (text[i] < '0' || text[i] > '9') {
      // Only dots join the numbers of one version ("6.1.0-18" stops at "-").
      if (found > 0 && text[i] != '.') break;
      ++i;
      continue;
    }
    long value = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9' && value < 100000000) value = value * 10 + (text[i++] - '0');
    numbers[found++] = value;
  }
  if (found == 0) return std::nullopt;
  return std::to_string(numbers[0]) + "." + std::to_string(numbers[1]) + "." + std::to_string(numbers[2]);
}

std::optional<std::string> DRTLDeviceInfoProvider::osVersion() const {
  if (auto version = osReleaseValue("VERSION_ID")) {
    if (auto text = versionText(*version)) return text;
  }
  if (auto release = firstLine(paths_.kernelRelease)) return versionText(*release);
  return std::nullopt;
}

std::string DRTLDeviceInfoProvider::osBuild() const { return firstLine(paths_.kernelRelease).value_or("Unknown"); }

std::string DRTLDeviceInfoProvider::localeText(const std::string& identifier) {
  if (identifier.empty() || identifier == "C" || identifier == "POSIX" || identifier.starts_with("C.") ||
      identifier == "en_US_POSIX") {
    return "en_US";
  }
  icu::Locale locale(identifier.c_str());
  const std::string language = locale.getLanguage();
  if (language.empty() || locale.isBogus()) return "en_US";
  std::string text = language;
  if (*locale.getScript()) text += std::string("-") + locale.getScript();
  if (*locale.getCountry()) text += std::string("_") + locale.getCountry();
  return text;
}

std::string DRTLDeviceInfoProvider::locale() const { return localeText(icu::Locale::getDefault().getName()); }

std::int64_t DRTLDeviceInfoProvider::timeZoneOffsetMinutes() const {
  const std::time_t now = std::chrono::system_clock::to_time_t(platform::Clock::current().wallNow());
  std::tm local{};
  if (!localtime_r(&now, &local)) return 0;
  return local.tm_gmtoff / 60;
}

void DRTLDeviceInfoProvider::setScreenSizeProvider(ScreenSizeProvider provider) {
  std::lock_guard lock(screenMutex);
  screenProvider = std::move(provider);
}

std::string DRTLDeviceInfoProvider::screenSize() const {
  ScreenSizeProvider provider;
  {
    std::lock_guard lock(screenMutex);
    provider = screenProvider;
  }
  std::optional<std::pair<int, int>> size = provider ? provider() : std::nullopt;
  if (!size) return "0x0";
  return std::to_string(size->first) + "x" + std::to_string(size->second);
}

}  // namespace telemetry::core
