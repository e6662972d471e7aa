#pragma once
// QtDocumentPanels: the document questions as Qt panels: the unsaved changes
// message box (Save, Don't Save, Cancel; Escape cancels) and the save file
// panel for playlists.
//
// Owned by main() (or a test) on the GUI thread; cleared from the delegate
// before it goes.

#include "app/shell/DocumentPanels.h"

namespace app::views {

class QtDocumentPanels final : public DocumentPanels {
 public:
  SaveChangesAnswer askSaveChanges(const std::string& documentName) override;
  std::optional<std::filesystem::path> askSaveFileName(const std::string& suggestedName) override;
};

}  // namespace app::views
