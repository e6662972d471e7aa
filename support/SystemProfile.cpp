#include "support/SystemProfile.h"

#include <sys/utsname.h>

#include <sstream>

#include "platform/Files.h"

namespace support::SystemProfile {

namespace {
constexpr std::size_t kMaxFileBytes = std::size_t{1} << 20;

std::string readTrimmed(const std::filesystem::path& path) {
  auto text = platform::readFile(path, kMaxFileBytes);
  if (!text) return {};
  std::string value = *text;
  while (!value.empty() && (value.back() == '\n' || value.back() == ' ')) value.pop_back();
  return value;
}

// "key<separator>value" lines; the first block only when blockEnds is set.
platform::Dictionary keyValueLines(const std::string& text, char separator, bool firstBlockOnly) {
  platform::Dictionary items;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.empty() && firstBlockOnly && !items.empty()) break;
    auto at = line.find(separator);
    if (at == std::string::npos) continue;
    std::string key = line.substr(0, at), value = line.substr(at + 1);
    auto trim = [](std::string& s) {
      s.erase(0, s.find_first_not_of(" \t\""));
      s.erase(s.find_last_not_of(" \t\"") + 1);
    };
    trim(key);
    trim(value);
    if (!key.empty()) items.emplace(key, value);
  }
  return items;
}

platform::Value dataType(const char* name, platform::Dictionary item) {
  return platform::Dictionary{{"_dataType", name}, {"_items", platform::Array{std::move(item)}}};
}
}  // namespace

std::optional<std::string> modelName(const SupportSources& sources) {
  std::string name = readTrimmed(sources.dmiFolder / "product_name");
  if (name.empty()) return std::nullopt;
  return name;
}

platform::Array gather(const SupportSources& sources, const std::string& lsblkJson) {
  platform::Dictionary hardware;
  for (const char* field : {"product_name", "product_version", "sys_vendor", "board_name", "board_vendor",
                            "bios_vendor", "bios_version", "bios_date"}) {
    std::string value = readTrimmed(sources.dmiFolder / field);
    if (!value.empty()) hardware.emplace(field, value);
  }
  platform::Dictionary software = keyValueLines(readTrimmed(sources.osReleaseFile), '=', false);
  utsname names{};
  if (::uname(&names) == 0) {
    software.emplace("kernel_name", names.sysname);
    software.emplace("kernel_release", names.release);
    software.emplace("kernel_version", names.version);
    software.emplace("machine", names.machine);
    software.emplace("node_name", names.nodename);
  }
  platform::Dictionary storage;
  if (!lsblkJson.empty()) storage.emplace("lsblk", lsblkJson);
  return {dataType("SPHardwareDataType", std::move(hardware)), dataType("SPSoftwareDataType", std::move(software)),
          dataType("SPCPUDataType", keyValueLines(readTrimmed(sources.cpuInfoFile), ':', true)),
          dataType("SPMemoryDataType", keyValueLines(readTrimmed(sources.memInfoFile), ':', false)),
          dataType("SPStorageDataType", std::move(storage))};
}

}  // namespace support::SystemProfile
