#pragma once
// TelnetCommand: one command of the node text protocol and its reply.
//
// Owned through std::shared_ptr by whoever created it; the TelnetController
// holds it too while it is queued or outstanding. The creator sets the
// request fields (command, priority, requiresXMLResponse, responseSelector)
// before handing the command to the controller and must not change them
// afterwards. The reply side is written once, by the link thread, and may be
// read from any thread: every accessor takes the command's private lock.
//
// Guarantees: a command finishes exactly once, either answered (hasResponse)
// or abandoned (the link closed, the reply limit passed, the text was
// refused); after that its reply never changes, so a late byte of another
// connection can never land in it. waitUntilFinished() waits on
// Clock::current() and is woken by a ManualClock advance.

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/Clock.h"
#include "platform/Error.h"
#include "platform/Value.h"

namespace nodes {

// Priorities the node connection uses; higher is served first.
inline constexpr std::int32_t kTelnetPriorityQuery = 0;
inline constexpr std::int32_t kTelnetPriorityControl = 2;

class TelnetCommand {
 public:
  // Empty command, empty reply, priority 0, no XML reply, not finished.
  TelnetCommand() = default;
  explicit TelnetCommand(std::string command, std::int32_t priority = kTelnetPriorityQuery,
                         bool requiresXMLResponse = false);
  TelnetCommand(const TelnetCommand&) = delete;
  TelnetCommand& operator=(const TelnetCommand&) = delete;

  // --- Request (set before queuing) ---
  const std::string& command() const { return command_; }
  void setCommand(std::string command) { command_ = std::move(command); }
  std::int32_t priority() const { return priority_; }
  void setPriority(std::int32_t priority) { priority_ = priority; }
  bool requiresXMLResponse() const { return requiresXMLResponse_; }
  void setRequiresXMLResponse(bool required) { requiresXMLResponse_ = required; }
  // Name of the operation that handles the reply (control commands); empty
  // at creation.
  const std::string& responseSelector() const { return responseSelector_; }
  void setResponseSelector(std::string selector) { responseSelector_ = std::move(selector); }

  // --- Reply (any thread) ---
  // True once the complete reply arrived.
  bool hasResponse() const;
  // The reply decoded as UTF-8 (invalid sequences replaced) and trimmed of
  // control and format characters at both ends; empty until answered.
  std::string responseString() const;
  // Every reply byte, untrimmed; empty until answered.
  std::string responseData() const;
  // The reply bytes parsed as a property list; an error when there is no
  // reply or it does not parse.
  platform::Result<platform::Value> responsePropertyList() const;
  // Answered or abandoned.
  bool isFinished() const;
  // Why the command was abandoned (empty while unfinished or answered).
  std::string failureReason() const;
  // Waits until the command is finished or `timeout` passes on
  // Clock::current() (the full timeout again on a replacing clock); returns
  // isFinished().
  bool waitUntilFinished(platform::Clock::Duration timeout) const;

  // --- Link side (TelnetController only) ---
  // Stores the complete reply and wakes waiters. Ignored once finished.
  void finishWithResponse(std::string data);
  // Finishes without a reply and wakes waiters. Ignored once finished.
  void abandon(std::string reason);

 private:
  std::string command_;
  std::string responseSelector_;
  std::int32_t priority_ = kTelnetPriorityQuery;
  bool requiresXMLResponse_ = false;

  mutable std::mutex mutex_;
  mutable std::condition_variable finished_;
  std::string responseString_;  // guarded by mutex_
  std::string responseData_;    // guarded by mutex_
  std::string failureReason_;   // guarded by mutex_
  bool hasResponse_ = false;    // guarded by mutex_
  bool isFinished_ = false;     // guarded by mutex_
};

// The reply text as a node's plain replies read it: control and format
// characters (Unicode Cc and Cf) trimmed from both ends of the UTF-8 text,
// invalid UTF-8 replaced by U+FFFD.
std::string trimmedReplyText(std::string_view bytes);

// The integer at the start of a plain reply the way the desktop reads one:
// leading blanks, an optional sign, then digits; 0 when there are none;
// saturates at the int64 bounds.
std::int64_t integerValueOfReply(std::string_view text);

}  // namespace nodes
