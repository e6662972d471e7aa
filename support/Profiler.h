#pragma once
// What a customer tells the support window about a problem, and the collector
// of what the support desk needs from this machine (preferences, crash
// reports, system logs, the journal around the time of the problem).
// Main thread only.
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/Value.h"
#include "support/CommandRunner.h"
#include "support/ProfilerDelegate_Protocol.h"
#include "support/SupportSources.h"

namespace support {

class Profiler {
 public:
  using Date = std::chrono::system_clock::time_point;
  using Alert = std::function<void()>;  // shows the "could not collect all logs" alert modally

  // delegate: not owned; the support window outlives its Profiler.
  Profiler(ProfilerDelegate_Protocol* delegate, std::shared_ptr<CommandRunner> runner, SupportSources sources);
  Profiler(const Profiler&) = delete;
  Profiler& operator=(const Profiler&) = delete;

  static std::string makeStringComplientForJsonFormat(std::string text);
  static bool dateIsBetween(Date date, Date start, Date end);
  static std::optional<std::string> stringBetween(std::string_view start, std::string_view text, char endChar);

  const std::string& applicationName() const { return applicationName_; }
  const std::string& version() const { return version_; }
  std::string yourName() const { return complient(yourName_); }
  std::string yourCompany() const { return complient(yourCompany_); }
  std::string email() const { return complient(email_); }
  std::string title() const { return complient(title_); }
  std::string endUserCompany() const { return complient(endUserCompany_); }
  std::string problemDescription() const { return problemDescription_.value_or(""); }
  std::string requesterType() const { return requesterType_.value_or(""); }
  void setYourName(std::string v) { yourName_ = std::move(v); }
  void setYourCompany(std::string v) { yourCompany_ = std::move(v); }
  void setEmail(std::string v);
  void setTitle(std::string v) { title_ = std::move(v); }
  void setEndUserCompany(std::string v) { endUserCompany_ = std::move(v); }
  void setProblemDescription(std::string v) { problemDescription_ = std::move(v); }
  void setRequesterType(std::string v) { requesterType_ = std::move(v); }

  bool agree = false;
  bool alreadySearchedInDB = false;
  Date occuredDate{};  // the Unix epoch while unset
  std::vector<std::filesystem::path> filesInvolved;
  std::vector<std::filesystem::path> supportFilesPath;
  std::optional<std::string> deviceModelName = "unknown_device";
  const std::optional<platform::Array>& xmlSystemProfile() const { return xmlSystemProfile_; }

  void setShowAlert(Alert alert) { showAlert_ = std::move(alert); }

  // Copies into the support folder; a copy never overwrites.
  void copyFilesInvolvedAtPath(const std::filesystem::path& folder);
  void copyApplicationSpecificFilesFolderToPath(const std::filesystem::path& folder);
  void copyStreamDeckFolderToPath(const std::filesystem::path& folder);
  void copyStreamingPresetsFolderToPath(const std::filesystem::path& folder);
  void copyUserCorvanePreferencesFolderToPath(const std::filesystem::path& folder);
  void copyVideoDevicesPath(const std::filesystem::path& folder);
  void copyCrashLogToPath(const std::filesystem::path& folder);
  void copySystemLogsToPath(const std::filesystem::path& folder);
  void copySupportFilesAtPath(const std::filesystem::path& folder);
  void copyAjaDeviceSettingsAtPath(const std::filesystem::path& folder);
  void copyBMDDeviceSettingsAtPath(const std::filesystem::path& folder);

  // The window of system logs worth sending: local midnight of the day before
  // the occurred date to one day after it, both ends included.
  std::pair<Date, Date> systemLogWindow() const;
  void showErrorRetrievingFilesAlert();
  // The technical log files written within that window, for supportFilesPath.
  std::vector<std::filesystem::path> technicalLogFilesForOccuredDate() const;

  void getDeviceModelName();
  void gatherXmlSystemProfileThread();
  // Exports the journal since one day before the occurred date into
  // "SystemLogs_<day>.log"; asks for the administrator only when needed.
  void collectLogsToPath(const std::filesystem::path& folder);
  // Zips <name> inside its parent folder; the delegate hears supportFolderZipped
  // or largeFolderZipped.
  void zipFolder(const std::filesystem::path& folder, bool large);

 private:
  // Logs the command line, then hands the command to the runner.
  void runCommand(Command command, CommandRunner::Completion completion);
  static std::string complient(const std::optional<std::string>& value) {
    return value ? makeStringComplientForJsonFormat(*value) : std::string();
  }
  bool copyItem(const std::filesystem::path& source, const std::filesystem::path& target, std::string* error = nullptr);
  void copyIntoFolder(const std::vector<std::filesystem::path>& sources, const std::filesystem::path& target);
  void copyFlattened(const std::vector<std::filesystem::path>& roots, const std::filesystem::path& target);

  ProfilerDelegate_Protocol* delegate_;
  std::shared_ptr<CommandRunner> runner_;
  SupportSources sources_;
  Alert showAlert_;
  std::string applicationName_;
  std::string version_;
  std::optional<std::string> yourName_, yourCompany_, email_, title_, endUserCompany_, problemDescription_,
      requesterType_;
  std::optional<platform::Array> xmlSystemProfile_;
  // Completions of commands still running check it: the window may close first.
  std::shared_ptr<int> lifetime_ = std::make_shared<int>();
};

}  // namespace support
