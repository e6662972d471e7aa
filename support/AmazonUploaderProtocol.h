#pragma once
// What the uploader tells its owner, and what the owner tells the window.
// Each call is made only when the receiver `respondsTo` it. Main thread.
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace support {

class AmazonUploaderProtocol {
 public:
  virtual ~AmazonUploaderProtocol() = default;
  virtual bool respondsTo(std::string_view operation) const = 0;
  virtual void amazonFileUploadedSuccessfully(const std::string& /*objectURL*/, const std::filesystem::path&) {}
  virtual void amazonFileUploadError(const std::string&) {}
  virtual void amazonSegmentFileUploadError(const std::string&) {}
  virtual void uploadDataReceived(std::int64_t /*bytes*/, std::int64_t /*totalBytesWritten*/,
                                  std::int64_t /*totalBytesExpectedToWrite*/) {}
  virtual void cancelMultipartUploadSuccessfully() {}
};

class AmazonUploaderControllerDelegateProtocol {
 public:
  virtual ~AmazonUploaderControllerDelegateProtocol() = default;
  virtual bool respondsTo(std::string_view operation) const = 0;
  virtual void amazonFileUploadedSuccessfully(const std::string& /*objectURL*/, const std::filesystem::path&,
                                              const std::string& /*bucketName*/) {}
  virtual void amazonFileUploadError(const std::string&) {}
  virtual void amazonSegmentFileUploadError(const std::string&) {}
  virtual void uploadDataReceived(std::int64_t, std::int64_t, std::int64_t) {}
  virtual void cancelMultipartUploadSuccessfully() {}
  virtual void cancelUpload() {}
};

}  // namespace support
