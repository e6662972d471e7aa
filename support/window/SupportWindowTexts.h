#pragma once
// The Contact Support window's pure decisions: the e-mail check, the button
// roles and their places, the bundle folder's name, the upload limits and the
// upload progress texts.
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "support/window/ContactSupportViewState.h"

namespace support::window {

inline constexpr std::int64_t kAttachmentLimitBytes = 7'000'000;        // below: the help desk takes the zip
inline constexpr std::int64_t kBundleTooLargeBytes = 70'000'001;        // from here on: too large
inline constexpr std::int64_t kInvolvedFilesLimitBytes = 107'374'182'400;  // 100 GiB
inline constexpr std::size_t kMaximumInvolvedFiles = 10;

struct EmailCheck {
  std::string address;  // the field without tabs, newlines, returns or spaces
  bool invalid = false;
  bool labelRed = false;  // the e-mail label turns red too
};
EmailCheck checkEmailAddress(const std::string& field);

struct ContinueButtonRole {
  const char* title;
  int width;
};
ContinueButtonRole continueButtonRole(ContinueRole role);
struct ButtonPlaces {
  int continueX;
  int backX;
};
// 13 points from the right edge of the content, the back button 97 left of it.
ButtonPlaces buttonPlaces(int contentWidth, ContinueRole role);

// "%@%@_%@_%@_%@": user id and "_", the occurred date "yyMMdd-HHmm", the
// computer's letters and digits, the four-character code, now "yyMMdd-HHmmss";
// then blanks, "'" and "|" removed. Dates in the local time zone.
std::string bundleFolderName(const std::optional<std::string>& userID,
                             std::chrono::system_clock::time_point occurred, const std::string& computerName,
                             const std::string& fourChar, std::chrono::system_clock::time_point now);

// major × 100 + minor of a dotted version; 0 with fewer than two parts.
int osVersion(const std::string& versionString);

// "%.3f" below 1, else "%.0f".
std::string megabytesText(double megabytes, double total);
std::string progressText(double writtenMegabytes, double totalMegabytes);
std::string speedText(double kilobytesPerSecond);
std::string remainingText(double seconds);
std::string durationText(double seconds);  // "%02d:%02d:%02d"

// The ticket text: the description with the bundle's link or the upload's error.
struct TicketDescription {
  std::string text;
  bool uploadFailed = false;
};
TicketDescription ticketDescription(const std::string& description, const std::optional<std::string>& downloadLink,
                                    const std::optional<std::string>& errorText);

std::string withoutZipExtension(const std::string& path);

}  // namespace support::window
