#pragma once
// DocumentPanels: what the document commands ask the operator (the unsaved
// changes question, the file name to save under). The Qt window layer
// implements them with message boxes and file panels; tests give answers.
//
// Not owned by the document controller; outlives its tie. Main thread.

#include <filesystem>
#include <optional>
#include <string>

namespace app {

enum class SaveChangesAnswer { Save = 1, DontSave = 2, Cancel = 3 };

inline constexpr const char* kSaveChangesQuestion = "Do you want to save the changes made to the document \"%s\"?";
inline constexpr const char* kSaveChangesInformative = "Your changes will be lost if you don't save them.";

class DocumentPanels {
 public:
  virtual ~DocumentPanels() = default;
  // "Do you want to save the changes…?" with Save, Don't Save and Cancel.
  virtual SaveChangesAnswer askSaveChanges(const std::string& documentName) = 0;
  // The file to save under; none when the operator cancelled.
  virtual std::optional<std::filesystem::path> askSaveFileName(const std::string& suggestedName) = 0;
};

}  // namespace app
