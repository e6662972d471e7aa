#pragma once
// OfflineClipSheet: the fields of the offline-clip sheet and their rules:
// the proposed name "Untitled.mov" with "Untitled" selected, the frame rates
// offered (drop frame only for rates that are not whole), the duration read
// through a time formatter, and the file name's clean-up (no ":", "/" or
// "\"; a beep for those and for names past 120 characters).
//
// Owned by the browser's controller; a plain value. Any thread.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "app/browser/MediaBrowserView.h"
#include "nodes/playlist/CVNTimeFormatter.h"

namespace app::browser {

inline constexpr const char* kUntitledOfflineClipName = "Untitled.mov";
inline constexpr std::size_t kUntitledSelectedCharacters = 8;
inline constexpr std::size_t kOfflineNameBeepLength = 120;
inline constexpr const char* kOfflineClipDefaultDurationKey = "offlineClipDefaultDuration";

class OfflineClipSheet {
 public:
  struct NameChange {
    std::string text;  // what the field shows now
    bool beep = false;
  };

  static const std::vector<double>& frameRates();
  static std::vector<std::string> frameRateTitles();
  static NameChange cleanName(std::string_view text);

  // Fresh fields for a sheet about to open on `folder`.
  void open(std::string folder, double durationInSeconds);
  OfflineClipSheetState state() const;

  // The operator's edits.
  NameChange nameDidChange(std::string_view text);
  void setFolder(std::string folder) { folder_ = std::move(folder); }
  // The duration as typed; a text the formatter cannot read keeps the last.
  void setDurationText(std::string_view text);
  void frameRateChanged(std::size_t index);
  void dropFrameChanged(bool on);

  const std::string& fileName() const { return fileName_; }
  const std::string& folder() const { return folder_; }
  double durationInSeconds() const { return durationInSeconds_; }
  double framesPerSecond() const { return frameRates().at(rateIndex_); }
  bool dropFrame() const { return dropFrame_; }
  bool dropFrameEnabled() const { return dropFrameEnabled_; }
  const nodes::CVNTimeFormatter& formatter() const { return formatter_; }

 private:
  std::string fileName_;
  std::string folder_;
  double durationInSeconds_ = 0.0;
  std::size_t rateIndex_ = 2;  // 25
  bool dropFrame_ = false;
  bool dropFrameEnabled_ = false;
  nodes::CVNTimeFormatter formatter_;
};

}  // namespace app::browser
