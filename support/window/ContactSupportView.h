#pragma once
// What the Contact Support window controller asks of its window. The Qt
// window draws the state and forwards the customer's actions; tests record.
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "support/window/ContactSupportViewState.h"

namespace support::window {

class ContactSupportView {
 public:
  using FilesChosen = std::function<void(std::vector<std::filesystem::path>)>;
  using FolderChosen = std::function<void(std::optional<std::filesystem::path>)>;

  virtual ~ContactSupportView() = default;
  // Draws the state again; called after every change.
  virtual void update(const ContactSupportViewState& state) = 0;
  virtual void showWindow() = 0;
  virtual void closeWindow() = 0;
  // The 0.2 s shake: the window's origin moves ±2 % of its width.
  virtual void shake() = 0;
  // An open panel for files, several at once, prompt "Select"; with
  // `documentTypesOnly` only "zvpl", "zapl" and "zxpl" files can be chosen.
  // The answer may come later; an empty list means cancelled.
  virtual void chooseFiles(bool documentTypesOnly, FilesChosen chosen) = 0;
  // A folder panel as a sheet ("Where do you want to save your logs?", "Save").
  virtual void chooseFolder(FolderChosen chosen) = 0;
  // A modal alert with one "OK" button.
  virtual void showAlert(const std::string& message, const std::string& informative) = 0;
  // Opens an address in the default browser; false when that failed.
  virtual bool openURL(const std::string& address) = 0;
};

}  // namespace support::window
