#include "foundation/TechnicalLogFormat.h"

namespace foundation {

std::string technicalLogFileName(std::string_view logPrefix, std::string_view day) {
  std::string name;
  name.reserve(logPrefix.size() + day.size() + 4);
  name.append(logPrefix).append(day).append(".log");
  return name;
}

std::string technicalLogLine(bool isProblem, std::string_view timeStamp, std::string_view message) {
  std::string line;
  line.reserve(timeStamp.size() + message.size() + 6);
  if (isProblem) line.push_back('!');
  line.append("\t").append(timeStamp).append("\t\t").append(message).append("\r\n");
  return line;
}

std::string technicalLogRepeatLine(std::string_view timeStamp, std::uint64_t repeatCount) {
  std::string line;
  line.append("\t").append(timeStamp).append("\t\t--- last message repeated ");
  line.append(std::to_string(repeatCount)).append(repeatCount >= 2 ? " times" : " time").append(" ---\r\n");
  return line;
}

std::string technicalLogInitialLine(std::string_view timeStamp, std::string_view initialMessage) {
  return technicalLogLine(false, timeStamp, initialMessage);
}

std::string simpleLogFileName(std::string_view day, std::string_view name) {
  std::string fileName;
  fileName.append(day).append("_").append(name).append(".log");
  return fileName;
}

std::string simpleLogLine(std::string_view timeStamp, std::string_view message) {
  std::string line;
  line.reserve(timeStamp.size() + message.size() + 2);
  line.append(timeStamp).append("\t").append(message).append("\n");
  return line;
}

std::string messageWithDocumentName(std::string_view message, const std::optional<std::string>& documentName) {
  std::string text(message);
  if (documentName) text.append(" (Document: ").append(*documentName).append(")");
  return text;
}

bool fitsLogFilePathLimit(const std::filesystem::path& path) { return path.native().size() <= kMaxLogFilePathBytes; }

}  // namespace foundation
