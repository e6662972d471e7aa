#pragma once
// The repeat folding of the technical log: runs of one message text in one
// file become the first line plus one "--- last message repeated ---" line.
// Decides, line by line, what goes to which file; writes nothing itself.
//
// Owned by the log controller and used only on its technical log queue, in
// the order the lines were requested; not thread-safe.
//
// Guarantees: only the text is compared (level and flags are not); the first
// line of a file never counts as a repeat; a run still open when the file
// changes (midnight, new folder) is closed in the previous file, stamped with
// the time of the line that ended it.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace foundation {

class TechnicalLogRepeatFolder {
 public:
  struct Plan {
    // A repeat line to append by itself to the previous file (run open at a file change).
    std::optional<std::filesystem::path> previousFilePath;
    std::string previousFileText;
    // False when the line is folded into the run: nothing is written.
    bool writesLine = false;
    // First line to this path: the host's initial line goes first and a clean-up follows.
    bool startsNewFile = false;
    // A repeat line that goes in front of the line in the same file.
    std::string leadingText;
  };

  Plan plan(const std::filesystem::path& path, std::string_view message, std::string_view timeStamp);

  const std::optional<std::filesystem::path>& lastFilePath() const { return lastFilePath_; }
  const std::optional<std::string>& lastMessage() const { return lastMessage_; }
  std::uint64_t repeatCount() const { return repeatCount_; }

 private:
  std::optional<std::filesystem::path> lastFilePath_;
  std::optional<std::string> lastMessage_;
  std::uint64_t repeatCount_ = 0;
};

}  // namespace foundation
