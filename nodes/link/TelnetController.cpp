#include "nodes/link/TelnetController.h"

#include <poll.h>
#include <sys/epoll.h>

#include <algorithm>
#include <any>
#include <array>
#include <deque>
#include <mutex>
#include <stop_token>
#include <utility>

#include "foundation/CVNLogController.h"
#include "nodes/link/NodeReplyFraming.h"
#include "nodes/link/NodeSocket.h"
#include "platform/Clock.h"
#include "platform/Diagnostics.h"
#include "platform/DispatchQueue.h"
#include "platform/FileDescriptor.h"
#include "platform/NotificationCenter.h"
#include "platform/Thread.h"

namespace nodes {
namespace {

using detail::IoOutcome;
using detail::NodeSocket;

constexpr std::string_view kLineEnd = "\n\r";
constexpr std::string_view kXMLOpening = "<?xml";
constexpr std::string_view kXMLEnd = "</plist>";
// The longest the loop sleeps without an event. Every event that matters
// (bytes, a queued command, a close, a clock advance) wakes it, so the slice
// only bounds the wait: idle links do not wake for nothing.
constexpr std::chrono::milliseconds kPollSlice{10000};
// How long a thread that sent its own command waits on the socket for the
// reply before leaving it to the link thread. A node answers a query within a
// few milliseconds, so the link thread is rarely woken for a reply at all.
constexpr std::chrono::milliseconds kDirectReplyWait{25};

// Socket readiness the link thread waits for: everything while it reads the
// replies, only the end of the stream while a waiting caller reads them.
constexpr std::uint32_t kLinkReads = EPOLLIN | EPOLLRDHUP;
constexpr std::uint32_t kCallerReads = EPOLLRDHUP;

// Who reads the reply to a command its queuing thread writes itself.
enum class ReplyReader { LinkThread = 1, Caller = 2 };

void systemLog(std::string message) { platform::reportDiagnostic(platform::DiagnosticLevel::Warning, message); }

// The command word alone, for log lines: arguments may hold a password.
std::string commandWord(std::string_view text) {
  std::string word(text.substr(0, std::min<std::size_t>(text.find(' '), 32)));
  for (char& c : word) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  }
  return word;
}

bool isLineEndOrBlank(char c) { return c == '\n' || c == '\r' || c == ' ' || c == '\t'; }

// Real milliseconds poll() may sleep before `deadline` on the clock comes; a
// manual clock's advance wakes the loop through the clock observer instead.
int pollTimeoutUntil(std::optional<platform::Clock::TimePoint> deadline) {
  if (!deadline) return static_cast<int>(kPollSlice.count());
  const auto remaining = *deadline - platform::Clock::current().now();
  if (remaining <= platform::Clock::Duration::zero()) return 0;
  const auto ms = std::chrono::ceil<std::chrono::milliseconds>(remaining);
  return static_cast<int>(std::min(ms, kPollSlice).count());
}

// A queued or outstanding command with the commands of equal text that were
// queued after it: they all get its reply.
struct QueueEntry {
  std::shared_ptr<TelnetCommand> command;
  std::vector<std::shared_ptr<TelnetCommand>> followers;

  void finish(const std::string& data) const {
    for (const auto& follower : followers) follower->finishWithResponse(data);
    command->finishWithResponse(data);
  }
  void abandon(const std::string& reason) const {
    for (const auto& follower : followers) follower->abandon(reason);
    command->abandon(reason);
  }
};

class LinkSession;

}  // namespace

struct TelnetController::Impl : std::enable_shared_from_this<Impl> {
  enum class DelegateCall { DidOpen = 1, DidClose = 2, DidNotOpen = 3 };

  explicit Impl(TelnetController* controller) : owner(controller) {}

  TelnetController* const owner;
  detail::WakeupEvent wakeup;

  mutable std::mutex mutex;
  std::weak_ptr<TelnetControllerDelegate> delegate;  // guarded by mutex
  std::deque<QueueEntry> queue;                      // guarded by mutex
  std::optional<QueueEntry> current;                 // guarded by mutex
  // Counts connections and closes; a link thread whose generation is no
  // longer current has been closed and touches nothing shared.
  std::uint64_t generation = 0;                // guarded by mutex
  bool linkOpen = false;                       // guarded by mutex: connecting or connected, not closed
  bool isConnected = false;                    // guarded by mutex
  bool isTryingToConnect = false;              // guarded by mutex
  bool outputStreamReady = false;              // guarded by mutex
  bool threadRunning = false;                  // guarded by mutex
  std::optional<std::string> nodeAddress;      // guarded by mutex
  std::unique_ptr<platform::Thread> thread;    // guarded by mutex (joined outside it)

  // Held while the socket is read or written, so a command sent by the
  // thread that queued it never interleaves with the link thread's reads.
  // Taken before `mutex`.
  std::mutex socketMutex;
  LinkSession* session = nullptr;  // guarded by socketMutex: the connected session

  // Declared last: destroyed first, so no callback reaches a dying Impl.
  std::unique_ptr<platform::ClockObserver> clockObserver =
      std::make_unique<platform::ClockObserver>([this](auto, auto&, auto&) { wakeup.signal(); });

  void postDelegateCall(DelegateCall call);
  void postClosingStream();
  void postDidNotOpenNotification();
  // Opens a link unless the previous link thread still runs; `label` names
  // the node in the log (host or service name).
  void start(const std::string& host, int port, const std::string& label, bool byService);
  // Closes the link of `onlyGeneration` (any when none). Returns whether it
  // closed one.
  bool close(std::optional<std::uint64_t> onlyGeneration, bool notify);
  // Queues; returns the link generation, none when refused. With
  // ReplyReader::Caller, a command this thread sends itself leaves its reply
  // to be read by this thread too (readReplyDirectly).
  std::optional<std::uint64_t> enqueue(const std::shared_ptr<TelnetCommand>& command, ReplyReader reader);
  // Sends the next command on the calling thread when the socket is free
  // and nothing is outstanding, which spares the link thread a wake-up.
  // False when the link thread has to see to it.
  bool sendDirectly(ReplyReader reader);
  // On the thread that sent `command` itself: reads replies from the socket
  // until `command` finishes, the reply stalls for kDirectReplyWait (the link
  // thread then reads the rest) or `deadline` passes. True once `command`
  // finished.
  bool readReplyDirectly(const TelnetCommand& command, platform::Clock::TimePoint deadline);
  bool isCurrentGeneration(std::uint64_t g) const {
    std::lock_guard lock(mutex);
    return generation == g && linkOpen;
  }
};

namespace {

// One connection's work on the link thread: connect, then read, write and
// frame until the link closes. Everything here runs on that thread; shared
// state is reached through the Impl's mutex.
class LinkSession {
 public:
  LinkSession(TelnetController::Impl& impl, std::uint64_t generation, std::string host, int port,
              std::stop_token stop)
      : impl_(impl), generation_(generation), host_(std::move(host)), port_(port), stop_(std::move(stop)) {}

  void run() {
    if (!connect()) return;
    // Watched with epoll so that a caller reading its own reply can take the
    // socket's data out of this thread's wait without waking it.
    if (!watchSocket()) return;
    becomeConnected();
    Registration registration(*this);
    while (isLive()) {
      {
        std::lock_guard socket(impl_.socketMutex);
        arm((readerIsCaller_ ? kCallerReads : kLinkReads) | (output_.empty() ? 0u : EPOLLOUT));
      }
      std::array<epoll_event, 2> events{};
      const int ready = ::epoll_wait(epoll_.get(), events.data(), static_cast<int>(events.size()),
                                     pollTimeoutUntil(std::nullopt));
      if (ready < 0 && errno != EINTR) {
        closeLink("epoll_wait: " + detail::describeErrno(errno));
        return;
      }
      std::uint32_t socketEvents = 0;
      for (int i = 0; i < ready; ++i) {
        if (events[static_cast<std::size_t>(i)].data.fd == impl_.wakeup.fd()) {
          impl_.wakeup.drain();
        } else {
          socketEvents = events[static_cast<std::size_t>(i)].events;
        }
      }
      std::lock_guard socket(impl_.socketMutex);
      if (!isLive()) return;
      if ((socketEvents & (EPOLLIN | EPOLLRDHUP | EPOLLHUP | EPOLLERR)) != 0 && !readAvailable()) return;
      if (!output_.empty() && !flush()) return;
      if (!sendNextCommand()) return;
    }
  }

  // On a thread that queued a command, with impl_.socketMutex held: sends
  // the next command unless a write is still pending; with
  // ReplyReader::Caller that thread reads the reply as well (readDirectly()). False when the link
  // thread must poll for the rest of the write.
  bool sendFromQueuingThread(ReplyReader reader) {
    if (!isLive()) return true;
    if (!output_.empty()) return false;
    // Before the write: a reply arriving at once must not wake the link thread.
    if (reader == ReplyReader::Caller && !hasOutstandingCommand()) setReaderIsCaller(true);
    if (!sendNextCommand()) return true;  // the link closed
    if (!output_.empty() || !hasOutstandingCommand()) setReaderIsCaller(false);
    return output_.empty();
  }

  // The rest of the calls below are for the caller reading its own reply,
  // with impl_.socketMutex held.
  bool readerIsCaller() const { return readerIsCaller_; }
  int socketDescriptor() const { return socket_.fd(); }
  std::uint64_t generation() const { return generation_; }
  // Hands the socket back to the link thread (its next wait reads again).
  void setReaderIsCaller(bool callerReads) {
    readerIsCaller_ = callerReads;
    arm((callerReads ? kCallerReads : kLinkReads) | (output_.empty() ? 0u : EPOLLOUT));
  }
  // What the link thread does when the socket is readable. False once the
  // link closed.
  bool readDirectly() {
    if (!readAvailable() || (!output_.empty() && !flush()) || !sendNextCommand()) return false;
    if (!output_.empty()) setReaderIsCaller(false);
    return true;
  }

 private:
  bool isLive() const { return !stop_.stop_requested() && impl_.isCurrentGeneration(generation_); }

  void closeLink(const std::string& reason) {
    if (!reason.empty()) systemLog("Node link to " + host_ + ": " + reason);
    impl_.close(generation_, true);
  }

  // Non-blocking connect to each address in turn, each within the connect
  // time limit on the clock.
  bool connect() {
    auto addresses = detail::resolveHost(host_, port_);
    if (!addresses.ok()) return failOpen(addresses.error().localizedDescription);
    std::string lastError;
    for (const auto& address : *addresses) {
      auto started = NodeSocket::startConnect(address);
      if (!started.ok()) {
        lastError = started.error().localizedDescription;
        continue;
      }
      NodeSocket candidate = std::move(*started);
      platform::Clock* deadlineClock = &platform::Clock::current();
      auto deadline = deadlineClock->now() + TelnetController::kConnectTimeLimit;
      for (;;) {
        if (!isLive()) return false;
        if (&platform::Clock::current() != deadlineClock) {  // a test replaced the clock
          deadlineClock = &platform::Clock::current();
          deadline = deadlineClock->now() + TelnetController::kConnectTimeLimit;
        }
        if (deadlineClock->now() >= deadline) {
          lastError = "no answer within " + std::to_string(TelnetController::kConnectTimeLimit.count()) + " s";
          break;
        }
        std::array<pollfd, 2> fds{{{candidate.fd(), POLLOUT, 0}, {impl_.wakeup.fd(), POLLIN, 0}}};
        if (::poll(fds.data(), fds.size(), pollTimeoutUntil(deadline)) < 0 && errno != EINTR) {
          lastError = "poll: " + detail::describeErrno(errno);
          break;
        }
        if (fds[1].revents != 0) impl_.wakeup.drain();
        if (fds[0].revents != 0) {
          platform::Status connected = candidate.finishConnect();
          if (connected.ok()) {
            socket_ = std::move(candidate);
            return true;
          }
          lastError = connected.error().localizedDescription;
          break;
        }
      }
    }
    return failOpen(lastError);
  }

  bool watchSocket() {
    epoll_event wake{};
    wake.events = EPOLLIN;
    wake.data.fd = impl_.wakeup.fd();
    epoll_event readable{};
    readable.events = armed_ = kLinkReads;
    readable.data.fd = socket_.fd();
    if (!epoll_.valid() || ::epoll_ctl(epoll_.get(), EPOLL_CTL_ADD, wake.data.fd, &wake) != 0 ||
        ::epoll_ctl(epoll_.get(), EPOLL_CTL_ADD, readable.data.fd, &readable) != 0) {
      return failOpen("epoll: " + detail::describeErrno(errno));
    }
    return true;
  }

  // Changes what the link thread's wait reports for the socket; takes effect
  // even while that thread is already waiting. impl_.socketMutex held.
  void arm(std::uint32_t events) {
    if (events == armed_) return;
    epoll_event changed{};
    changed.events = events;
    changed.data.fd = socket_.fd();
    if (::epoll_ctl(epoll_.get(), EPOLL_CTL_MOD, socket_.fd(), &changed) == 0) armed_ = events;
  }

  bool failOpen(const std::string& reason) {
    bool wasTrying = false;
    {
      std::lock_guard lock(impl_.mutex);
      if (impl_.generation == generation_ && impl_.linkOpen && impl_.isTryingToConnect && !impl_.isConnected) {
        wasTrying = true;
        impl_.isTryingToConnect = false;
      }
    }
    if (!wasTrying) return false;
    systemLog("Node link to " + host_ + " did not open: " + reason);
    impl_.postDelegateCall(TelnetController::Impl::DelegateCall::DidNotOpen);
    impl_.close(generation_, true);
    return false;
  }

  // The first "space available" of the connection.
  void becomeConnected() {
    {
      std::lock_guard lock(impl_.mutex);
      if (impl_.generation != generation_ || !impl_.linkOpen) return;
      impl_.outputStreamReady = true;
      impl_.isConnected = true;
      impl_.isTryingToConnect = false;
    }
    impl_.postDelegateCall(TelnetController::Impl::DelegateCall::DidOpen);
    sendNextCommand();
  }

  // Reads what the socket holds, 2048 bytes at a time. False once the link
  // closed.
  bool readAvailable() {
    std::array<char, TelnetController::kReadChunkBytes> buffer{};
    for (;;) {
      const detail::IoResult read = socket_.readSome(buffer.data(), buffer.size());
      switch (read.outcome) {
        case IoOutcome::WouldBlock:
          return true;
        case IoOutcome::Failed:
          closeLink("read failed: " + detail::describeErrno(read.error));
          return false;
        case IoOutcome::Closed:
          if (hasOutstandingCommand()) systemLog("NSStreamEventHasBytesAvailable but with ZERO bytes");
          closeLink({});
          return false;
        case IoOutcome::Progress: {
          bool completed = false;
          if (!handleBytes(std::string_view(buffer.data(), read.bytes), completed)) return false;
          // A reply that ended in a short read has most likely emptied the
          // socket: no read just to hear so. Anything left wakes the poll
          // again, and is drained before the next command is written.
          if (completed && read.bytes < buffer.size()) return true;
          break;
        }
      }
    }
  }

  bool hasOutstandingCommand() const {
    std::lock_guard lock(impl_.mutex);
    return impl_.current.has_value();
  }

  // Frames `bytes` into the outstanding command's reply. False once the link
  // closed.
  bool handleBytes(std::string_view bytes, bool& completedReply) {
    std::optional<QueueEntry> completed;
    std::string replyCommand;
    std::size_t limit = 0;
    {
      std::lock_guard lock(impl_.mutex);
      if (impl_.generation != generation_ || !impl_.linkOpen) return false;
      if (!impl_.current) {
        countDiscarded(bytes);
      } else {
        reply_.append(bytes);
        const bool xml = impl_.current->command->requiresXMLResponse();
        if (const std::optional<std::size_t> end = nodeReplyEnd(reply_, xml, searched_)) {
          countDiscarded(std::string_view(reply_).substr(*end));
          reply_.resize(*end);
          completed = std::move(impl_.current);
          impl_.current.reset();
        } else if (reply_.size() > nodeReplyLimit(reply_, xml)) {
          limit = nodeReplyLimit(reply_, xml);
          replyCommand = commandWord(impl_.current->command->command());
        } else {
          searched_ = reply_.size();
        }
      }
    }
    if (limit != 0) {
      closeLink("reply to \"" + replyCommand + "\" is longer than " + std::to_string(limit) + " bytes");
      return false;
    }
    completedReply = completed.has_value();
    if (completed) {
      completed->finish(std::exchange(reply_, {}));
      searched_ = 0;
    }
    reportDiscarded();
    return true;
  }

  // Line ends trailing a reply are expected from some nodes; anything else
  // that nobody asked for is reported.
  void countDiscarded(std::string_view bytes) {
    discarded_ += static_cast<std::size_t>(
        std::count_if(bytes.begin(), bytes.end(), [](char c) { return c != '\n' && c != '\r'; }));
  }

  void reportDiscarded() {
    if (discarded_ == 0) return;
    systemLog("Node link to " + host_ + ": discarded " + std::to_string(discarded_) +
              " bytes that arrived with no command outstanding");
    discarded_ = 0;
  }

  // Empties the socket of bytes nobody asked for, so they cannot be taken for
  // the reply of the command about to be sent. False once the link closed.
  bool discardStaleBytes() {
    std::array<char, TelnetController::kReadChunkBytes> buffer{};
    for (;;) {
      const detail::IoResult read = socket_.readSome(buffer.data(), buffer.size());
      if (read.outcome == IoOutcome::WouldBlock) break;
      if (read.outcome == IoOutcome::Failed) {
        closeLink("read failed: " + detail::describeErrno(read.error));
        return false;
      }
      if (read.outcome == IoOutcome::Closed) {
        closeLink({});
        return false;
      }
      countDiscarded(std::string_view(buffer.data(), read.bytes));
    }
    reportDiscarded();
    return true;
  }

  bool sendNextCommand() {
    {
      std::lock_guard lock(impl_.mutex);
      if (!impl_.isConnected || impl_.current || impl_.queue.empty() || impl_.generation != generation_) return true;
    }
    if (!discardStaleBytes()) return false;
    {
      std::lock_guard lock(impl_.mutex);
      if (!impl_.isConnected || impl_.current || impl_.queue.empty() || impl_.generation != generation_) return true;
      impl_.current = std::move(impl_.queue.front());
      impl_.queue.pop_front();
      output_.append(impl_.current->command->command()).append(kLineEnd);
    }
    reply_.clear();
    searched_ = 0;
    return flush();
  }

  // Writes what the kernel accepts now; the rest waits for POLLOUT. A failed
  // write closes the link instead of being retried.
  bool flush() {
    while (!output_.empty()) {
      const detail::IoResult written = socket_.writeSome(output_);
      if (written.outcome == IoOutcome::WouldBlock) return true;
      if (written.outcome != IoOutcome::Progress) {
        closeLink("write failed: " + detail::describeErrno(written.error));
        return false;
      }
      output_.erase(0, written.bytes);
    }
    return true;
  }

  // Offers the session for direct sends while it runs connected.
  class Registration {
   public:
    explicit Registration(LinkSession& session) : impl_(session.impl_) {
      std::lock_guard socket(impl_.socketMutex);
      impl_.session = &session;
    }
    ~Registration() {
      std::lock_guard socket(impl_.socketMutex);
      impl_.session = nullptr;
    }
    Registration(const Registration&) = delete;
    Registration& operator=(const Registration&) = delete;

   private:
    TelnetController::Impl& impl_;
  };

  TelnetController::Impl& impl_;
  const std::uint64_t generation_;
  const std::string host_;
  const int port_;
  const std::stop_token stop_;
  NodeSocket socket_;
  platform::FileDescriptor epoll_{::epoll_create1(EPOLL_CLOEXEC)};
  std::uint32_t armed_ = 0;       // guarded by impl_.socketMutex: the socket's epoll events
  bool readerIsCaller_ = false;   // guarded by impl_.socketMutex
  std::string output_;  // bytes of the outstanding command not yet written
  std::string reply_;   // bytes of the outstanding command's reply so far
  std::size_t searched_ = 0;  // bytes of reply_ already searched for its end
  std::size_t discarded_ = 0;
};

}  // namespace

void TelnetController::Impl::postDelegateCall(DelegateCall call) {
  platform::DispatchQueue::main().async([weak = weak_from_this(), call] {
    const auto impl = weak.lock();
    if (!impl) return;
    std::shared_ptr<TelnetControllerDelegate> target;
    {
      std::lock_guard lock(impl->mutex);
      target = impl->delegate.lock();
    }
    if (!target) return;
    switch (call) {
      case DelegateCall::DidOpen:
        target->nodeConnectionDidOpen(*impl->owner);
        break;
      case DelegateCall::DidClose:
        target->nodeConnectionDidClose(*impl->owner);
        break;
      case DelegateCall::DidNotOpen:
        target->nodeConnectionDidNotOpen(*impl->owner);
        break;
    }
  });
}

void TelnetController::Impl::postClosingStream() {
  platform::DispatchQueue::main().async([weak = weak_from_this()] {
    const auto impl = weak.lock();
    if (!impl) return;
    std::shared_ptr<TelnetControllerDelegate> target;
    {
      std::lock_guard lock(impl->mutex);
      target = impl->delegate.lock();
    }
    platform::Notification notification{kClosingStreamNotification, target.get(), {}, {}};
    if (target) notification.object = platform::Value(target->nodeUniqueID());
    platform::NotificationCenter::defaultCenter().post(notification);
  });
}

void TelnetController::Impl::postDidNotOpenNotification() {
  std::shared_ptr<TelnetControllerDelegate> target;
  {
    std::lock_guard lock(mutex);
    target = delegate.lock();
  }
  platform::Notification notification{kNodeConnectionDidNotOpenNotification, target.get(), {}, {}};
  if (target) notification.object = target;
  platform::NotificationCenter::defaultCenter().post(notification);
}

void TelnetController::Impl::start(const std::string& host, int port, const std::string& label, bool byService) {
  std::unique_ptr<platform::Thread> finished;
  bool busy = false;
  {
    std::lock_guard lock(mutex);
    busy = threadRunning;
    if (!busy) finished = std::move(thread);
  }
  if (busy) {
    if (!byService) postDidNotOpenNotification();
    return;
  }
  finished.reset();  // the previous link thread has ended: this join is immediate
  foundation::CVNLogController& log = foundation::CVNLogController::sharedLogController();
  log.logMessageWithLevel(0, false, byService ? "Starting connection with netservice %s" : "Starting connection with host %s",
                          label.c_str());
  if (host.empty() || port <= 0 || port > 65535) {
    log.logMessageWithLevel(0, false, byService ? "Failed to connected to netservice %s" : "Failed to connected to host %s",
                            label.c_str());
    if (!byService) postDidNotOpenNotification();
    return;
  }

  std::lock_guard lock(mutex);
  if (threadRunning) return;
  const std::uint64_t g = ++generation;
  linkOpen = true;
  isTryingToConnect = true;
  isConnected = false;
  outputStreamReady = false;
  threadRunning = true;
  nodeAddress = host;
  thread = std::make_unique<platform::Thread>("com.dirarovazovo.nodeLink",
                                              [this, g, host, port](std::stop_token stop) {
                                                LinkSession(*this, g, host, port, stop).run();
                                                std::lock_guard done(mutex);
                                                threadRunning = false;
                                              });
}

bool TelnetController::Impl::close(std::optional<std::uint64_t> onlyGeneration, bool notify) {
  std::optional<QueueEntry> outstanding;
  std::deque<QueueEntry> queued;
  {
    std::lock_guard lock(mutex);
    if (!linkOpen || (onlyGeneration && *onlyGeneration != generation)) return false;
    linkOpen = false;
    ++generation;
    isConnected = false;
    isTryingToConnect = false;
    outputStreamReady = false;
    outstanding = std::move(current);
    current.reset();
    queued.swap(queue);
    if (thread) thread->requestStop();
  }
  wakeup.signal();
  // Finished unanswered: nothing of this connection is answered by the next.
  // The queued ones first, so whoever sees the outstanding one finish sees
  // the whole connection finished.
  for (const QueueEntry& entry : queued) entry.abandon("The link closed");
  if (outstanding) outstanding->abandon("The link closed");
  if (notify) {
    postDelegateCall(DelegateCall::DidClose);
    postClosingStream();
  }
  return true;
}

std::optional<std::uint64_t> TelnetController::Impl::enqueue(const std::shared_ptr<TelnetCommand>& command,
                                                             ReplyReader reader) {
  if (platform::Status safe = checkCommandText(command->command()); !safe.ok()) {
    systemLog(safe.error().localizedDescription);
    command->abandon(safe.error().localizedDescription);
    return std::nullopt;
  }
  std::string refusal;
  std::uint64_t g = 0;
  bool onLinkThread = false;
  {
    std::lock_guard lock(mutex);
    g = generation;
    onLinkThread = thread && thread->isCurrent();
    if (!linkOpen) {
      refusal = "No link";
    } else if (auto same = std::find_if(queue.begin(), queue.end(),
                                        [&](const QueueEntry& e) { return e.command->command() == command->command(); });
               same != queue.end()) {
      same->followers.push_back(command);
      return g;
    } else if (queue.size() >= kMaxQueuedCommands) {
      refusal = "The command queue is full";
    } else {
      const auto priority = static_cast<std::uint32_t>(command->priority());
      auto before = std::find_if(queue.begin(), queue.end(), [&](const QueueEntry& e) {
        return static_cast<std::uint32_t>(e.command->priority()) < priority;
      });
      queue.insert(before, QueueEntry{command, {}});
    }
  }
  if (!refusal.empty()) {
    if (refusal != "No link") systemLog(refusal + ": \"" + commandWord(command->command()) + "\" not sent");
    command->abandon(refusal);
    return std::nullopt;
  }
  if (onLinkThread || !sendDirectly(reader)) wakeup.signal();
  return g;
}

bool TelnetController::Impl::sendDirectly(ReplyReader reader) {
  // Busy means the link thread is at the socket; it sends next after reading.
  std::unique_lock socket(socketMutex, std::try_to_lock);
  if (!socket.owns_lock() || session == nullptr) return false;
  return session->sendFromQueuingThread(reader);
}

bool TelnetController::Impl::readReplyDirectly(const TelnetCommand& command, platform::Clock::TimePoint deadline) {
  std::unique_lock socket(socketMutex);
  if (session == nullptr || !session->readerIsCaller()) return command.isFinished();
  LinkSession* const reading = session;
  const std::uint64_t readingGeneration = reading->generation();
  const int fd = reading->socketDescriptor();
  const auto stillReading = [&] {
    return session == reading && reading->generation() == readingGeneration && reading->readerIsCaller();
  };
  while (!command.isFinished() && platform::Clock::current().now() < deadline) {
    socket.unlock();
    // The descriptor stays open while the session is registered, which is
    // checked before every read; a close meanwhile only ends this wait early.
    pollfd readable{fd, POLLIN | POLLRDHUP, 0};
    const int ready = ::poll(&readable, 1, static_cast<int>(kDirectReplyWait.count()));
    socket.lock();
    if (!stillReading()) return command.isFinished();
    if (ready <= 0 || !reading->readDirectly()) break;
  }
  if (stillReading()) reading->setReaderIsCaller(false);
  const bool finished = command.isFinished();
  socket.unlock();
  if (!finished) wakeup.signal();  // the link thread reads the rest
  return finished;
}

TelnetController::TelnetController() : impl_(std::make_shared<Impl>(this)) {}

TelnetController::~TelnetController() {
  impl_->close(std::nullopt, false);
  std::unique_ptr<platform::Thread> thread;
  {
    std::lock_guard lock(impl_->mutex);
    thread = std::move(impl_->thread);
  }
  thread.reset();  // joins: the loop sees the close within one poll
}

void TelnetController::setDelegate(std::weak_ptr<TelnetControllerDelegate> delegate) {
  std::lock_guard lock(impl_->mutex);
  impl_->delegate = std::move(delegate);
}

std::weak_ptr<TelnetControllerDelegate> TelnetController::delegate() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->delegate;
}

void TelnetController::startConnectionWithHostAddress(const std::string& host, int port) {
  impl_->start(host, port, host, false);
}

void TelnetController::startConnectionWithNetService(const std::optional<ResolvedNetService>& service) {
  if (communicationsThreadIsRunning()) return;
  if (!service) {
    systemLog("Netservice is Nil");
    return;
  }
  impl_->start(service->hostAddress, service->port, service->name, true);
}

void TelnetController::stopConnection() { closeStreams(); }

void TelnetController::closeStreams() { impl_->close(std::nullopt, true); }

void TelnetController::processCommandSynchronously(const std::shared_ptr<TelnetCommand>& command) {
  if (!command) return;
  {
    std::lock_guard lock(impl_->mutex);
    if (impl_->thread && impl_->thread->isCurrent()) {
      // Waiting here would stop the very loop that brings the reply.
      command->abandon("Called on the link thread");
      return;
    }
    if (!impl_->linkOpen) {
      command->abandon("No link");
      return;
    }
  }
  platform::Clock& clock = platform::Clock::current();
  const auto deadline = clock.now() + kReplyTimeLimit;
  const std::optional<std::uint64_t> g = impl_->enqueue(command, ReplyReader::Caller);
  if (!g) return;
  if (impl_->readReplyDirectly(*command, deadline)) return;
  // A clock replaced meanwhile (tests) gives the wait the whole limit again.
  const auto remaining = &platform::Clock::current() == &clock ? deadline - clock.now() : kReplyTimeLimit;
  if (command->waitUntilFinished(std::max(remaining, platform::Clock::Duration::zero()))) return;
  systemLog("NSStreamEventEndEncountered because of a timeout");
  // Closing tells the delegate (once) and finishes the command unanswered.
  impl_->close(*g, true);
  command->abandon("No reply within " + std::to_string(kReplyTimeLimit.count()) + " s");
}

void TelnetController::addNewCommand(const std::shared_ptr<TelnetCommand>& command) {
  if (command) (void)impl_->enqueue(command, ReplyReader::LinkThread);
}

bool TelnetController::isConnected() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->isConnected;
}

bool TelnetController::isTryingToConnect() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->isTryingToConnect;
}

bool TelnetController::communicationsThreadIsRunning() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->threadRunning;
}

std::shared_ptr<TelnetCommand> TelnetController::currentTelnetCommand() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->current ? impl_->current->command : nullptr;
}

std::vector<std::shared_ptr<TelnetCommand>> TelnetController::telnetCommands() const {
  std::lock_guard lock(impl_->mutex);
  std::vector<std::shared_ptr<TelnetCommand>> commands;
  commands.reserve(impl_->queue.size());
  for (const QueueEntry& entry : impl_->queue) commands.push_back(entry.command);
  return commands;
}

std::optional<std::string> TelnetController::nodeAddress() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->nodeAddress;
}

platform::Status TelnetController::checkCommandText(std::string_view text) {
  const auto refuse = [&](std::string why) {
    return platform::Error(kTelnetControllerErrorDomain, TelnetControllerErrorCode::UnsafeCommandText,
                           // Only the command word: arguments may be a password.
                           "Command refused (" + why + "): \"" + commandWord(text) + "\"");
  };
  if (text.find('\0') != std::string_view::npos) return refuse("NUL byte");
  if (text.find(kLineEnd) != std::string_view::npos) return refuse("line end inside the text");
  // Line breaks may trail the last end tag of an embedded property list.
  std::size_t end = text.size();
  while (end > 0 && isLineEndOrBlank(text[end - 1])) --end;
  if (!text.substr(0, end).ends_with(kXMLEnd)) end = text.size();
  bool insideXML = false;
  for (std::size_t at = 0; at < end; ++at) {
    if (!insideXML && text.substr(at).starts_with(kXMLOpening)) insideXML = true;
    if (insideXML && text.substr(at).starts_with(kXMLEnd)) insideXML = false;
    const auto c = static_cast<unsigned char>(text[at]);
    if (c >= 0x20 && c != 0x7F) continue;
    if (c == '\t') continue;
    if (insideXML && (c == '\n' || c == '\r')) continue;
    return refuse("control character");
  }
  return platform::Status::success();
}

}  // namespace nodes
