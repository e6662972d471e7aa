#include "control/switchers/TriCasterFeedAssembler.h"

namespace control {

TriCasterFeedAssembler::Result TriCasterFeedAssembler::append(std::string_view bytes) {
  Result result;
  while (!bytes.empty()) {
    const std::size_t end = bytes.find('\0');
    const std::string_view part = bytes.substr(0, end);
    if (pending_.size() + part.size() > maximumMessageSize_) {
      pending_.clear();
      result.overflowed = true;
      return result;
    }
    pending_.append(part);
    if (end == std::string_view::npos) break;
    if (!pending_.empty()) result.messages.push_back(std::move(pending_));
    pending_.clear();
    bytes.remove_prefix(end + 1);
  }
  return result;
}

}  // namespace control
