#include "platform/Reactor.h"

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <optional>
#include <unordered_map>

#include "platform/Diagnostics.h"
#include "platform/DispatchQueue.h"
#include "platform/Thread.h"

namespace platform {

struct IoSource::State {
  int fd = -1;
  Kind kind = Kind::Read;
  std::shared_ptr<DispatchQueue> queue;
  EventHandler onEvent;
  CancelHandler onCancel;
  // Guarded by the reactor's mutex:
  bool resumed = false;
  bool inFlight = false;  // an event task is queued or running
  bool cancelled = false;
};

namespace {

// One registration per descriptor; the read and write sources share it and
// the armed events are the union of theirs.
struct Registration {
  std::uint32_t generation = 0;
  std::uint32_t armedEvents = 0;  // what epoll currently watches
  bool inEpoll = false;            // hang-ups are reported even for no events, so idle means removed
  std::shared_ptr<IoSource::State> read;
  std::shared_ptr<IoSource::State> write;
};

class Reactor {
 public:
  // Never destroyed, like the global queues: their tasks may still create,
  // arm and cancel sources while the process exits.
  static Reactor& shared() {
    static Reactor& reactor = *new Reactor;
    return reactor;
  }

  bool add(const std::shared_ptr<IoSource::State>& source) {
    std::lock_guard guard(mutex_);
    auto [it, inserted] = registrations_.try_emplace(source->fd);
    Registration& reg = it->second;
    auto& slot = source->kind == IoSource::Kind::Read ? reg.read : reg.write;
    if (slot) {
      reportDiagnostic(DiagnosticLevel::Error, "Reactor: descriptor " + std::to_string(source->fd) +
                                                   " already has a source of that kind");
      return false;
    }
    if (inserted) reg.generation = nextGeneration_++;
    slot = source;
    return true;
  }

  // Runs `change` on the source's flags and updates epoll to match.
  template <typename Change>
  void update(const std::shared_ptr<IoSource::State>& source, Change&& change) {
    std::lock_guard guard(mutex_);
    change(*source);
    auto it = registrations_.find(source->fd);
    if (it == registrations_.end()) return;
    Registration& reg = it->second;
    if (source->cancelled) {
      auto& slot = source->kind == IoSource::Kind::Read ? reg.read : reg.write;
      if (slot == source) slot.reset();
      if (!reg.read && !reg.write) {
        if (reg.inEpoll) ::epoll_ctl(epoll_, EPOLL_CTL_DEL, source->fd, nullptr);
        registrations_.erase(it);
        return;
      }
    }
    rearmLocked(source->fd, reg);
  }

  void eventDone(const std::shared_ptr<IoSource::State>& source) {
    update(source, [](IoSource::State& s) { s.inFlight = false; });
  }

 private:
  Reactor() {
    epoll_ = ::epoll_create1(EPOLL_CLOEXEC);
    wake_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.u64 = kWakeKey;
    ::epoll_ctl(epoll_, EPOLL_CTL_ADD, wake_, &event);
    thread_ = std::make_unique<Thread>("platform.reactor", [this](std::stop_token stop) { run(stop); });
  }

  static constexpr std::uint64_t kWakeKey = ~std::uint64_t{0};
  static std::uint64_t key(int fd, std::uint32_t generation) {
    return (std::uint64_t{generation} << 32) | static_cast<std::uint32_t>(fd);
  }

  static bool armed(const std::shared_ptr<IoSource::State>& s) { return s && s->resumed && !s->inFlight && !s->cancelled; }

  void rearmLocked(int fd, Registration& reg) {
    std::uint32_t events = 0;
    if (armed(reg.read)) events |= EPOLLIN | EPOLLRDHUP;
    if (armed(reg.write)) events |= EPOLLOUT;
    if (events == reg.armedEvents && (events != 0) == reg.inEpoll) return;
    if (events == 0) {
      ::epoll_ctl(epoll_, EPOLL_CTL_DEL, fd, nullptr);
      reg.inEpoll = false;
      reg.armedEvents = 0;
      return;
    }
    epoll_event event{};
    event.events = events;
    event.data.u64 = key(fd, reg.generation);
    if (::epoll_ctl(epoll_, reg.inEpoll ? EPOLL_CTL_MOD : EPOLL_CTL_ADD, fd, &event) == 0) {
      reg.inEpoll = true;
      reg.armedEvents = events;
    } else {
      reportDiagnostic(DiagnosticLevel::Error, "Reactor: epoll_ctl on descriptor " + std::to_string(fd) +
                                                   " failed: " + std::strerror(errno));
    }
  }

  void run(const std::stop_token& stop) {
    constexpr int kMaxEvents = 64;
    epoll_event events[kMaxEvents];
    while (!stop.stop_requested()) {
      int count = ::epoll_wait(epoll_, events, kMaxEvents, 1000);
      if (count < 0 && errno != EINTR) {
        reportDiagnostic(DiagnosticLevel::Error, std::string("Reactor: epoll_wait failed: ") + std::strerror(errno));
        return;
      }
      for (int i = 0; i < count; ++i) {
        if (events[i].data.u64 == kWakeKey) {
          std::uint64_t value;
          [[maybe_unused]] ssize_t n = ::read(wake_, &value, sizeof value);
          continue;
        }
        dispatch(events[i]);
      }
    }
  }

  void dispatch(const epoll_event& event) {
    const int fd = static_cast<int>(event.data.u64 & 0xffffffffu);
    const auto generation = static_cast<std::uint32_t>(event.data.u64 >> 32);
    std::shared_ptr<IoSource::State> fired[2];
    {
      std::lock_guard guard(mutex_);
      auto it = registrations_.find(fd);
      if (it == registrations_.end() || it->second.generation != generation) return;
      Registration& reg = it->second;
      const bool failed = event.events & (EPOLLERR | EPOLLHUP);
      if (armed(reg.read) && (failed || (event.events & (EPOLLIN | EPOLLRDHUP)))) fired[0] = reg.read;
      if (armed(reg.write) && (failed || (event.events & EPOLLOUT))) fired[1] = reg.write;
      for (auto& s : fired)
        if (s) s->inFlight = true;
      rearmLocked(fd, reg);
    }
    for (auto& s : fired) {
      if (!s) continue;
      std::weak_ptr<IoSource::State> weak = s;
      bool queued = s->queue->async([weak] {
        auto source = weak.lock();
        if (!source) return;
        bool run;
        {
          std::lock_guard guard(shared().mutex_);
          run = !source->cancelled && source->resumed;
        }
        std::size_t available = 0;
        if (run && source->kind == IoSource::Kind::Read) {
          const std::optional<std::size_t> ready = bytesReady(source->fd);
          // The bytes that made it ready were read meanwhile (by a read the
          // owner started on the queue): not an end of stream, just re-arm.
          if (ready) {
            available = *ready;
          } else {
            run = false;
          }
        }
        if (run) source->onEvent(available);
        shared().eventDone(source);
      });
      if (!queued) eventDone(s);
    }
  }

  // FIONREAD, with its 0 confirmed as an end of stream; nullopt when nothing is
  // ready at all. Descriptors that cannot say (listeners, non-sockets) give 0.
  static std::optional<std::size_t> bytesReady(int fd) {
    int pending = 0;
    if (::ioctl(fd, FIONREAD, &pending) == 0 && pending > 0) return static_cast<std::size_t>(pending);
    char byte;
    const ssize_t peeked = ::recv(fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    if (peeked < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return std::nullopt;
    if (peeked > 0 && ::ioctl(fd, FIONREAD, &pending) == 0 && pending > 0) return static_cast<std::size_t>(pending);
    return 0;
  }

  std::mutex mutex_;
  std::unordered_map<int, Registration> registrations_;  // guarded by mutex_
  std::uint32_t nextGeneration_ = 1;                      // guarded by mutex_
  int epoll_ = -1;
  int wake_ = -1;
  std::unique_ptr<Thread> thread_;  // last: it uses everything above

  friend class platform::IoSource;
};

}  // namespace

std::shared_ptr<IoSource> IoSource::create(int fd, Kind kind, std::shared_ptr<DispatchQueue> queue,
                                           EventHandler onEvent, CancelHandler onCancel) {
  auto state = std::make_shared<State>();
  state->fd = fd;
  state->kind = kind;
  state->queue = std::move(queue);
  state->onEvent = std::move(onEvent);
  state->onCancel = std::move(onCancel);
  if (!Reactor::shared().add(state)) return nullptr;
  return std::shared_ptr<IoSource>(new IoSource(std::move(state)));
}

IoSource::~IoSource() { cancel(); }

void IoSource::resume() {
  Reactor::shared().update(state_, [](State& s) { s.resumed = true; });
}

void IoSource::suspend() {
  Reactor::shared().update(state_, [](State& s) { s.resumed = false; });
}

void IoSource::cancel() {
  bool first = false;
  Reactor::shared().update(state_, [&](State& s) {
    first = !s.cancelled;
    s.cancelled = true;
  });
  if (!first) return;
  // After the event tasks already queued (FIFO on the source's queue).
  auto state = state_;
  state->queue->async([state] {
    if (state->onCancel) state->onCancel();
    state->onCancel = nullptr;
    state->onEvent = nullptr;
  });
}

bool IoSource::isCancelled() const {
  std::lock_guard guard(Reactor::shared().mutex_);
  return state_->cancelled;
}

int IoSource::descriptor() const { return state_->fd; }

IoSource::Kind IoSource::kind() const { return state_->kind; }

}  // namespace platform
