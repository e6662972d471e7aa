#pragma once
// The support window's owner of the cloud upload: chooses one PUT or a
// multipart upload by the file's size and passes the uploader's results on.
#include <cstdint>
#include <filesystem>
#include <memory>

#include "support/AmazonUploader.h"
#include "support/AmazonUploaderProtocol.h"

namespace support {

class AmazonUploaderController final : public AmazonUploaderProtocol {
 public:
  // delegate: not owned; the window outlives its controller.
  AmazonUploaderController(AmazonUploaderControllerDelegateProtocol* delegate, CloudStorageConfiguration configuration);

  int amazonUploadType() const { return amazonUploadType_; }  // 0 one PUT, 1 multipart
  AmazonUploader& amazonUploader() { return *amazonUploader_; }

  void uploadFileToAmazon(const std::filesystem::path& file, const std::string& remotePath);
  void abortAmazonUpload();
  void resumeMultiPartUpload();

  bool respondsTo(std::string_view) const override { return true; }
  void amazonFileUploadedSuccessfully(const std::string& objectURL, const std::filesystem::path& file) override;
  void amazonFileUploadError(const std::string& text) override;
  void amazonSegmentFileUploadError(const std::string& text) override;
  void uploadDataReceived(std::int64_t bytes, std::int64_t written, std::int64_t expected) override;
  void cancelMultipartUploadSuccessfully() override;

 private:
  AmazonUploaderControllerDelegateProtocol* delegate_;
  std::unique_ptr<AmazonUploader> amazonUploader_;
  int amazonUploadType_ = 0;
  std::filesystem::path currentMultiPartUploadFileUrl_;
};

}  // namespace support
