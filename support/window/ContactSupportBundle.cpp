// The support bundle: where it is made, its name, its files, its zip and its size.
#include <system_error>

#include "platform/DateFormatter.h"
#include "platform/Diagnostics.h"
#include "platform/PropertyList.h"
#include "support/window/ContactSupportWindowController.h"
#include "support/window/SupportWindowTexts.h"

namespace support::window {
namespace {

void consoleLog(const std::string& message) { platform::reportDiagnostic(platform::DiagnosticLevel::Info, message); }

std::string localeIdentifier() {
  for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(variable);
    if (value && *value) {
      std::string locale = value;
      return locale.substr(0, locale.find('.'));
    }
  }
  return "en_US_POSIX";
}

// Sum of the sizes of every file under the folder; what cannot be read counts 0.
std::int64_t folderSizeAtPath(const std::filesystem::path& folder) {
  std::int64_t total = 0;
  std::error_code error;
  for (auto it = std::filesystem::recursive_directory_iterator(
           folder, std::filesystem::directory_options::skip_permission_denied, error);
       !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
    std::error_code sizeError;
    if (it->is_regular_file(sizeError)) {
      const auto size = it->file_size(sizeError);
      if (!sizeError) total += static_cast<std::int64_t>(size);
    }
  }
  return total;
}

}  // namespace

void ContactSupportWindowController::collectAndSave() {
  if (checkProfilerMissingInfos()) {
    triedToSend_ = true;
    shake();
    return;
  }
  setLogsCollectionLocationPath();
  if (systemProfileRetrieved_) systemProfileRetrieved();
  else retrieveXMLProfile();
}

void ContactSupportWindowController::setLogsCollectionLocationPath() {
  if (zendeskCurrentAction_ != 2) {
    logsCollectionLocationPath_ = services_.desktopFolder;
    folderNameWithUserInfo_ = getFolderNameBasedOnUserInfo();
    createSupportFolderAtPath(logsCollectionLocationPath_);
    return;
  }
  if (!view_) return;
  view_->chooseFolder([this](std::optional<std::filesystem::path> chosen) {
    if (!chosen) {
      state_.continueEnabled = true;
      state_.backEnabled = true;
      redraw();
      return;
    }
    logsCollectionLocationPath_ = *chosen;
    folderNameWithUserInfo_ = getFolderNameBasedOnUserInfo();
    createSupportFolderAtPath(logsCollectionLocationPath_);
  });
}

std::string ContactSupportWindowController::getFolderNameBasedOnUserInfo() {
  const auto fourChar = applicationInfo_.find("fourChar");
  return bundleFolderName(userID_, profiler_->occuredDate, services_.computerName,
                          fourChar == applicationInfo_.end() ? std::string() : fourChar->second.stringOr(""),
                          platform::Clock::current().wallNow());
}

void ContactSupportWindowController::createSupportFolderAtPath(const std::filesystem::path& location) {
  if (zendeskCurrentAction_ == 0) profiler_->occuredDate = state_.updateOccurred.pickerDate;
  else if (zendeskCurrentAction_ == 1) profiler_->occuredDate = state_.occurred.pickerDate;
  else userID_.reset();
  platform::Dictionary fresh = delegate_->applicationInformationForSupport();
  if (!fresh.empty()) applicationInfo_ = std::move(fresh);

  const std::filesystem::path folder = location / folderNameWithUserInfo_;
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  if (error) consoleLog("Contact Corvane Support: Create Corvane Support Folder error: " + error.message());
  saveApplicationInfosToFileAtPath(folder);
  saveCustomerInfosToFileAtPath(folder);

  if (delegate_->showInvolvedDocumentsView()) profiler_->copyFilesInvolvedAtPath(folder);
  profiler_->copyApplicationSpecificFilesFolderToPath(folder);
  profiler_->copyStreamDeckFolderToPath(folder);
  profiler_->copyStreamingPresetsFolderToPath(folder);
  profiler_->copyUserCorvanePreferencesFolderToPath(folder);
  profiler_->copyVideoDevicesPath(folder);
  profiler_->copyCrashLogToPath(folder);
  profiler_->copySystemLogsToPath(folder);
  profiler_->supportFilesPath = delegate_->supportFilePathsWithDate(profiler_->occuredDate);
  profiler_->copySupportFilesAtPath(folder);
  profiler_->copyAjaDeviceSettingsAtPath(folder);
  profiler_->copyBMDDeviceSettingsAtPath(folder);

  zippedSupportFolderPath_ = std::filesystem::path(folder.string() + ".zip");
  // Every supported system keeps a journal: it is collected before zipping.
  state_.activityText = "Collecting Logs...";
  beginSheet(Sheet::Activity);
  profiler_->collectLogsToPath(folder);
}

void ContactSupportWindowController::saveApplicationInfosToFileAtPath(const std::filesystem::path& folder) {
  platform::Dictionary info{{"ApplicationName", profiler_->applicationName()}, {"Version", profiler_->version()}};
  if (auto status = platform::writePropertyListFile(folder / "Application Info.plist", info); !status)
    consoleLog("Contact Corvane Support: Save application infos error: " + status.error().localizedDescription);
}

void ContactSupportWindowController::saveCustomerInfosToFileAtPath(const std::filesystem::path& folder) {
  platform::Dictionary info;
  const auto put = [&info](const char* key, const std::string& value) {
    if (!value.empty()) info[key] = value;
  };
  put("yourName", profiler_->yourName());
  put("yourCompany", profiler_->yourCompany());
  put("requesterType", profiler_->requesterType());
  put("endUserCompagny", profiler_->endUserCompany());
  put("email", profiler_->email());
  put("title", profiler_->title());
  put("problemDescription", profiler_->problemDescription());
  if (profiler_->occuredDate != Profiler::Date{})
    info["occuredDate"] = std::chrono::time_point_cast<std::chrono::microseconds>(profiler_->occuredDate);
  if (auto zone = platform::DateFormatter::create("Z", "en_US_POSIX"))
    put("timeZone", zone->stringFromDate(platform::Clock::current().wallNow()));
  put("locale", localeIdentifier());
  info["alreadySearched"] = profiler_->alreadySearchedInDB ? "YES" : "NO";
  if (auto version = applicationInfo_.find("contactSupportVersion"); version != applicationInfo_.end())
    put("contactSupportVersion", version->second.stringOr(""));
  if (auto status = platform::writePropertyListFile(folder / "Customer Infos.plist", info); !status)
    consoleLog("Contact Corvane Support: Save customer infos error: " + status.error().localizedDescription);
}

void ContactSupportWindowController::saveXmlSystemProfilerFileAtPath(const std::filesystem::path& folder) {
  const platform::Array profile = profiler_->xmlSystemProfile().value_or(platform::Array{});
  if (auto status = platform::writePropertyListFile(folder / "System Profiler.spx", profile); !status)
    consoleLog("Contact Corvane Support: Save xml system profiler error: " + status.error().localizedDescription);
}

void ContactSupportWindowController::logsCollected() {
  logsCollected_ = true;
  if (systemProfileRetrieved_ && zippedSupportFolderPath_) {
    endSheet();
    zipFolderAtPath(*zippedSupportFolderPath_, false);
  }
}

void ContactSupportWindowController::retrieveLogsFailed() {
  logsCollected_ = false;
  state_.continueEnabled = true;
  state_.backEnabled = true;
  if (zippedSupportFolderPath_) removeFileAtPath(withoutZipExtension(zippedSupportFolderPath_->string()));
  endSheet();
}

void ContactSupportWindowController::zipFolderAtPath(const std::filesystem::path& zipPath, bool largeFileUploadFolder) {
  const std::filesystem::path folder = withoutZipExtension(zipPath.string());
  if (largeFileUploadFolder) {
    currentFileZipped_ = zipPath;
  } else {
    saveXmlSystemProfilerFileAtPath(folder);
    state_.activityText = "Zipping Log files...";
    beginSheet(Sheet::Activity);
  }
  profiler_->zipFolder(folder, largeFileUploadFolder);
}

void ContactSupportWindowController::supportFolderZipped() {
  endSheet();
  if (!zippedSupportFolderPath_) return;
  const std::filesystem::path folder = withoutZipExtension(zippedSupportFolderPath_->string());
  std::error_code error;
  if (!std::filesystem::is_regular_file(*zippedSupportFolderPath_, error)) {
    removeFileAtPath(folder);
    bundleFailed("The support files could not be compressed into one file at:\n" + zippedSupportFolderPath_->string());
    return;
  }
  isSupportFolderTooLarge_ = folderSizeAtPath(folder) >= kBundleTooLargeBytes;
  isUsingZendeskUpload_ = !isSupportFolderTooLarge_;
  helpDesk_->setIsSupportFolderTooLarge(isSupportFolderTooLarge_);
  switch (zendeskCurrentAction_) {
    case 2:
      showConfirmation("You're almost done!",
                       {"All the files required for support have been collected and compressed in one file.\nYou can "
                        "find the file here:\n" +
                            folder.string() +
                            "\n\nNow you will need to either create or update a support ticket on our support desk "
                            "from a computer with Internet access.\n\nYou can access our support desk here: " +
                            services_.pages.webAddress,
                        {services_.pages.webAddress}});
      break;
    case 1: submitTheTicketToZendesk(); break;
    case 0:
      showUploadingFilesWindow();
      uploadLogs();
      break;
    default: break;
  }
  removeFileAtPath(folder);
}

void ContactSupportWindowController::bundleFailed(const std::string& reason) {
  hideUploadingFilePopup();
  showConfirmation("Error!", {reason, {}});
  state_.continueEnabled = true;
  state_.backEnabled = true;
  redraw();
}

void ContactSupportWindowController::removeFileAtPath(const std::filesystem::path& path) {
  std::error_code error;
  if (!std::filesystem::exists(path, error)) return;
  std::filesystem::remove_all(path, error);
  if (error) consoleLog("Contact Corvane Support: Error Removing files at path: " + path.string());
}

}  // namespace support::window
