#pragma once
// TriCasterFeedAssembler: cuts the switcher's state feed into messages at
// every zero byte, keeping a message's start for the next read. A message
// past the bound is given up (the caller reconnects). One thread at a time.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace control {

class TriCasterFeedAssembler {
 public:
  static constexpr std::size_t kMaximumMessageSize = 1u << 20;

  struct Result {
    std::vector<std::string> messages;  // complete, in order, zero byte removed
    bool overflowed = false;            // the message being assembled passed the bound and was dropped
  };

  explicit TriCasterFeedAssembler(std::size_t maximumMessageSize = kMaximumMessageSize)
      : maximumMessageSize_(maximumMessageSize) {}

  Result append(std::string_view bytes);
  void reset() { pending_.clear(); }

 private:
  std::size_t maximumMessageSize_;
  std::string pending_;
};

}  // namespace control
