#pragma once
// A media browser view for tests: keeps what the controller showed last and
// records the calls that ask something of the window.

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/browser/MediaBrowserView.h"

namespace app_testing {

class RecordingMediaBrowserView final : public app::browser::MediaBrowserView, public app::browser::FileRevealer {
 public:
  app::browser::NodeChooserState chooser;
  std::string selectedNodeName;
  std::vector<app::browser::MediaCollectionNodePtr> roots;
  std::vector<app::browser::MediaCollectionNodePtr> selected;
  std::shared_ptr<const nodes::RGBAImage> thumbnail;
  std::string clipCount;
  bool busy = false;
  bool restricted = false;
  int reloads = 0;
  int beeps = 0;
  bool livePanelOpen = false;
  std::vector<app::browser::MediaCollectionNodePtr> renaming;
  std::vector<app::browser::OfflineClipSheetState> offlineSheets;
  std::vector<std::filesystem::path> revealed;
  bool revealSucceeds = true;

  void showWindow() override {}
  void showNodeChooser(const app::browser::NodeChooserState& state) override { chooser = state; }
  void showSelectedNodeName(const std::string& name) override { selectedNodeName = name; }
  void reloadOutline(const std::vector<app::browser::MediaCollectionNodePtr>& shown, bool) override {
    roots = shown;
    ++reloads;
  }
  void selectNodes(const std::vector<app::browser::MediaCollectionNodePtr>& nodes) override { selected = nodes; }
  void showThumbnail(std::shared_ptr<const nodes::RGBAImage> image) override { thumbnail = std::move(image); }
  void showClipCount(const std::string& text) override { clipCount = text; }
  void showBusy(bool on) override { busy = on; }
  void setRestrictedMode(bool on) override { restricted = on; }
  void beginRenaming(const app::browser::MediaCollectionNodePtr& node) override { renaming.push_back(node); }
  void openOfflineClipSheet(const app::browser::OfflineClipSheetState& state) override { offlineSheets.push_back(state); }
  void openLiveClipPanel() override { livePanelOpen = true; }
  void closeLiveClipPanel() override { livePanelOpen = false; }
  void beep() override { ++beeps; }
  bool selectFile(const std::filesystem::path& path) override {
    revealed.push_back(path);
    return revealSucceeds;
  }
};

}  // namespace app_testing
