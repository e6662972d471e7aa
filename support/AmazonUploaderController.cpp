#include "support/AmazonUploaderController.h"

namespace support {

AmazonUploaderController::AmazonUploaderController(AmazonUploaderControllerDelegateProtocol* delegate,
                                                   CloudStorageConfiguration configuration)
    : delegate_(delegate), amazonUploader_(std::make_unique<AmazonUploader>(this, std::move(configuration))) {
  amazonUploader_->segmentSize = 0xA00000;
}

void AmazonUploaderController::uploadFileToAmazon(const std::filesystem::path& file, const std::string& remotePath) {
  currentMultiPartUploadFileUrl_ = file;
  amazonUploader_->remotePath = remotePath;
  std::error_code error;
  const auto size = static_cast<std::int64_t>(std::filesystem::file_size(file, error));
  amazonUploadType_ = !error && size >= amazonUploader_->segmentSize ? 1 : 0;
  amazonUploader_->uploadFileAtURL(file, amazonUploadType_ == 1);
}

void AmazonUploaderController::abortAmazonUpload() {
  if (amazonUploadType_ == 1) {
    amazonUploader_->abortFileUploadAtPath(currentMultiPartUploadFileUrl_.filename().string(), true);
    return;
  }
  amazonUploader_->abortFileUploadAtPath({}, false);
  if (delegate_->respondsTo("cancelUpload")) delegate_->cancelUpload();
}

void AmazonUploaderController::resumeMultiPartUpload() { amazonUploader_->resumeFileUpload(amazonUploadType_ == 1); }

void AmazonUploaderController::amazonFileUploadedSuccessfully(const std::string& objectURL,
                                                              const std::filesystem::path& file) {
  if (delegate_->respondsTo("amazonFileUploadedSuccessfully")) {
    delegate_->amazonFileUploadedSuccessfully(objectURL, file, amazonUploader_->bucketName());
  }
}

void AmazonUploaderController::amazonFileUploadError(const std::string& text) {
  if (delegate_->respondsTo("amazonFileUploadError")) delegate_->amazonFileUploadError(text);
}

void AmazonUploaderController::amazonSegmentFileUploadError(const std::string& text) {
  if (delegate_->respondsTo("amazonSegmentFileUploadError")) delegate_->amazonSegmentFileUploadError(text);
}

void AmazonUploaderController::uploadDataReceived(std::int64_t bytes, std::int64_t written, std::int64_t expected) {
  if (delegate_->respondsTo("uploadDataReceived")) delegate_->uploadDataReceived(bytes, written, expected);
}

void AmazonUploaderController::cancelMultipartUploadSuccessfully() {
  if (delegate_->respondsTo("cancelMultipartUploadSuccessfully")) delegate_->cancelMultipartUploadSuccessfully();
}

}  // namespace support
