#include "tests/control/SocketTestSupport.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "control/sockets/CVNSocketTrust.h"
#include "platform/StrandQueue.h"

extern "C" int __real_close(int fd);
extern "C" int __wrap_close(int fd) {
  auto& record = control_testing::closeRecord();
  record.closes++;
  if (::fcntl(fd, F_GETFD) < 0 && errno == EBADF) record.badCloses++;
  return __real_close(fd);
}

namespace control_testing {

using namespace std::chrono_literals;

CloseRecord& closeRecord() {
  static CloseRecord record;
  return record;
}

void RecordingDelegate::record(std::string event) {
  {
    std::lock_guard guard(mutex_);
    events_.push_back(std::move(event));
  }
  changed_.notify_all();
}

void RecordingDelegate::socketDidAcceptNewSocket(const std::shared_ptr<CVNSocket>&,
                                                 const std::shared_ptr<CVNSocket>& newSocket) {
  {
    std::lock_guard guard(mutex_);
    accepted_.push_back(newSocket);
  }
  if (acceptTLS) newSocket->startTLS(*acceptTLS);
  if (echo) newSocket->readDataWithTimeout(-1, 0);
  record("accept");
}

void RecordingDelegate::socketDidSecure(const std::shared_ptr<CVNSocket>&) { record("secure"); }

void RecordingDelegate::socketDidReceiveTrust(const std::shared_ptr<CVNSocket>&,
                                              const std::shared_ptr<control::CVNSocketTrust>& trust,
                                              std::function<void(bool)> completion) {
  record(std::string("trust ") + (trust->verified() ? "verified" : "unverified"));
  completion(*trustAnswer);
  completion(!*trustAnswer);  // a second answer is ignored
}

void RecordingDelegate::socketDidConnectToHost(const std::shared_ptr<CVNSocket>&, const std::string& host,
                                               std::uint16_t port) {
  record("connect " + host + " " + std::to_string(port));
}

void RecordingDelegate::socketDidConnectToUrl(const std::shared_ptr<CVNSocket>&, const std::filesystem::path& url) {
  record("connect url " + url.string());
}

void RecordingDelegate::socketDidReadData(const std::shared_ptr<CVNSocket>& socket, const control::CVNSocketData& data,
                                          std::int64_t tag) {
  if (echo) {
    socket->writeData(std::make_shared<const Bytes>(data.copy()), -1, 0);
    socket->readDataWithTimeout(-1, 0);
    return;
  }
  record("read " + std::to_string(tag) + " " + std::string(data.view()));
}

void RecordingDelegate::socketDidReadPartialDataOfLength(const std::shared_ptr<CVNSocket>&, std::size_t length,
                                                         std::int64_t tag) {
  record("partial " + std::to_string(tag) + " " + std::to_string(length));
}

std::optional<double> RecordingDelegate::socketShouldTimeoutReadWithTag(const std::shared_ptr<CVNSocket>&,
                                                                        std::int64_t tag, double elapsed,
                                                                        std::size_t bytesDone) {
  double answer = 0;
  {
    std::lock_guard guard(mutex_);
    if (!readExtensions.empty()) {
      answer = readExtensions.front();
      readExtensions.pop_front();
    }
  }
  record("timeout? " + std::to_string(tag) + " elapsed " + std::to_string(static_cast<int>(elapsed)) + " done " +
         std::to_string(bytesDone));
  return answer;
}

void RecordingDelegate::socketDidWriteDataWithTag(const std::shared_ptr<CVNSocket>&, std::int64_t tag) {
  if (echo) return;
  record("wrote " + std::to_string(tag));
}

void RecordingDelegate::socketDidCloseReadStream(const std::shared_ptr<CVNSocket>&) { record("read stream closed"); }

void RecordingDelegate::socketDidDisconnect(const std::shared_ptr<CVNSocket>&, const std::optional<platform::Error>& error) {
  {
    std::lock_guard guard(mutex_);
    disconnectError_ = error;
  }
  record(error ? "disconnect " + error->domain + " " + std::to_string(error->code) : std::string("disconnect"));
}

std::vector<std::string> RecordingDelegate::events() const {
  std::lock_guard guard(mutex_);
  return events_;
}

std::size_t RecordingDelegate::count(const std::string& prefix) const {
  std::lock_guard guard(mutex_);
  std::size_t n = 0;
  for (const auto& e : events_) n += e.rfind(prefix, 0) == 0;
  return n;
}

bool RecordingDelegate::has(const std::string& prefix) const { return count(prefix) > 0; }

bool RecordingDelegate::waitFor(const std::string& prefix, std::size_t occurrences) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, 30s, [&] {
    std::size_t n = 0;
    for (const auto& e : events_) n += e.rfind(prefix, 0) == 0;
    return n >= occurrences;
  });
}

std::optional<platform::Error> RecordingDelegate::disconnectError() const {
  std::lock_guard guard(mutex_);
  return disconnectError_;
}

std::vector<std::shared_ptr<CVNSocket>> RecordingDelegate::acceptedSockets() const {
  std::lock_guard guard(mutex_);
  return accepted_;
}

platform::Result<std::vector<Bytes>> ScriptedResolver::resolve(const std::string&, std::uint16_t) {
  calls_++;
  std::unique_lock lock(mutex_);
  if (blocking_) changed_.wait_for(lock, 10s, [&] { return released_; });
  answered_ = true;
  changed_.notify_all();
  return addresses_;
}

void ScriptedResolver::release() {
  std::lock_guard guard(mutex_);
  released_ = true;
  changed_.notify_all();
}

bool ScriptedResolver::waitUntilAnswered() const {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, 10s, [&] { return answered_; });
}

std::shared_ptr<platform::DispatchQueue> makeDelegateQueue() {
  return std::make_shared<platform::SerialQueue>("test.socket.delegate");
}

SocketPair::~SocketPair() {
  if (socket) socket->disconnect();
  if (peer >= 0) ::close(peer);
}

SocketPair makeSocketPair(const std::shared_ptr<RecordingDelegate>& delegate,
                          const std::shared_ptr<platform::DispatchQueue>& queue) {
  int fds[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) return {};
  SocketPair pair;
  auto socket = CVNSocket::socketFromConnectedSocketFD(fds[0], delegate, queue);
  if (!socket) {
    ::close(fds[0]);
    ::close(fds[1]);
    return {};
  }
  pair.socket = *socket;
  pair.peer = fds[1];
  return pair;
}

void writeAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t n = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (n <= 0) return;
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
}

std::string readExactly(int fd, std::size_t count) {
  std::string result;
  while (result.size() < count) {
    pollfd pfd{fd, POLLIN, 0};
    if (::poll(&pfd, 1, 10000) <= 0) break;
    char buffer[65536];
    ssize_t n = ::read(fd, buffer, std::min(sizeof buffer, count - result.size()));
    if (n <= 0) break;
    result.append(buffer, static_cast<std::size_t>(n));
  }
  return result;
}

void flushSocketQueue(CVNSocket& socket) {
  socket.performBlock([] {});
}

}  // namespace control_testing
