#pragma once
// A PlaylistView for window tests: keeps the last state shown, counts the
// pushes and records what the window asked of the desktop.

#include <filesystem>
#include <optional>
#include <vector>

#include "app/playlist/PlaylistView.h"

namespace app_testing {

class RecordingPlaylistView final : public app::PlaylistView {
 public:
  void showState(const app::PlaylistViewState& state) override {
    last = state;
    ++shown;
  }
  std::optional<nodes::WindowFrame> windowFrame() const override { return std::nullopt; }
  void revealInFileManager(const std::filesystem::path& path) override { revealed.push_back(path); }
  void revealClipsInMediaBrowser(const std::vector<std::string>& clipUniqueIDs) override {
    revealedInMediaBrowser.push_back(clipUniqueIDs);
  }
  std::vector<std::vector<std::string>> revealedInMediaBrowser;
  void askAbsoluteStartTime(double seconds) override { askedStartTimes.push_back(seconds); }

  app::PlaylistViewState last;
  int shown = 0;
  std::vector<std::filesystem::path> revealed;
  std::vector<double> askedStartTimes;
};

}  // namespace app_testing
