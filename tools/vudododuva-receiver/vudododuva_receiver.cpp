// vudododuva-receiver: the reference receiver. Finds a server by name, opens
// its port, and writes one JSON line per frame: the frame message's keys, the
// SHA-256 of the picture (the whole memfd) and of the frame's audio, and the
// type and size of its caption record.
//
//   vudododuva-receiver --server NAME --frames N --out FILE
//       [--port NAME] [--stall-ms MS] [--never-answer] [--no-stop] [--wait-seconds S]
//
// --stall-ms waits before each answer, --never-answer never answers, --no-stop
// quits without "stopSending". Prints "listening <port>" once it has asked
// for frames. Exit status 0 when N frames came, 1 on a usage error, 2 otherwise.

#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <fstream>
#include <iostream>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include <nlohmann/json.hpp>

#include "engine/vudododuva/DistributedNotificationCenter.h"
#include "engine/vudododuva/FrameMessage.h"
#include "engine/vudododuva/PortMessages.h"
#include "engine/vudododuva/VudodoDuvaProtocol.h"

namespace vd = engine::vudododuva;

namespace {

struct Options {
  std::string server;
  std::string port = "receiver-" + std::to_string(::getpid());
  long frames = 0;
  std::string out;
  int stallMilliseconds = 0;
  bool neverAnswer = false;
  bool noStop = false;
  int waitSeconds = 10;
};

std::optional<Options> parse(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string flag = argv[i];
    auto next = [&]() -> std::optional<std::string> {
      if (i + 1 >= argc) return std::nullopt;
      return std::string(argv[++i]);
    };
    std::optional<std::string> value;
    if (flag == "--never-answer") options.neverAnswer = true;
    else if (flag == "--no-stop") options.noStop = true;
    else if (!(value = next())) return std::nullopt;
    else if (flag == "--server") options.server = *value;
    else if (flag == "--port") options.port = *value;
    else if (flag == "--out") options.out = *value;
    else if (flag == "--frames") options.frames = std::atol(value->c_str());
    else if (flag == "--stall-ms") options.stallMilliseconds = std::atoi(value->c_str());
    else if (flag == "--wait-seconds") options.waitSeconds = std::atoi(value->c_str());
    else return std::nullopt;
  }
  if (options.server.empty() || options.out.empty() || options.frames <= 0 || !vd::isValidPortName(options.port))
    return std::nullopt;
  return options;
}

// A read-only mapping of a whole file or memfd.
struct Mapping {
  const std::uint8_t* data = nullptr;
  std::size_t size = 0;
  static Mapping of(int fd) {
    Mapping mapping;
    struct stat status {};
    if (::fstat(fd, &status) != 0 || status.st_size <= 0) return mapping;
    void* data = ::mmap(nullptr, static_cast<std::size_t>(status.st_size), PROT_READ, MAP_SHARED, fd, 0);
    if (data == MAP_FAILED) return mapping;
    mapping.data = static_cast<const std::uint8_t*>(data);
    mapping.size = static_cast<std::size_t>(status.st_size);
    return mapping;
  }
  static Mapping ofPath(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return {};
    Mapping mapping = of(fd);
    ::close(fd);
    return mapping;
  }
};

std::int64_t integerOf(const platform::Dictionary& info, const char* key) {
  const auto found = info.find(key);
  return found == info.end() ? 0 : found->second.integer().value_or(0);
}

std::string stringOf(const platform::Dictionary& info, const char* key) {
  const auto found = info.find(key);
  return found == info.end() || !found->second.string() ? std::string() : *found->second.string();
}

int fail(const std::string& why) {
  std::cerr << "vudododuva-receiver: " << why << "\n";
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  const auto options = parse(argc, argv);
  if (!options) {
    std::cerr << "usage: vudododuva-receiver --server NAME --frames N --out FILE [--port NAME] [--stall-ms MS]"
                 " [--never-answer] [--no-stop] [--wait-seconds S]\n";
    return 1;
  }
  auto center = vd::DistributedNotificationCenter::connect();
  if (!center.ok()) return fail(center.error().describe());
  auto folder = vd::runtimeFolder();
  if (!folder.ok()) return fail(folder.error().describe());

  std::mutex mutex;
  std::optional<platform::Dictionary> serverInfo;  // guarded by mutex
  (*center)->addObserver(vd::kServerAnnouncementNotification,
                         [&](const std::string& object, const platform::Dictionary* info) {
                           std::lock_guard lock(mutex);
                           if (object == options->server && info) serverInfo = *info;
                         });
  (void)(*center)->post(vd::kPostServerAnnouncementNotification, options->port, nullptr, true);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(options->waitSeconds);
  auto announced = [&] {
    std::lock_guard lock(mutex);
    return serverInfo.has_value();
  };
  while (!announced() && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));  // a tool polling another process, not a test
  if (!announced()) return fail("no announcement from " + options->server);
  const platform::Dictionary info = [&] {
    std::lock_guard lock(mutex);
    return *serverInfo;
  }();

  const std::string socketPath = (*folder / (options->port + ".sock")).string();
  const int listener = vd::listenOnPort(socketPath);
  if (listener < 0) return fail("cannot listen on " + socketPath);
  const platform::Dictionary request{{vd::kServerNameKey, platform::Value(options->server)}};
  (void)(*center)->post(vd::kStartSendingNotification, options->port, &request, false);
  std::cout << "listening " << options->port << std::endl;

  pollfd waiting{listener, POLLIN, 0};
  if (::poll(&waiting, 1, options->waitSeconds * 1000) != 1) return fail("the server did not connect");
  const int connection = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
  ::close(listener);
  ::unlink(socketPath.c_str());
  if (connection < 0) return fail("accept failed");

  const Mapping audio = Mapping::ofPath(stringOf(info, vd::kMappedMemoryPathKey));
  const Mapping captions = Mapping::ofPath(stringOf(info, vd::kCCMappedMemoryPathKey));
  const std::size_t bytesPerAudioFrame = static_cast<std::size_t>(
      integerOf(info, vd::kNumberOfAudioChannelsKey) * integerOf(info, vd::kBitsPerAudioChannelKey) / 8);
  std::map<std::uint32_t, Mapping> pictures;
  std::ofstream out(options->out);
  long received = 0;
  while (received < options->frames) {
    pollfd readable{connection, POLLIN, 0};
    if (::poll(&readable, 1, options->waitSeconds * 1000) != 1) break;
    char buffer[vd::kMaxFrameMessageSize];
    std::optional<int> descriptor;
    const ssize_t length = vd::receivePortMessage(connection, buffer, &descriptor);
    if (length <= 0) break;
    auto message = vd::unarchiveFrameMessage(std::string_view(buffer, static_cast<std::size_t>(length)));
    if (!message.ok()) return fail(message.error().describe());
    if (descriptor) {
      pictures[message->number] = Mapping::of(*descriptor);
      ::close(*descriptor);
    }
    nlohmann::json line{{"number", message->number}, {"offset", message->offset},   {"samples", message->samples},
                        {"ccOffset", message->ccOffset}, {"vpts", message->vpts},     {"apts", message->apts},
                        {"timecode", message->timecode}};
    const Mapping& picture = pictures[message->number];
    line["pictureSHA256"] = picture.data ? vd::sha256Text({picture.data, picture.size}) : "";
    const std::size_t audioBytes = message->samples * bytesPerAudioFrame;
    if (audio.data && message->offset + audioBytes <= audio.size)
      line["audioSHA256"] = vd::sha256Text({audio.data + message->offset, audioBytes});
    if (message->ccOffset != vd::kNoCaptionOffset && captions.data &&
        message->ccOffset + vd::kCaptionRecordHeaderSize <= captions.size) {
      const std::uint8_t* record = captions.data + message->ccOffset;
      line["captionSize"] = (std::uint32_t{record[0]} << 24) | (record[1] << 16) | (record[2] << 8) | record[3];
      line["captionType"] = std::string(reinterpret_cast<const char*>(record + 4), 4);
    }
    out << line.dump() << "\n" << std::flush;
    ++received;
    if (options->neverAnswer) continue;
    if (options->stallMilliseconds > 0)
      std::this_thread::sleep_for(std::chrono::milliseconds(options->stallMilliseconds));
    const std::uint8_t answer = vd::kFrameAnswer;
    (void)::send(connection, &answer, 1, MSG_NOSIGNAL);
  }
  if (!options->noStop) (void)(*center)->post(vd::kStopSendingNotification, options->port, nullptr, true);
  ::close(connection);
  return received == options->frames ? 0 : fail("only " + std::to_string(received) + " frames came");
}
