#include "support/Profiler.h"

#include <unistd.h>

#include <ctime>

#include "platform/Diagnostics.h"
#include "platform/Files.h"
#include "support/SystemProfile.h"

namespace support {

namespace {
constexpr std::chrono::seconds kOneDay{86400};

void log(const std::string& message) { platform::reportDiagnostic(platform::DiagnosticLevel::Info, message); }

std::string formatLocal(Profiler::Date date, const char* pattern) {
  std::time_t seconds = std::chrono::system_clock::to_time_t(date);
  std::tm local{};
  localtime_r(&seconds, &local);
  char text[64];
  std::strftime(text, sizeof text, pattern, &local);
  return text;
}
}  // namespace

Profiler::Profiler(ProfilerDelegate_Protocol* delegate, std::shared_ptr<CommandRunner> runner, SupportSources sources)
    : delegate_(delegate), runner_(std::move(runner)), sources_(std::move(sources)) {
  platform::Dictionary info = delegate_->applicationInfo();
  if (auto it = info.find("bundleName"); it != info.end()) applicationName_ = it->second.stringOr("");
  if (auto it = info.find("bundleVersion"); it != info.end()) version_ = it->second.stringOr("");
}

std::string Profiler::makeStringComplientForJsonFormat(std::string text) {
  std::string result;
  result.reserve(text.size());
  for (char c : text) {
    if (c == '"') result += '\'';
    else if (c == '\\') continue;
    else if (c == '\t' || c == '\n') result += ' ';
    else result += c;
  }
  return result;
}

bool Profiler::dateIsBetween(Date date, Date start, Date end) { return start <= date && date <= end; }

std::optional<std::string> Profiler::stringBetween(std::string_view start, std::string_view text, char endChar) {
  std::size_t found = text.find(start);
  if (found == std::string_view::npos) return std::nullopt;
  std::string result;
  for (std::size_t i = found + start.size(); i < text.size() && i <= 100000 && text[i] != endChar; ++i)
    result += text[i];
  return result;
}

void Profiler::setEmail(std::string v) {
  std::erase(v, ' ');
  email_ = std::move(v);
}

std::pair<Profiler::Date, Profiler::Date> Profiler::systemLogWindow() const {
  std::time_t dayBefore = std::chrono::system_clock::to_time_t(occuredDate - kOneDay);
  std::tm local{};
  localtime_r(&dayBefore, &local);
  local.tm_hour = local.tm_min = local.tm_sec = 0;
  local.tm_isdst = -1;
  return {std::chrono::system_clock::from_time_t(std::mktime(&local)), occuredDate + kOneDay};
}

void Profiler::showErrorRetrievingFilesAlert() {
  if (showAlert_) showAlert_();
  problemDescription_ = problemDescription() +
                        "\n\n* WARNING * Logs submitted without admin privileges, some logs may be missing.";
}

void Profiler::getDeviceModelName() {
  deviceModelName = SystemProfile::modelName(sources_);
  if (delegate_->respondsTo("deviceModelNameRetrieved")) delegate_->deviceModelNameRetrieved();
}

void Profiler::runCommand(Command command, CommandRunner::Completion completion) {
  std::string line;
  for (const std::string& argument : command.argv) line += (line.empty() ? "" : " ") + argument;
  log("Contact Corvane Support: Profiler: run command: " + line);
  runner_->run(std::move(command), std::move(completion));
}

void Profiler::gatherXmlSystemProfileThread() {
  Command lsblk;
  lsblk.argv = {"lsblk", "--json"};
  lsblk.timeLimit = std::chrono::seconds(30);
  runCommand(std::move(lsblk), [this, alive = std::weak_ptr<int>(lifetime_)](CommandResult result) {
    if (alive.expired()) return;
    xmlSystemProfile_ = SystemProfile::gather(sources_, result.succeeded() ? result.output : std::string());
    if (delegate_->respondsTo("systemProfileRetrieved")) delegate_->systemProfileRetrieved();
  });
}

void Profiler::collectLogsToPath(const std::filesystem::path& folder) {
  log("Contact Corvane Support: Profiler: collectLogsToPath");
  Date start = occuredDate - kOneDay;
  Command command;
  bool readable = ::access(sources_.systemJournalFolder.c_str(), R_OK | X_OK) == 0;
  if (!readable) command.argv.push_back("pkexec");
  command.argv.insert(command.argv.end(), {"journalctl", "--no-pager", "--since",
                                           formatLocal(start, "%Y-%m-%d %H:%M:%S"), "--output=short-iso-precise"});
  command.outputFile = folder / ("SystemLogs_" + formatLocal(start, "%Y-%m-%d") + ".log");
  runCommand(std::move(command), [this, readable, alive = std::weak_ptr<int>(lifetime_)](CommandResult result) {
    if (alive.expired()) return;
    if (result.succeeded()) {
      log("Contact Corvane Support: Profiler: logsCollected");
      delegate_->logsCollected();
      return;
    }
    std::string description = result.launchError;
    if (!readable && result.exitStatus == 126) description = "The administrator password is required to do this.";
    else if (result.timedOut) description = "The log collection took too long.";
    if (!description.empty()) log("Contact Corvane Support: Log Collect: Error: " + description);
    delegate_->retrieveLogsFailed();
  });
}

void Profiler::zipFolder(const std::filesystem::path& folder, bool large) {
  std::string name = folder.filename().string();
  Command command;
  command.argv = {"zip", "-r", "-X", name + ".zip", "./" + name};
  command.workingFolder = folder.parent_path();
  runCommand(std::move(command), [this, large, alive = std::weak_ptr<int>(lifetime_)](CommandResult) {
    if (alive.expired()) return;
    const char* operation = large ? "largeFolderZipped" : "supportFolderZipped";
    if (!delegate_->respondsTo(operation)) return;
    if (large) delegate_->largeFolderZipped();
    else delegate_->supportFolderZipped();
  });
}

}  // namespace support
