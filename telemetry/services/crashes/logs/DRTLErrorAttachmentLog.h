#pragma once
// DRTLErrorAttachmentLog ("errorAttachment"): one file, text or binary,
// attached to a crash or handled error. Made by the host through the two
// factories; the crash service sets the error id before queueing it.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "telemetry/core/DRTLAbstractLog.h"

namespace telemetry::crashes {

class DRTLErrorAttachmentLog : public core::DRTLAbstractLog {
 public:
  // A fresh attachment id; no error id yet.
  DRTLErrorAttachmentLog();
  // Text as UTF-8, content type "text/plain".
  DRTLErrorAttachmentLog(std::optional<std::string> filename, const std::string& attachmentText);
  DRTLErrorAttachmentLog(std::optional<std::string> filename, std::vector<std::uint8_t> attachmentBinary,
                         std::optional<std::string> contentType);

  static std::shared_ptr<DRTLErrorAttachmentLog> attachmentWithText(const std::string& text,
                                                                    std::optional<std::string> filename);
  static std::shared_ptr<DRTLErrorAttachmentLog> attachmentWithBinary(std::vector<std::uint8_t> data,
                                                                      std::optional<std::string> filename,
                                                                      std::optional<std::string> contentType);

  std::optional<std::string> attachmentId;
  std::optional<std::string> errorId;
  std::optional<std::string> contentType;
  std::optional<std::string> filename;
  std::optional<std::vector<std::uint8_t>> data;

  // "data" is Base64 on one line.
  core::DRTLJSON serializeToDictionary() const override;
  // The file name is optional; error id, attachment id, data and content type are not.
  bool isValid() const override;
  bool isEqual(const core::DRTLAbstractLog* other) const override;
  std::string className() const override { return "DRTLErrorAttachmentLog"; }
  void encode(platform::KeyedArchiveEncoder& encoder) const override;
  void decode(const platform::KeyedArchiveDecoder& decoder);
};

}  // namespace telemetry::crashes
