#include "crashreporter/Source/DCRCrashReportModel.h"

namespace crashreporter {

DCRCrashReportBinaryImageInfo::DCRCrashReportBinaryImageInfo(ProcessorInfoPtr codeType, std::uint64_t baseAddress,
                                                             std::uint64_t size, std::string name,
                                                             const std::optional<std::vector<std::uint8_t>>& uuid)
    : codeType_(std::move(codeType)), imageBaseAddress_(baseAddress), imageSize_(size), imageName_(std::move(name)) {
  if (!uuid) return;
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  text.reserve(uuid->size() * 2);
  for (const std::uint8_t byte : *uuid) {
    text.push_back(kDigits[byte >> 4]);
    text.push_back(kDigits[byte & 0x0f]);
  }
  imageUUID_ = std::move(text);
}

}  // namespace crashreporter
