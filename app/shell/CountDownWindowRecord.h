#pragma once
// CountDownWindowRecord: one countdown window as saved in the user default
// "CountDownWindowPositions" ({"x", "y", "w", "h", "UniqueID",
// "NodeUniqueID", "TimeCountType", "FullScreen"}; "x", "y" the top-left
// corner), and the list's rules: records are read leniently, written one
// window at a time, and the list is bounded.
//
// Values; the list functions read and write the defaults they are given.
// Main thread.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/shell/RegisteredDefaults.h"
#include "platform/UserDefaults.h"
#include "platform/Value.h"

namespace app {

inline constexpr const char* kRecordXKey = "x";
inline constexpr const char* kRecordYKey = "y";
inline constexpr const char* kRecordWidthKey = "w";
inline constexpr const char* kRecordHeightKey = "h";
inline constexpr const char* kRecordUniqueIDKey = "UniqueID";
inline constexpr const char* kRecordNodeUniqueIDKey = "NodeUniqueID";
inline constexpr const char* kRecordTimeCountTypeKey = "TimeCountType";
inline constexpr const char* kRecordFullScreenKey = "FullScreen";
// A window larger than this on either side is not a frame any screen shows.
inline constexpr std::int64_t kLargestWindowSide = 16384;
inline constexpr std::size_t kMostSavedWindows = 64;
// Counter types are the tags 1-7 of the window's type pop-up.
inline constexpr std::int32_t kFirstTimeCountType = 1;
inline constexpr std::int32_t kLastTimeCountType = 7;

struct WindowFrame {
  std::int64_t x = 0;
  std::int64_t y = 0;
  std::int64_t w = 0;
  std::int64_t h = 0;
  friend bool operator==(const WindowFrame&, const WindowFrame&) = default;
};

struct CountDownWindowRecord {
  std::optional<WindowFrame> frame;  // none: the window keeps its own
  std::string uniqueID;
  std::string nodeUniqueID;
  std::int32_t timeCountType = 1;
  bool fullScreen = false;

  // Wrong types read as absent, an unknown counter type as 1, a side of 0 or
  // over kLargestWindowSide drops the frame, a missing "UniqueID" gets a new
  // one; none for a value that is no dictionary.
  static std::optional<CountDownWindowRecord> fromValue(const platform::Value& value);
  platform::Dictionary toDictionary() const;
};

// The saved windows to reopen: readable records with distinct unique IDs, in
// order, at most kMostSavedWindows.
std::vector<CountDownWindowRecord> savedCountDownWindows(const platform::UserDefaults& defaults);

// Replaces the window's record (by unique ID) with `record`, appended last;
// the oldest records go beyond kMostSavedWindows.
void saveCountDownWindowRecord(platform::UserDefaults& defaults, const CountDownWindowRecord& record);
void removeCountDownWindowRecord(platform::UserDefaults& defaults, const std::string& uniqueID);
// Writes exactly `records` (what savedCountDownWindows() read, corrected).
void rewriteCountDownWindowRecords(platform::UserDefaults& defaults, const std::vector<CountDownWindowRecord>& records);

}  // namespace app
