#include "support/SupportSources.h"

#include "platform/Files.h"
#include "platform/UserDefaults.h"

namespace support {

SupportSources SupportSources::fromEnvironment() {
  SupportSources sources;
  sources.applicationSupportFolder = "/usr/local/share/Corvane";
  sources.userPreferencesFolder = platform::userConfigurationFolder();
  sources.localPreferencesFolder = "/etc/xdg";
  sources.crashReportFolders = {platform::userApplicationSupportFolder() / "Corvane" / "CrashReporter",
                                "/var/crash"};
  sources.systemLogFolder = "/var/log";
  sources.systemJournalFolder = "/var/log/journal";
  sources.dmiFolder = "/sys/class/dmi/id";
  sources.osReleaseFile = "/etc/os-release";
  sources.cpuInfoFile = "/proc/cpuinfo";
  sources.memInfoFile = "/proc/meminfo";
  sources.technicalLogFolder = platform::UserDefaults::standard().stringForKey("technicalLogFolderPath").value_or("");
  return sources;
}

}  // namespace support
