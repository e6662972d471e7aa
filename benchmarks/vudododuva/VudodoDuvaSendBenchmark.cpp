// Send cost of one 1080p50 frame through the VudodoDuva output to 1, 2 and 4
// receivers (sendFrame until every receiver has answered), against a bare
// SEQPACKET round trip of a message of the same size carrying one descriptor.
// The counter "ratioToBare" is each side's time over the bare round trip's,
// measured in the same run (the bare benchmark runs first).

#include <benchmark/benchmark.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "engine/vudododuva/CVNVudodoDuvaOutput.h"
#include "engine/vudododuva/FrameMessage.h"
#include "engine/vudododuva/PortMessages.h"
#include "engine/vudododuva/VudodoDuvaProtocol.h"
#include "platform/media/PixelBufferPool.h"
#include "platform/media/PixelFormat.h"
#include "pluginframework/CVNDisplayMode.h"

namespace {

namespace vd = engine::vudododuva;

// Seconds per bare round trip, set by the first benchmark.
double bareRoundTripSeconds = 0;

// Receives messages (closing any descriptor) and answers each with one byte
// until the peer goes; counts the answers.
class Answerer {
 public:
  Answerer(int socket, std::atomic<std::uint64_t>& answers)
      : socket_(socket), thread_([this, &answers](std::stop_token) {
          char buffer[vd::kMaxFrameMessageSize];
          for (;;) {
            std::optional<int> descriptor;
            if (vd::receivePortMessage(socket_, buffer, &descriptor) <= 0) return;
            if (descriptor) ::close(*descriptor);
            const std::uint8_t answer = vd::kFrameAnswer;
            if (::send(socket_, &answer, 1, MSG_NOSIGNAL) != 1) return;
            answers.fetch_add(1);
          }
        }) {}
  ~Answerer() {
    ::shutdown(socket_, SHUT_RDWR);
    thread_.join();
    ::close(socket_);
  }

 private:
  int socket_;
  std::jthread thread_;
};

void waitFor(const std::atomic<std::uint64_t>& counter, std::uint64_t target) {
  while (counter.load() < target) std::this_thread::yield();
}

std::shared_ptr<platform::media::PixelBufferPool> pictures() {
  platform::media::PixelBufferPoolAttributes attributes;
  attributes.pixelFormat = platform::media::kPixelFormat422YpCbCr8;
  attributes.width = 1920;
  attributes.height = 1080;
  attributes.shareable = true;
  std::shared_ptr<platform::media::PixelBufferPool> pool;
  platform::media::PixelBufferPool::create(attributes, &pool);
  return pool;
}

void BM_BareSeqpacketRoundTrip(benchmark::State& state) {
  int pair[2];
  ::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair);
  std::atomic<std::uint64_t> answers{0};
  Answerer peer(pair[1], answers);
  vd::FrameMessage sample;
  sample.ccOffset = vd::kNoCaptionOffset;
  const std::string message = *vd::archivedFrameMessage(sample);
  const int surface = ::memfd_create("frame", MFD_CLOEXEC);
  ::ftruncate(surface, 1920 * 1080 * 2);
  char answer;
  const auto start = std::chrono::steady_clock::now();
  for (auto _ : state) {
    vd::sendPortMessage(pair[0], message, surface, 0);
    ::recv(pair[0], &answer, 1, 0);
  }
  bareRoundTripSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() /
                         static_cast<double>(state.iterations());
  ::shutdown(pair[0], SHUT_RDWR);
  ::close(surface);
  state.counters["messageBytes"] = static_cast<double>(message.size());
  state.counters["perFrame"] = benchmark::Counter(static_cast<double>(state.iterations()),
                                                  benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// A folder for the ports and files, and no bus: the benchmark connects its
// receivers through the handler the notification would reach.
void prepareEnvironment() {
  static const std::filesystem::path folder = [] {
    char pattern[] = "/tmp/vz-vudododuva-bench-XXXXXX";
    std::filesystem::path made = ::mkdtemp(pattern);
    ::setenv("XDG_RUNTIME_DIR", made.c_str(), 1);
    ::setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + (made / "no-bus").string()).c_str(), 1);
    return made;
  }();
  (void)folder;
}

void BM_SendFrame(benchmark::State& state) {
  prepareEnvironment();
  const auto receivers = static_cast<std::size_t>(state.range(0));
  auto output = vd::CVNVudodoDuvaOutput::create("bench");
  output->setSelectedDisplayMode(std::make_shared<pluginframework::CVNDisplayMode>(
      "1080p50", 1000, 50000, 1920, 1080, pluginframework::FieldDominance::Progressive));
  output->setBufferFormat(platform::media::kPixelFormat422YpCbCr8);
  output->startPlayback(nullptr);
  const std::filesystem::path folder = *vd::openPrivateFolder();

  std::atomic<std::uint64_t> answers{0};
  std::vector<std::unique_ptr<Answerer>> answerers;
  for (std::size_t i = 0; i < receivers; ++i) {
    const std::string name = "bench-" + std::to_string(i);
    const std::string path = (folder / (name + ".sock")).string();
    const int listener = vd::listenOnPort(path);
    const platform::Dictionary request{{vd::kServerNameKey, platform::Value("bench")}};
    output->machMessageQueue().sync([&] { output->startSending(name, &request); }, std::chrono::seconds(2));
    pollfd waiting{listener, POLLIN, 0};
    ::poll(&waiting, 1, 2000);
    answerers.push_back(std::make_unique<Answerer>(::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC), answers));
    ::close(listener);
    ::unlink(path.c_str());
  }

  auto pool = pictures();
  std::vector<std::int16_t> audio(960 * 2);
  std::uint64_t expected = 0;
  auto sendOne = [&] {
    std::shared_ptr<platform::media::PixelBuffer> picture;
    pool->createPixelBuffer(&picture);
    output->sendFrame(picture, reinterpret_cast<const std::uint8_t*>(audio.data()), 960, nullptr, nullptr, {}, {});
    expected += receivers;
    waitFor(answers, expected);
  };
  // Warm-up: the pool's buffers and their descriptors have reached every receiver.
  for (int i = 0; i < 16; ++i) sendOne();
  const auto start = std::chrono::steady_clock::now();
  for (auto _ : state) sendOne();
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() /
                         static_cast<double>(state.iterations());
  if (bareRoundTripSeconds > 0) state.counters["ratioToBare"] = seconds / bareRoundTripSeconds;
  output->stopPlayback();
  answerers.clear();
  state.counters["perFrame"] = benchmark::Counter(static_cast<double>(state.iterations()),
                                                  benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

BENCHMARK(BM_BareSeqpacketRoundTrip)->UseRealTime();
BENCHMARK(BM_SendFrame)->Arg(1)->Arg(2)->Arg(4)->UseRealTime();

}  // namespace
