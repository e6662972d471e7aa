#include "telemetry/services/crashes/logs/DRTLErrorAttachmentLog.h"

#include "foundation/GenerateUniqueID.h"
#include "platform/Base64.h"
#include "telemetry/core/DRTLArchiveValues.h"
#include "telemetry/services/crashes/logs/DRTLRecordSupport.h"

namespace telemetry::crashes {

DRTLErrorAttachmentLog::DRTLErrorAttachmentLog() : attachmentId(foundation::GenerateUniqueID::generateUniqueID()) {
  type = "errorAttachment";
}

DRTLErrorAttachmentLog::DRTLErrorAttachmentLog(std::optional<std::string> filename, const std::string& attachmentText)
    : DRTLErrorAttachmentLog(std::move(filename), std::vector<std::uint8_t>(attachmentText.begin(), attachmentText.end()),
                             std::string("text/plain")) {}

DRTLErrorAttachmentLog::DRTLErrorAttachmentLog(std::optional<std::string> name, std::vector<std::uint8_t> attachmentBinary,
                                               std::optional<std::string> mediaType)
    : DRTLErrorAttachmentLog() {
  filename = std::move(name);
  data = std::move(attachmentBinary);
  contentType = std::move(mediaType);
}

std::shared_ptr<DRTLErrorAttachmentLog> DRTLErrorAttachmentLog::attachmentWithText(const std::string& text,
                                                                                  std::optional<std::string> filename) {
  return std::make_shared<DRTLErrorAttachmentLog>(std::move(filename), text);
}

std::shared_ptr<DRTLErrorAttachmentLog> DRTLErrorAttachmentLog::attachmentWithBinary(
    std::vector<std::uint8_t> data, std::optional<std::string> filename, std::optional<std::string> contentType) {
  return std::make_shared<DRTLErrorAttachmentLog>(std::move(filename), std::move(data), std::move(contentType));
}

DRTLJSON DRTLErrorAttachmentLog::serializeToDictionary() const {
  DRTLJSON dictionary = DRTLAbstractLog::serializeToDictionary();
  putIfSet(dictionary, "id", attachmentId);
  putIfSet(dictionary, "errorId", errorId);
  putIfSet(dictionary, "contentType", contentType);
  putIfSet(dictionary, "fileName", filename);
  if (data) dictionary["data"] = platform::base64Encode(*data);
  return dictionary;
}

bool DRTLErrorAttachmentLog::isValid() const {
  if (!DRTLAbstractLog::isValid()) return false;
  const char* missing = !errorId        ? "errorId"
                        : !attachmentId ? "attachmentId"
                        : !data         ? "data"
                        : !contentType  ? "contentType"
                                        : nullptr;
  if (!missing) return true;
  core::logInvalidProperty(className(), missing);
  return false;
}

bool DRTLErrorAttachmentLog::isEqual(const core::DRTLAbstractLog* other) const {
  const auto* same = dynamic_cast<const DRTLErrorAttachmentLog*>(other);
  return same && DRTLAbstractLog::isEqual(other) && attachmentId == same->attachmentId && errorId == same->errorId &&
         contentType == same->contentType && filename == same->filename && data == same->data;
}

void DRTLErrorAttachmentLog::encode(platform::KeyedArchiveEncoder& encoder) const {
  DRTLAbstractLog::encode(encoder);
  core::encodeString(encoder, "id", attachmentId);
  core::encodeString(encoder, "errorId", errorId);
  core::encodeString(encoder, "contentType", contentType);
  core::encodeString(encoder, "fileName", filename);
  if (data) encoder.encodeValue("data", platform::Value(platform::Data(data->begin(), data->end())));
}

void DRTLErrorAttachmentLog::decode(const platform::KeyedArchiveDecoder& decoder) {
  DRTLAbstractLog::decode(decoder);
  attachmentId = core::decodeString(decoder, "id");
  errorId = core::decodeString(decoder, "errorId");
  contentType = core::decodeString(decoder, "contentType");
  filename = core::decodeString(decoder, "fileName");
  data.reset();
  if (const platform::Data* bytes = decoder.value("data").data()) data.emplace(bytes->begin(), bytes->end());
}

}  // namespace telemetry::crashes
