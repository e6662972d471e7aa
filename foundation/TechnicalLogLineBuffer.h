#pragma once
// The technical log lines that callers have logged and the writer has not yet
// taken: their texts back to back in one block, so logging a line costs a
// copy into memory already there rather than an allocation per line.
//
// Owned by the log controller, which guards it with its own lock: callers
// append, the writer swaps the whole buffer out and walks it in order. Not
// thread-safe by itself.

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace foundation {

// Where a line goes: taken with the line, like its date, so a folder change
// never moves lines logged before it.
struct TechnicalLogDestination {
  std::optional<std::filesystem::path> folder;  // none: lines are not written
  std::string logPrefix;
};

class TechnicalLogLineBuffer {
 public:
  using WallTime = std::chrono::system_clock::time_point;

  struct Line {
    const TechnicalLogDestination& destination;
    WallTime date;
    std::string_view message;
    bool isProblem;
    bool show;
  };

  void append(const std::shared_ptr<const TechnicalLogDestination>& destination, WallTime date,
              std::string_view message, bool isProblem, bool show);

  std::size_t size() const { return lines_.size(); }
  bool empty() const { return lines_.empty(); }

  // Calls visit(const Line&) for every line, oldest first.
  template <typename Visitor>
  void forEach(Visitor&& visit) const {
    for (const Stored& line : lines_) {
      visit(Line{*destinations_[line.destination], line.date, std::string_view(text_).substr(line.offset, line.length),
                 line.isProblem, line.show});
    }
  }

  // Empties the buffer, keeping its memory for the next lines unless a burst made it large.
  void clear();

 private:
  struct Stored {
    std::size_t destination;  // index into destinations_
    WallTime date;
    std::size_t offset;
    std::size_t length;
    bool isProblem;
    bool show;
  };

  std::string text_;
  std::vector<Stored> lines_;
  std::vector<std::shared_ptr<const TechnicalLogDestination>> destinations_;
};

}  // namespace foundation
