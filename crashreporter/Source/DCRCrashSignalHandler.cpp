#include "crashreporter/Source/DCRCrashSignalHandler.h"

#include <sys/mman.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>

#include "crashreporter/Source/DCRCrashReporterError.h"

namespace crashreporter {

// Where dispatch goes on from: a node of the callback list.
struct DCRCrashSignalNext {
  const void* from;
};

namespace {

constexpr std::uint8_t kStackPattern = 0xA5;

struct Callback {
  DCRCrashSignalCallback callback;
  void* context;
};

struct PreviousAction {
  int signal;
  struct sigaction action;
};

// The lock-free-for-readers list both tables use.
template <typename Value>
struct AsyncList {
  struct Node {
    Value value;
    Node* prev = nullptr;
    std::atomic<Node*> next{nullptr};
  };
  std::atomic_flag lock = ATOMIC_FLAG_INIT;
  std::atomic<Node*> head{nullptr};
  Node* tail = nullptr;
  std::atomic<int> readers{0};
  Node* free = nullptr;

  void acquire() { while (lock.test_and_set(std::memory_order_acquire)) {} }
  void release() { lock.clear(std::memory_order_release); }

  Node* make(const Value& value) {
    Node* node = free;
    if (node != nullptr) free = node->next.load();
    else node = new Node;
    node->value = value;
    node->prev = nullptr;
    node->next.store(nullptr);
    std::atomic_thread_fence(std::memory_order_seq_cst);
    return node;
  }
  void append(const Value& value) {
    acquire();
    Node* node = make(value);
    if (tail != nullptr) {
      node->prev = tail;
      tail->next.store(node);
      tail = node;
    } else {
      tail = node;
      head.store(node);
    }
    release();
  }
  void prepend(const Value& value) {
    acquire();
    Node* node = make(value);
    Node* first = head.load();
    node->next.store(first);
    if (first != nullptr) first->prev = node;
    else tail = node;
    head.store(node);
    release();
  }
  void removeAll() {
    readers.fetch_add(1);
    acquire();
    for (Node* node = head.load(); node != nullptr;) {
      Node* next = node->next.load();
      node->next.store(free);
      node->prev = nullptr;
      free = node;  // a reader may stand on it: reused, never freed
      node = next;
    }
    head.store(nullptr);
    tail = nullptr;
    release();
    readers.fetch_sub(1);
  }
};

AsyncList<Callback>& callbacks() {
  static auto* list = new AsyncList<Callback>;  // read by signal handlers until the process ends
  return *list;
}
AsyncList<PreviousAction>& previousActions() {
  static auto* list = new AsyncList<PreviousAction>;
  return *list;
}

std::mutex registrationMutex;

// Faults the failing instruction raises again when the handler returns.
bool isSynchronousFault(int signal) {
  return signal == SIGSEGV || signal == SIGBUS || signal == SIGILL || signal == SIGFPE || signal == SIGTRAP;
}

bool dispatch(const void* from, int signal, siginfo_t* info, void* ucontext) {
  using Node = AsyncList<Callback>::Node;
  auto& list = callbacks();
  list.readers.fetch_add(1);
  const Node* entry = from == nullptr ? list.head.load() : static_cast<const Node*>(from)->next.load();
  bool handled = false;
  if (entry != nullptr) {
    const DCRCrashSignalNext next{entry};
    const bool hasNext = entry->next.load() != nullptr;
    handled = entry->value.callback(signal, info, ucontext, entry->value.context, hasNext ? &next : nullptr);
  }
  list.readers.fetch_sub(1);
  return handled;
}

void processHandler(int signal, siginfo_t* info, void* ucontext) {
  const int savedErrno = errno;
  if (!dispatch(nullptr, signal, info, ucontext)) {
    // Nobody handled it: the default action must end the process, never this handler again.
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    sigaction(signal, &fallback, nullptr);
    raise(signal);
  }
  errno = savedErrno;
}

// The last callback of every signal: hands the signal to what was installed before.
bool previousActionForwarder(int signal, siginfo_t* info, void* ucontext, void*, const DCRCrashSignalNext* next) {
  if (next != nullptr && DCRCrashSignalCallNext(next, signal, info, ucontext)) return true;
  return DCRCrashSignalHandler::callPreviousAction(signal, info, ucontext);
}

struct AlternateStack {
  void* base = nullptr;
};
thread_local AlternateStack currentAlternateStack;

}  // namespace

bool DCRCrashSignalHandler::callPreviousAction(int signal, siginfo_t* info, void* ucontext) {
  auto& list = previousActions();
  list.readers.fetch_add(1);
  const PreviousAction* found = nullptr;
  for (auto* node = list.head.load(); node != nullptr && found == nullptr; node = node->next.load()) {
    if (node->value.signal == signal) found = &node->value;
  }
  bool handled = false;
  if (found != nullptr) {
    const struct sigaction& action = found->action;
    if (action.sa_flags & SA_SIGINFO) {
      action.sa_sigaction(signal, info, ucontext);
      handled = true;
    } else if (action.sa_handler == SIG_IGN) {
      // Ignoring a fault would run the faulting instruction again for ever.
      handled = !isSynchronousFault(signal);
    } else if (action.sa_handler != SIG_DFL) {
      action.sa_handler(signal);
      handled = true;
    }
  }
  list.readers.fetch_sub(1);
  return handled;
}

bool DCRCrashSignalCallNext(const DCRCrashSignalNext* next, int signal, siginfo_t* info, void* ucontext) {
  if (next == nullptr) return false;
  return dispatch(next->from, signal, info, ucontext);
}

DCRCrashSignalHandler& DCRCrashSignalHandler::sharedHandler() {
  static DCRCrashSignalHandler handler;
  return handler;
}

bool DCRCrashSignalHandler::installAlternateStackOnCurrentThread() {
  if (currentAlternateStack.base != nullptr) return true;
  void* base = mmap(nullptr, kAlternateStackSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (base == MAP_FAILED) return false;
  std::memset(base, kStackPattern, kAlternateStackSize);
  stack_t stack{};
  stack.ss_sp = base;
  stack.ss_size = kAlternateStackSize;
  if (sigaltstack(&stack, nullptr) != 0) {
    munmap(base, kAlternateStackSize);
    return false;
  }
  currentAlternateStack.base = base;
  return true;
}

void DCRCrashSignalHandler::releaseAlternateStackOnCurrentThread() {
  if (currentAlternateStack.base == nullptr) return;
  stack_t disable{};
  disable.ss_flags = SS_DISABLE;
  sigaltstack(&disable, nullptr);
  munmap(currentAlternateStack.base, kAlternateStackSize);
  currentAlternateStack.base = nullptr;
}

std::size_t DCRCrashSignalHandler::alternateStackPeakUseOnCurrentThread() {
  const auto* bytes = static_cast<const std::uint8_t*>(currentAlternateStack.base);
  if (bytes == nullptr) return 0;
  std::size_t untouched = 0;  // the stack grows down from the top
  while (untouched < kAlternateStackSize && bytes[untouched] == kStackPattern) ++untouched;
  return kAlternateStackSize - untouched;
}

platform::Status DCRCrashSignalHandler::registerHandlerWithSignal(int signal) {
  std::lock_guard guard(registrationMutex);
  if (!installAlternateStackOnCurrentThread()) {
    platform::Dictionary info{{"NSUnderlyingError", platform::Value(std::string("POSIX ") + std::to_string(errno))}};
    return crashReporterError(DCRCrashReporterErrorCode::OperatingSystem, "Could not initialize alternative signal stack",
                              MessageText::AsIs, std::move(info));
  }
  callbacks().append(Callback{previousActionForwarder, nullptr});
  auto& previous = previousActions();
  for (auto* node = previous.head.load(); node != nullptr; node = node->next.load()) {
    if (node->value.signal == signal) return platform::Status::success();
  }
  struct sigaction action {};
  action.sa_sigaction = processHandler;
  action.sa_flags = SA_SIGINFO | SA_ONSTACK;
  sigemptyset(&action.sa_mask);
  PreviousAction entry{signal, {}};
  if (sigaction(signal, &action, &entry.action) != 0) {
    platform::Dictionary info{{"NSUnderlyingError", platform::Value(std::string("POSIX ") + std::to_string(errno))}};
    return crashReporterError(DCRCrashReporterErrorCode::OperatingSystem, "Failed to register signal handler",
                              MessageText::AsIs, std::move(info));
  }
  previous.append(entry);
  return platform::Status::success();
}

platform::Status DCRCrashSignalHandler::registerHandlerForSignal(int signal, DCRCrashSignalCallback callback,
                                                                 void* context) {
  platform::Status installed = registerHandlerWithSignal(signal);
  if (!installed) return installed;
  callbacks().prepend(Callback{callback, context});
  return platform::Status::success();
}

void DCRCrashSignalHandler::resetHandlers() {
  previousActions().removeAll();
  callbacks().removeAll();
}

}  // namespace crashreporter
