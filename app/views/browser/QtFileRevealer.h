#pragma once
// QtFileRevealer: shows a local file selected in the desktop's file manager
// (org.freedesktop.FileManager1.ShowItems on the session bus), or, without
// one, opens the folder that holds it. GUI thread.

#include "app/browser/MediaBrowserView.h"

namespace app::views {

class QtFileRevealer final : public browser::FileRevealer {
 public:
  bool selectFile(const std::filesystem::path& path) override;
};

}  // namespace app::views
