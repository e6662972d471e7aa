#include "support/window/SupportWindowTexts.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <vector>

#include "platform/DateFormatter.h"

namespace support::window {
namespace {

std::vector<std::string> split(const std::string& text, char separator) {
  std::vector<std::string> parts{""};
  for (char c : text) {
    if (c == separator) parts.emplace_back();
    else parts.back() += c;
  }
  return parts;
}

std::string format(const char* pattern, double value) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, pattern, value);
  return buffer;
}

std::string dateText(const char* pattern, std::chrono::system_clock::time_point date) {
  auto formatter = platform::DateFormatter::create(pattern, "en_US_POSIX");
  return formatter ? formatter->stringFromDate(date) : std::string();
}

}  // namespace

EmailCheck checkEmailAddress(const std::string& field) {
  EmailCheck check;
  for (char c : field)
    if (c != '\t' && c != '\n' && c != '\r' && c != ' ') check.address += c;
  const std::vector<std::string> parts = split(check.address, '@');
  if (parts.size() == 2) {
    const std::vector<std::string> domain = split(parts[1], '.');
    check.invalid = !(domain.size() >= 2 && !domain[0].empty() && !domain[1].empty());
    check.labelRed = check.invalid;
  } else {
    check.invalid = !check.address.empty();
  }
  return check;
}

ContinueButtonRole continueButtonRole(ContinueRole role) {
  switch (role) {
    case ContinueRole::Next: return {"Continue", 97};
    case ContinueRole::SubmitNewTicket: return {"Submit New Ticket", 158};
    case ContinueRole::UpdateTicket: return {"Update Ticket", 127};
    case ContinueRole::CollectLogs: return {"Collect Logs\u2026", 125};
    case ContinueRole::Done: return {"Done", 97};
  }
  return {"Continue", 97};
}

ButtonPlaces buttonPlaces(int contentWidth, ContinueRole role) {
  const int continueX = contentWidth - 13 - continueButtonRole(role).width;
  return {continueX, continueX - 97};
}

std::string bundleFolderName(const std::optional<std::string>& userID,
                             std::chrono::system_clock::time_point occurred, const std::string& computerName,
                             const std::string& fourChar, std::chrono::system_clock::time_point now) {
  std::string computer;
  for (unsigned char c : computerName)
    if (std::isalnum(c)) computer += static_cast<char>(c);
  std::string name = (userID ? *userID + "_" : std::string()) + dateText("yyMMdd-HHmm", occurred) + "_" + computer +
                     "_" + fourChar + "_" + dateText("yyMMdd-HHmmss", now);
  std::string result;
  for (char c : name)
    if (c != ' ' && c != '\'' && c != '|') result += c;
  return result;
}

int osVersion(const std::string& versionString) {
  const std::vector<std::string> parts = split(versionString, '.');
  if (parts.size() < 2) return 0;
  return std::atoi(parts[0].c_str()) * 100 + std::atoi(parts[1].c_str());
}

std::string megabytesText(double megabytes, double total) {
  return format(total < 1 ? "%.3f" : "%.0f", megabytes);
}

std::string progressText(double writtenMegabytes, double totalMegabytes) {
  return megabytesText(writtenMegabytes, totalMegabytes) + " MB of " + megabytesText(totalMegabytes, totalMegabytes) +
         " MB";
}

std::string speedText(double kilobytesPerSecond) {
  if (kilobytesPerSecond > 1000) return "(" + format("%.2f", kilobytesPerSecond / 1000) + " MB/s)";
  return "(" + format("%.0f", kilobytesPerSecond) + " KB/s)";
}

std::string remainingText(double seconds) {
  const auto whole = [](double value) { return std::to_string(static_cast<long long>(value)); };
  if (seconds >= 86400) return "-  About " + whole(seconds / 86400) + " day(s) remaining";
  if (seconds >= 3600) return "-  About " + whole(seconds / 3600) + " h remaining";
  if (seconds >= 60) return "-  " + whole(seconds / 60) + " min remaining";
  return "-  " + whole(seconds) + " s remaining";
}

std::string durationText(double seconds) {
  const long long total = seconds > 0 ? static_cast<long long>(seconds) : 0;
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%02d:%02d:%02d", static_cast<int>(total / 3600),
                static_cast<int>(total / 60 % 60), static_cast<int>(total % 60));
  return buffer;
}

TicketDescription ticketDescription(const std::string& description, const std::optional<std::string>& downloadLink,
                                    const std::optional<std::string>& errorText) {
  if (downloadLink) {
    const std::string name = downloadLink->substr(downloadLink->find_last_of('/') + 1);
    return {description + "<br><br>---------<br>Attachments:<br> <a href='" + *downloadLink + "'>" + name + "</a>",
            false};
  }
  if (errorText)
    return {description + "<br><br>---------<br>Attachments:<br>The upload of the file(s) threw an error : " +
                *errorText,
            true};
  return {description, false};
}

std::string withoutZipExtension(const std::string& path) {
  constexpr std::string_view kZip = ".zip";
  if (path.size() >= kZip.size() && path.compare(path.size() - kZip.size(), kZip.size(), kZip) == 0)
    return path.substr(0, path.size() - kZip.size());
  return path;
}

}  // namespace support::window
