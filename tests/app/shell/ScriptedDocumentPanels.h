#pragma once
// Stand-ins for the document questions and the playlist window, for tests of
// the document commands: the panels answer from a script and record what they
// were asked; the window counts what it was told.

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "app/shell/DocumentPanels.h"
#include "app/shell/DocumentWindowController.h"

namespace app_testing {

using app::DocumentPanels;
using app::DocumentWindowController;
using app::SaveChangesAnswer;

class CountingWindow : public DocumentWindowController {
 public:
  void showWindow() override { ++shown; }
  void updatePlaybackStatusAfterAwakeFromNib() override {}
  void documentWasReverted() override { ++reverted; }
  void cueButtonPushed() override {}
  void playButtonPushed() override {}
  void pauseButtonPushed() override {}
  void stopButtonPushed() override {}
  void skipToPreviousButtonPushed() override {}
  void skipToNextButtonPushed() override {}
  void externalMixerTriggeredPlaybackStart() override {}
  void externalMixerTriggeredPlaybackStop() override {}
  int shown = 0;
  int reverted = 0;
};

// Answers the document questions from a script and records them.
class ScriptedPanels : public DocumentPanels {
 public:
  SaveChangesAnswer askSaveChanges(const std::string& documentName) override {
    asked.push_back(documentName);
    const SaveChangesAnswer answer = answers.empty() ? SaveChangesAnswer::Cancel : answers.front();
    if (!answers.empty()) answers.erase(answers.begin());
    return answer;
  }
  std::optional<std::filesystem::path> askSaveFileName(const std::string& suggestedName) override {
    suggested.push_back(suggestedName);
    return fileName;
  }
  std::vector<SaveChangesAnswer> answers;
  std::vector<std::string> asked;
  std::vector<std::string> suggested;
  std::optional<std::filesystem::path> fileName;
};

}  // namespace app_testing
