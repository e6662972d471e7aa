// Tally polling: the tally dictionary read once (updateTallies) or in a loop on
// the update queue (updateProgramAndPreviewStates). Nothing starts either; they
// are offered for switchers whose state feed is unavailable.

#include "control/switchers/SwitcherConsole.h"
#include "control/switchers/TriCasterController.h"

namespace control {

namespace {

// Yes for text that starts (after blanks, a sign and zeros) with y, t or 1-9.
bool booleanValue(const std::string& text) {
  std::size_t at = text.find_first_not_of(" \t\n\r");
  if (at == std::string::npos) return false;
  if (text[at] == '+' || text[at] == '-') ++at;
  while (at < text.size() && text[at] == '0') ++at;
  if (at >= text.size()) return false;
  const char c = text[at];
  return c == 'y' || c == 'Y' || c == 't' || c == 'T' || (c >= '1' && c <= '9');
}

struct TallyColumn {
  std::string name;
  std::int64_t index = 0;
  std::string onProgram;
  std::string onPreview;
};

std::vector<TallyColumn> tallyColumns(const pugi::xml_document& tally) {
  std::vector<TallyColumn> columns;
  for (const pugi::xpath_node& node : tally.select_nodes("./tally/column")) {
    const pugi::xml_node column = node.node();
    columns.push_back({column.attribute("name").value(), column.attribute("index").as_llong(),
                       column.attribute("on_pgm").value(), column.attribute("on_prev").value()});
  }
  return columns;
}

}  // namespace

void TriCasterController::applyTally(std::uint64_t index, bool onProgram, bool onPreview, bool selects) {
  bool programChanged = false;
  bool previewChanged = false;
  bool isClipPlayer = false;
  {
    std::lock_guard lock(inputsLock_);
    if (index >= inputs_.size()) return;
    TriCasterInput& input = inputs_[index];
    if (input.isOnProgramTally != onProgram) {
      input.isOnProgramTally = onProgram;
      if (selects) input.isSelectedInputOfProgram = true;
      programChanged = true;
    }
    if (input.isOnPreviewTally != onPreview) {
      input.isOnPreviewTally = onPreview;
      if (selects) input.isSelectedInputOfPreview = true;
      previewChanged = true;
    }
    isClipPlayer = equalsIgnoringCase(input.switcherInputName, identifierOfClipPlayingInput_);
  }
  const auto position = static_cast<std::int32_t>(index);
  if (programChanged) {
    if (selects) programInputIndex_ = index;
    if (delegate_) delegate_->triCasterSelectedInput(position, 0, *this);
    if (isClipPlayer && onProgram) {
      isPlayingAClip_ = true;
      if (delegate_) delegate_->triCasterTriggeredPlaybackStartForDevice(*this);
    } else if (isClipPlayer && isPlayingAClip_) {
      isPlayingAClip_ = false;
      if (delegate_) delegate_->triCasterTriggeredPlaybackStopForDevice(*this);
    }
  }
  if (previewChanged) {
    if (selects) previewInputIndex_ = index;
    if (delegate_) delegate_->triCasterSelectedInput(position, 1, *this);
  }
}

bool TriCasterController::updateTallies() {
  const auto [user, password] = login();
  auto tally = http_.XMLDocumentAtURL(urlForPath("/v1/dictionary?key=tally"), user, password);
  if (!tally.ok()) {
    switcherConsoleLog("Failed to update tally (%s)", tally.error().localizedDescription.c_str());
    return true;
  }
  const std::weak_ptr<bool> alive = alive_;
  platform::DispatchQueue::main().async([this, alive, columns = tallyColumns(*tally.value())] {
    if (alive.expired()) return;
    for (const TallyColumn& column : columns) {
      if (const auto input = inputWithIdentifier(column.name)) {
        applyTally(input->index, booleanValue(column.onProgram), booleanValue(column.onPreview), false);
      }
    }
  });
  return false;
}

bool TriCasterController::updateProgramAndPreviewStates() {
  platform::URLRequest request;
  request.url = urlForPath("/v1/dictionary?key=tally");
  request.timeout = kStatePollTimeout;
  const auto [user, password] = login();
  const auto reply = http_.synchronouslyRequestData(std::move(request), user, password);
  if (!reply.ok() || reply.value().body.empty()) return false;
  const auto tally = CVNAuthenticatedURLSessionController::parseXML(reply.value().body);
  if (!tally.ok()) return false;
  // The columns are handled on the main thread before the next poll is queued;
  // the next poll is queued from there so it never waits for the main thread.
  const std::weak_ptr<bool> alive = alive_;
  platform::DispatchQueue::main().async([this, alive, columns = tallyColumns(*tally.value())] {
    if (alive.expired()) return;
    for (const TallyColumn& column : columns) {
      const std::uint64_t index = static_cast<std::uint64_t>(column.index + 1);
      if (inputWithIndex(index)) applyTally(index, column.onProgram == "true", column.onPreview == "true", true);
    }
    updateQueue_->async([this, alive] {
      if (!alive.expired() && !stopping_) updateProgramAndPreviewStates();
    });
  });
  return true;
}

}  // namespace control
