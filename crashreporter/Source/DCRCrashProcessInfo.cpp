#include "crashreporter/Source/DCRCrashProcessInfo.h"

#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

#include "crashreporter/Source/AsyncSupport.h"

namespace crashreporter {
namespace {

std::string readSmallFile(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::int64_t bootTimeSeconds() {
  std::istringstream stat(readSmallFile("/proc/stat"));
  for (std::string line; std::getline(stat, line);) {
    if (line.rfind("btime ", 0) == 0) return std::stoll(line.substr(6));
  }
  return 0;
}

}  // namespace

std::shared_ptr<const DCRCrashProcessInfo> DCRCrashProcessInfo::currentProcessInfo() { return initWithProcessID(getpid()); }

std::shared_ptr<const DCRCrashProcessInfo> DCRCrashProcessInfo::initWithProcessID(pid_t pid) {
  const std::string base = "/proc/" + std::to_string(pid) + "/";
  const std::string stat = readSmallFile(base + "stat");
  // "pid (comm) state ppid ..."; the name may hold spaces and parentheses.
  const auto open = stat.find('('), close = stat.rfind(')');
  if (stat.empty() || open == std::string::npos || close == std::string::npos || close < open) return nullptr;
  auto info = std::shared_ptr<DCRCrashProcessInfo>(new DCRCrashProcessInfo());
  info->processID_ = pid;
  std::string name = stat.substr(open + 1, close - open - 1).substr(0, 16);
  name.resize(drcrash_async_utf8_prefix_length(name.data(), name.size()));
  if (!name.empty()) info->processName_ = name;
  std::istringstream fields(stat.substr(close + 2));
  std::string field;
  // Fields after the name: 3 state, 4 ppid, ..., 22 starttime (clock ticks after boot).
  for (int index = 3; fields >> field; ++index) {
    if (index == 4) info->parentProcessID_ = static_cast<pid_t>(std::stol(field));
    if (index == 22) {
      const long ticks = sysconf(_SC_CLK_TCK);
      const long long start = std::stoll(field);
      info->startTimeSeconds_ = bootTimeSeconds() + start / ticks;
      info->startTimeMicroseconds_ = (start % ticks) * 1000000 / ticks;
      break;
    }
  }
  std::istringstream status(readSmallFile(base + "status"));
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("TracerPid:", 0) == 0) info->isTraced_ = std::stol(line.substr(10)) != 0;
  }
  return info;
}

}  // namespace crashreporter
