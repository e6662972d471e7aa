// Sending the bundle and the involved files: the help desk's attachment or the
// cloud, the progress sheet, errors with resume, and the statistics line.
#include <limits>
#include <system_error>

#include "foundation/CVNLogController.h"
#include "support/window/ContactSupportWindowController.h"
#include "support/window/SupportWindowTexts.h"

namespace support::window {
namespace {

constexpr double kRewriteAfterSeconds = 2.0;
constexpr double kSpeedExtreme = 9'223'372'036'854'775'808.0;  // 2^63

double fileSize(const std::filesystem::path& path) {
  std::error_code error;
  const auto size = std::filesystem::file_size(path, error);
  return error ? 0 : static_cast<double>(size);
}

bool pathExists(const std::filesystem::path& path) {
  std::error_code error;
  return std::filesystem::exists(path, error);
}

bool isSkippedFileError(const std::string& text) { return text == "cancelled" || text.rfind("File not found :", 0) == 0; }

}  // namespace

double ContactSupportWindowController::secondsNow() const {
  return std::chrono::duration<double>(platform::Clock::current().now().time_since_epoch()).count();
}

void ContactSupportWindowController::showUploadingFilesWindow() {
  beginSheet(isUsingZendeskUpload_ ? Sheet::Upload : Sheet::LargeUpload);
}

void ContactSupportWindowController::hideUploadingFilePopup() {
  if (state_.sheet == Sheet::Upload || state_.sheet == Sheet::LargeUpload) endSheet();
}

bool ContactSupportWindowController::isUploadSheetVisible() const {
  return state_.sheet == Sheet::Upload || state_.sheet == Sheet::LargeUpload;
}

void ContactSupportWindowController::uploadLogs() {
  amazonUploadMegaBytesAlreadyWritten_ = 0;
  amazonUploadContent_ = 1;
  amazonUploadMaxSpeed_ = -kSpeedExtreme;
  amazonUploadMinSpeed_ = kSpeedExtreme;
  if (!zippedSupportFolderPath_) return;
  const double size = fileSize(*zippedSupportFolderPath_);
  if (size < static_cast<double>(kAttachmentLimitBytes)) {
    helpDesk_->uploadFilesAtPath(*zippedSupportFolderPath_);
    return;
  }
  const std::filesystem::path path = logsCollectionLocationPath_ / zippedSupportFolderPath_->filename();
  state_.upload.message = "Uploading Logs...";
  state_.upload.progressText = "Estimating time...";
  state_.upload.content = LargeUploadContent::Progress;
  if (state_.sheet == Sheet::Upload) beginSheet(Sheet::LargeUpload);
  logsFilePath_ = path;
  amazonUploadFileStartAbsoluteTime_ = secondsNow();
  amazonUploadLogsSize_ = size;
  redraw();
  cloudUpload_->uploadFileToAmazon(path, "logs/");
}

bool ContactSupportWindowController::prepareLargeFiles() {
  largeFilesIncluded_.clear();
  largeFilesToZip_.clear();
  largeFilesAlreadyUploaded_.clear();
  filesToZipIndex_ = 0;
  for (const std::filesystem::path& path : profiler_->filesInvolved) {
    std::error_code error;
    if (std::filesystem::is_directory(path, error)) {
      const std::filesystem::path zip = path.string() + ".zip";
      largeFilesToZip_.push_back(zip);
      largeFilesIncluded_.push_back(zip);
    } else if (pathExists(path)) {
      amazonUploadFilesSize_ += fileSize(path);
      largeFilesIncluded_.push_back(path);
    }
  }
  return isUploadingLargeFilesZipped();
}

bool ContactSupportWindowController::isUploadingLargeFilesZipped() {
  if (largeFilesToZip_.empty()) return false;
  zipFolderAtPath(largeFilesToZip_.front(), true);
  return true;
}

void ContactSupportWindowController::largeFolderZipped() {
  ++filesToZipIndex_;
  amazonUploadFilesSize_ += fileSize(currentFileZipped_);
  if (filesToZipIndex_ < static_cast<std::int64_t>(largeFilesToZip_.size())) {
    zipFolderAtPath(largeFilesToZip_[static_cast<std::size_t>(filesToZipIndex_)], true);
    return;
  }
  startUpload();
}

void ContactSupportWindowController::uploadFileToAmazon() {
  state_.upload.content = LargeUploadContent::Progress;
  amazonUploadContent_ = 0;
  if (filesIndex_ < 0 || filesIndex_ >= static_cast<std::int64_t>(largeFilesIncluded_.size())) return;
  const std::filesystem::path file = largeFilesIncluded_[static_cast<std::size_t>(filesIndex_)];
  redraw();
  if (!pathExists(file)) {
    amazonSegmentFileUploadError("File not found : " + file.filename().string());
    return;
  }
  cloudUpload_->uploadFileToAmazon(file, "files/" + folderNameWithUserInfo_ + "/");
}

void ContactSupportWindowController::uploadDataReceived(std::int64_t bytes, std::int64_t written,
                                                        std::int64_t expected) {
  const bool bundle = amazonUploadContent_ == 1;
  const double writtenMegabytes =
      static_cast<double>(written) / 1e6 + (bundle ? 0 : amazonUploadFilesAlreadyUploadedSize_ / 1e6);
  const double totalMegabytes = bundle ? static_cast<double>(expected) / 1e6 : amazonUploadFilesSize_ / 1e6;
  amazonUploadMegaBytesAlreadyWritten_ = writtenMegabytes;
  const double now = secondsNow();
  if (totalMegabytes >= writtenMegabytes) {
    const std::string progress = progressText(writtenMegabytes, totalMegabytes);
    if (previousUploadInfoRetrievedDate_) timeIntervalInSeconds_ += now - *previousUploadInfoRetrievedDate_;
    totalKiloBytesWritten_ += bytes / 1000;
    state_.upload.progressMaximum = totalMegabytes;
    state_.upload.progressValue = writtenMegabytes;
    if (timeIntervalInSeconds_ > kRewriteAfterSeconds) {
      const double speed = static_cast<double>(totalKiloBytesWritten_) / timeIntervalInSeconds_;
      // Without a positive speed no time can be estimated: the line keeps
      // saying so instead of dividing by zero.
      if (speed > 0) {
        const double remaining = static_cast<double>(expected - written) / 1000 / speed;
        state_.upload.progressText = progress + remainingText(remaining) + " " + speedText(speed);
        amazonUploadMinSpeed_ = std::min(amazonUploadMinSpeed_, speed);
        amazonUploadMaxSpeed_ = std::max(amazonUploadMaxSpeed_, speed);
      } else {
        state_.upload.progressText = "Estimating time...";
      }
      totalKiloBytesWritten_ = 0;
      timeIntervalInSeconds_ = 0;
    }
    redraw();
  }
  previousUploadInfoRetrievedDate_ = now;
}

void ContactSupportWindowController::amazonFileUploadedSuccessfully(const std::string& downloadAddress,
                                                                    const std::filesystem::path& file,
                                                                    const std::string& bucketName) {
  currentBucketName_ = bucketName;
  if (file != logsFilePath_) {
    ++filesIndex_;
    amazonUploadFilesAlreadyUploadedSize_ += fileSize(file);
    largeFilesAlreadyUploaded_.emplace_back(file, downloadAddress);
    if (std::find(largeFilesToZip_.begin(), largeFilesToZip_.end(), file) != largeFilesToZip_.end())
      removeFileAtPath(file);
    if (!canUploadFilesToAmazon_) return;
    if (filesIndex_ < static_cast<std::int64_t>(largeFilesIncluded_.size())) uploadFileToAmazon();
    else filesUploadedSuccessuflly();
    return;
  }
  removeFileAtPath(file);
  logAmazonUploadInformation();
  filesIndex_ = 0;
  amazonUploadMegaBytesAlreadyWritten_ = 0;
  amazonUploadFilesAlreadyUploadedSize_ = 0;
  logsFileDownloadLinkPath_ = downloadAddress;
  state_.upload.progressValue = 0;
  redraw();
  sendTicketToZendesk(std::nullopt);
}

void ContactSupportWindowController::filesUploadedSuccessuflly() {
  hideUploadingFilePopup();
  // A file skipped on the way ("Next" past a missing one) leaves the ticket
  // short of it: the note says so and the customer is told.
  if (pendingUploadError_) amazonUploadStatus_ = 1;
  sendPrivateNoteToZendesk(currentUpdateTicketId_);
  showUpdateConfirmationMessage();
}

void ContactSupportWindowController::logAmazonUploadInformation() {
  const double elapsed = secondsNow() - amazonUploadFileStartAbsoluteTime_;
  const double average = elapsed > 0 ? amazonUploadLogsSize_ / 1000 / elapsed : 0;
  foundation::CVNLogController::sharedLogController().logMessageWithLevel(
      2, false,
      "Contact Corvane Support: Logs file uploaded to: '%s'. File Size: %.0f MB. Upload Duration: %s. Average Upload "
      "Speed: %.2f KB/s. Minimum Upload Speed: %.2f KB/s. Maximum Upload Speed: %.2f KB/s.",
      currentBucketName_.c_str(), amazonUploadLogsSize_ / 1e6, durationText(elapsed).c_str(), average,
      amazonUploadMinSpeed_, amazonUploadMaxSpeed_);
}

void ContactSupportWindowController::amazonFileUploadError(const std::string& text) { sendTicketToZendesk(text); }

void ContactSupportWindowController::amazonSegmentFileUploadError(const std::string& text) {
  const bool bundle = amazonUploadContent_ == 1;
  UploadSheet& upload = state_.upload;
  upload.errorButtonTitle = "Resume";
  upload.errorButtonEnabled = true;
  upload.errorText = bundle ? "Error: Could not upload logs" : "Error: Could not upload files";
  const double totalBytes = bundle ? amazonUploadLogsSize_ : amazonUploadFilesSize_;
  char status[64];
  std::snprintf(status, sizeof status, "%.0f MB of %.0f MB -  ", amazonUploadMegaBytesAlreadyWritten_,
                totalBytes / 1e6);
  upload.errorStatus = status + text;
  upload.errorIndicatorMaximum = totalBytes;
  upload.errorIndicatorValue = amazonUploadMegaBytesAlreadyWritten_ * 1e6;
  if (isSkippedFileError(text)) {
    pendingUploadError_ = text;
    const bool moreFollow =
        !bundle && filesIndex_ + 1 < static_cast<std::int64_t>(largeFilesIncluded_.size());
    upload.errorButtonTitle = moreFollow ? "Next" : "Done";
  }
  upload.content = LargeUploadContent::Error;
  isUsingZendeskUpload_ = false;
  showUploadingFilesWindow();
}

void ContactSupportWindowController::resumeMultiPartUpload() {
  if (state_.upload.errorButtonTitle == "Resume") {
    state_.upload.content = LargeUploadContent::Progress;
    redraw();
    cloudUpload_->resumeMultiPartUpload();
    return;
  }
  ++filesIndex_;
  if (amazonUploadContent_ != 1 && filesIndex_ < static_cast<std::int64_t>(largeFilesIncluded_.size())) {
    uploadFileToAmazon();
    return;
  }
  if (amazonUploadContent_ != 1) {
    filesUploadedSuccessuflly();
    return;
  }
  // The bundle could not go up: the ticket still goes out, saying why.
  sendTicketToZendesk(pendingUploadError_);
}

void ContactSupportWindowController::cancelAmazonUpload() { cloudUpload_->abortAmazonUpload(); }

void ContactSupportWindowController::cancelMultipartUploadSuccessfully() { cancelUpload(); }

void ContactSupportWindowController::cancelUpload() {
  state_.continueEnabled = true;
  state_.backEnabled = true;
  hideUploadingFilePopup();
}

void ContactSupportWindowController::cancelUploadPushed() {
  state_.upload.content = LargeUploadContent::Progress;
  state_.continueEnabled = true;
  state_.backEnabled = true;
  endSheet();
}

}  // namespace support::window
