#include "foundation/TechnicalLogLineBuffer.h"

namespace foundation {
namespace {

// Memory kept between bursts; a larger burst gives its memory back.
constexpr std::size_t kKeptTextBytes = 1 << 20;
constexpr std::size_t kKeptLines = 8192;

}  // namespace

void TechnicalLogLineBuffer::append(const std::shared_ptr<const TechnicalLogDestination>& destination, WallTime date,
                                    std::string_view message, bool isProblem, bool show) {
  if (destinations_.empty() || destinations_.back() != destination) destinations_.push_back(destination);
  lines_.push_back(Stored{destinations_.size() - 1, date, text_.size(), message.size(), isProblem, show});
  text_.append(message);
}

void TechnicalLogLineBuffer::clear() {
  destinations_.clear();
  if (text_.capacity() > kKeptTextBytes || lines_.capacity() > kKeptLines) {
    std::string().swap(text_);
    std::vector<Stored>().swap(lines_);
    return;
  }
  text_.clear();
  lines_.clear();
}

}  // namespace foundation
