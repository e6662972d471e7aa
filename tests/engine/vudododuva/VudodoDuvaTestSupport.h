#pragma once
// What the VudodoDuva tests share: a private session bus (a dbus-daemon on a
// socket in a temporary folder, no TCP) with XDG_RUNTIME_DIR pointed at that
// folder; a receiver written in the test (listens, asks for frames, reads
// them, answers or not); frames with a memfd picture, a 1 kHz sine and
// optional captions.

#include <sys/socket.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/vudododuva/CVNVudodoDuvaOutput.h"
#include "engine/vudododuva/DistributedNotificationCenter.h"
#include "engine/vudododuva/FrameMessage.h"
#include "platform/media/PixelBuffer.h"
#include "platform/media/SampleBuffer.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TemporaryDirectory.h"

namespace vudododuva_test {

// Started once per test; the environment is restored at destruction.
class PrivateSessionBus {
 public:
  // nullptr and a reason when dbus-daemon cannot run here.
  static std::unique_ptr<PrivateSessionBus> start(std::string* skipReason);
  ~PrivateSessionBus();

  const std::filesystem::path& runtimeFolder() const { return runtime_; }
  testing_support::ChildProcess::Environment environment() const;

 private:
  PrivateSessionBus() = default;
  testing_support::TemporaryDirectory folder_;
  std::filesystem::path runtime_;
  std::string address_;
  std::unique_ptr<testing_support::ChildProcess> daemon_;
  std::optional<std::string> previousAddress_;
  std::optional<std::string> previousRuntime_;
};

// A receiver in the test process: its own bus connection and listening socket.
class TestReceiver {
 public:
  explicit TestReceiver(std::string portName);
  ~TestReceiver();

  const std::string& portName() const { return portName_; }
  // Posts "startSending" for `serverName` and, when the server connects,
  // takes the connection (bounded real-time wait).
  bool connectTo(const std::string& serverName, const std::optional<platform::Dictionary>& userInfo = std::nullopt);
  void postStartSending(const platform::Dictionary* userInfo);
  void postStopSending();
  // One frame message, if one comes within a moment.
  std::optional<engine::vudododuva::FrameMessage> receive(bool* carriedDescriptor = nullptr);
  void answer();
  // False once the server has closed the connection.
  bool sendRaw(const std::string& bytes);
  void closeConnection();

 private:
  std::string portName_;
  std::filesystem::path socketPath_;
  std::unique_ptr<engine::vudododuva::DistributedNotificationCenter> center_;
  int listener_ = -1;
  int connection_ = -1;
};

struct TestFrame {
  std::shared_ptr<platform::media::PixelBuffer> picture;
  std::vector<std::int16_t> audio;  // interleaved stereo
  std::size_t audioFrames = 0;
};

inline constexpr std::size_t kAudioFramesPerVideoFrame = 960;  // 48 kHz at 50 frames a second

// A shareable '2vuy' picture filled from `seed`, and `audioFrames` of a 1 kHz
// stereo sine starting at sample `firstSample`.
TestFrame makeFrame(int seed, std::int64_t firstSample, std::size_t audioFrames = kAudioFramesPerVideoFrame);
// A 'c608' or other caption sample of `size` bytes.
platform::media::SampleBufferRef captionSample(std::uint32_t subType, std::size_t size);
// The output with the test's display mode (50 frames a second, frame duration 1000 at 50000) and stereo 16-bit audio.
std::shared_ptr<engine::vudododuva::CVNVudodoDuvaOutput> makeOutput(const std::string& name);
void send(engine::vudododuva::CVNVudodoDuvaOutput& output, const TestFrame& frame,
          const platform::media::SampleBufferRef& captions = nullptr);

}  // namespace vudododuva_test
