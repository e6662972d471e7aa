#pragma once
// TelnetController: the command link to one playout node. It owns one TCP
// connection, a link thread of its own that runs a poll loop over the socket
// and a wake-up eventfd, the queue of pending commands ordered by priority, and
// the framing rules that decide when a reply is complete.
//
// Owned by its NodeConnection (its delegate). Threads:
// - the link thread ("com.dirarovazovo.nodeLink") does the socket I/O, except
//   that a thread queuing a command onto an idle link writes it itself (under
//   the socket lock the link thread reads with), sparing the link thread a
//   wake-up; a processCommandSynchronously() caller that wrote its command so
//   also reads the reply while it comes promptly, and the link thread (not
//   woken by those bytes) takes over the socket for a slower one;
// - the node's polling thread calls processCommandSynchronously(), which
//   blocks until the reply is complete, the link closes, or kReplyTimeLimit
//   passes on Clock::current();
// - delegate calls (nodeConnectionDidOpen/DidClose/DidNotOpen) are posted to
//   DispatchQueue::main() and reach the delegate only while it is alive.
// Every public member is safe from any thread.
//
// Wire format: a command is its UTF-8 text followed by LF then CR ("\n\r").
// Replies carry no identifier, so exactly one command is outstanding at a
// time and replies match commands by order. Where a reply ends is
// nodeReplyEnd() (NodeReplyFraming.h): a plain reply at its line end, a
// property list at "</plist>", however many reads either takes.
//
// Guarantees beyond the bare protocol:
// - a command whose text could break the framing (NUL, other control
//   characters outside an embedded property list, or the LF CR sequence
//   anywhere) is refused here, for every caller, and finishes unanswered;
// - when the link closes, the outstanding and every queued command finish
//   unanswered: nothing of one connection is ever answered with bytes of the
//   next one;
// - bytes that arrive while no command is outstanding are discarded (and
//   reported), and the socket is drained before each command is written, so
//   a late reply never shifts onto the following command;
// - a reply longer than its limit (kMaxPlainReplyBytes, or
//   kMaxPropertyListReplyBytes for a property list), a failing write, a connect that does
//   not finish within kConnectTimeLimit, and the end of the stream close the
//   link;
// - the queue is bounded (kMaxQueuedCommands); beyond it a command finishes
//   unanswered at once;
// - every wait is bounded and every deadline is on Clock::current(); a
//   ManualClock advance (or replacement) wakes the poll loop at once.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "nodes/link/NodeReplyFraming.h"
#include "nodes/link/TelnetCommand.h"
#include "platform/Error.h"

namespace nodes {

class TelnetController;

inline constexpr const char* kNodeConnectionDidNotOpenNotification = "nodeConnectionDidNotOpen";
inline constexpr const char* kClosingStreamNotification = "ClosingStream";

inline constexpr const char* kTelnetControllerErrorDomain = "TelnetControllerErrorDomain";
enum class TelnetControllerErrorCode {
  UnsafeCommandText = 1,  // the text would break the LF CR framing
};

// The owner of a TelnetController (NodeConnection). All calls arrive on the
// main thread, without the controller waiting for them.
class TelnetControllerDelegate {
 public:
  virtual ~TelnetControllerDelegate() = default;
  virtual void nodeConnectionDidOpen(TelnetController& controller) = 0;
  virtual void nodeConnectionDidClose(TelnetController& controller) = 0;
  virtual void nodeConnectionDidNotOpen(TelnetController& controller) = 0;
  // The object of the "ClosingStream" notification.
  virtual std::string nodeUniqueID() const = 0;
};

// A Bonjour service the data source has resolved to an address and a port.
struct ResolvedNetService {
  std::string name;         // the service name
  std::string hostAddress;  // numeric address or host name
  int port = 0;

  friend bool operator==(const ResolvedNetService&, const ResolvedNetService&) = default;
};

class TelnetController {
 public:
  static constexpr std::chrono::seconds kReplyTimeLimit{10};
  static constexpr std::chrono::seconds kConnectTimeLimit{10};
  static constexpr std::size_t kReadChunkBytes = 2048;
  static constexpr std::size_t kMaxQueuedCommands = 1024;

  // Empty queue, no connection, no thread, every flag false.
  TelnetController();
  // Closes the link and joins the link thread (bounded: nothing in the loop
  // blocks without a time limit). Posts no delegate call.
  ~TelnetController();
  TelnetController(const TelnetController&) = delete;
  TelnetController& operator=(const TelnetController&) = delete;

  // Not retained: delegate calls are skipped once it is gone. The delegate
  // owns this controller.
  void setDelegate(std::weak_ptr<TelnetControllerDelegate> delegate);
  std::weak_ptr<TelnetControllerDelegate> delegate() const;

  // Opens a connection to a hand-entered node. While the link thread of the
  // previous connection still runs, posts "nodeConnectionDidNotOpen" (sender
  // and object: the delegate) on the default centre and opens nothing. A
  // connection that cannot be made (unknown host, refused, no answer within
  // kConnectTimeLimit) ends in nodeConnectionDidNotOpen on the delegate.
  void startConnectionWithHostAddress(const std::string& host, int port);
  // Opens a connection to a discovered node; does nothing while the link
  // thread still runs.
  void startConnectionWithNetService(const std::optional<ResolvedNetService>& service);
  // Closes the link (closeStreams).
  void stopConnection();
  // Finishes the outstanding and queued commands unanswered, stops the link
  // thread, clears the flags, then tells the delegate nodeConnectionDidClose
  // and posts "ClosingStream" (object: the delegate's nodeUniqueID) on the
  // main thread. Does nothing when there is no link.
  void closeStreams();

  // Queues `command` and blocks the caller until its reply is complete, the
  // link closes, or kReplyTimeLimit passes. Without a link it returns at
  // once. On a timeout the link is closed. The caller then reads hasResponse,
  // responseString and responseData of its command. Must not be called on the
  // main thread (it would freeze the windows) nor on the link thread.
  void processCommandSynchronously(const std::shared_ptr<TelnetCommand>& command);
  // Queue insertion: a command whose text equals a queued one's is not queued
  // again but gets the same reply; otherwise it goes before the first queued
  // command of lower priority (priorities compare unsigned). Refused commands
  // (unsafe text, full queue, no link) finish unanswered at once. Any thread.
  void addNewCommand(const std::shared_ptr<TelnetCommand>& command);

  bool isConnected() const;
  bool isTryingToConnect() const;
  bool communicationsThreadIsRunning() const;
  std::shared_ptr<TelnetCommand> currentTelnetCommand() const;
  // The queued commands, first to be sent first.
  std::vector<std::shared_ptr<TelnetCommand>> telnetCommands() const;
  // The host of the current or last connection; none before the first.
  std::optional<std::string> nodeAddress() const;

  // --- Command text rule (pure; exposed for the node-side tools and tests) ---
  // Success when `text` can be sent as one command line: no NUL, no LF CR
  // sequence, and no control character other than tab except LF and CR
  // inside an embedded property list ("<?xml" ... "</plist>").
  static platform::Status checkCommandText(std::string_view text);

  struct Impl;  // opaque

 private:
  std::shared_ptr<Impl> impl_;
};

}  // namespace nodes
