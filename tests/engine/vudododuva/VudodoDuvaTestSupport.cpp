#include "tests/engine/vudododuva/VudodoDuvaTestSupport.h"

#include <poll.h>
#include <sys/stat.h>
#include <fcntl.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "engine/vudododuva/PortMessages.h"
#include "engine/vudododuva/VudodoDuvaProtocol.h"
#include "platform/media/BlockBuffer.h"
#include "platform/media/FormatDescription.h"
#include "platform/media/PixelFormat.h"
#include "pluginframework/CVNDisplayMode.h"
#include "tests/support/RunLoopWait.h"

namespace vudododuva_test {
namespace {

namespace vd = engine::vudododuva;
inline constexpr int kReceiveLimitMilliseconds = 5000;

std::optional<std::string> environmentValue(const char* name) {
  const char* value = std::getenv(name);
  return value ? std::optional<std::string>(value) : std::nullopt;
}

void restore(const char* name, const std::optional<std::string>& value) {
  if (value)
    ::setenv(name, value->c_str(), 1);
  else
    ::unsetenv(name);
}

}  // namespace

std::unique_ptr<PrivateSessionBus> PrivateSessionBus::start(std::string* skipReason) {
  const char* program = "/usr/bin/dbus-daemon";
  if (::access(program, X_OK) != 0) {
    *skipReason = "dbus-daemon is not installed";
    return nullptr;
  }
  auto bus = std::unique_ptr<PrivateSessionBus>(new PrivateSessionBus());
  const std::filesystem::path socket = bus->folder_ / "bus.socket";
  // A session bus on one Unix socket: no TCP, no activation, only our user.
  std::ofstream(bus->folder_ / "bus.conf")
      << "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
         " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
         "<busconfig>\n  <type>session</type>\n  <listen>unix:path="
      << socket.string()
      << "</listen>\n  <auth>EXTERNAL</auth>\n  <policy context=\"default\">\n"
         "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n    <allow eavesdrop=\"true\"/>\n"
         "    <allow own=\"*\"/>\n    <allow user=\"*\"/>\n  </policy>\n</busconfig>\n";
  std::string error;
  bus->daemon_ = testing_support::ChildProcess::start(
      {program, "--config-file=" + (bus->folder_ / "bus.conf").string(), "--nofork", "--print-address"}, {}, &error);
  if (!bus->daemon_ || !bus->daemon_->waitForOutput("unix:", false, std::chrono::seconds(15))) {
    *skipReason = "the private session bus did not start: " + (bus->daemon_ ? bus->daemon_->standardError() : error);
    return nullptr;
  }
  bus->address_ = "unix:path=" + socket.string();
  bus->runtime_ = bus->folder_ / "run";
  std::filesystem::create_directory(bus->runtime_);
  ::chmod(bus->runtime_.c_str(), 0700);
  bus->previousAddress_ = environmentValue("DBUS_SESSION_BUS_ADDRESS");
  bus->previousRuntime_ = environmentValue("XDG_RUNTIME_DIR");
  ::setenv("DBUS_SESSION_BUS_ADDRESS", bus->address_.c_str(), 1);
  ::setenv("XDG_RUNTIME_DIR", bus->runtime_.c_str(), 1);
  return bus;
}

PrivateSessionBus::~PrivateSessionBus() {
  restore("DBUS_SESSION_BUS_ADDRESS", previousAddress_);
  restore("XDG_RUNTIME_DIR", previousRuntime_);
  if (daemon_) daemon_->stop();
}

testing_support::ChildProcess::Environment PrivateSessionBus::environment() const {
  return {{"DBUS_SESSION_BUS_ADDRESS", address_}, {"XDG_RUNTIME_DIR", runtime_.string()}};
}

TestReceiver::TestReceiver(std::string portName) : portName_(std::move(portName)) {
  auto center = vd::DistributedNotificationCenter::connect();
  EXPECT_TRUE(center.ok()) << (center.ok() ? "" : center.error().describe());
  if (center.ok()) center_ = std::move(*center);
  auto folder = vd::openPrivateFolder();
  EXPECT_TRUE(folder.ok());
  if (!folder.ok()) return;
  socketPath_ = *folder / (portName_ + ".sock");
  const std::string path = socketPath_.string();
  listener_ = vd::listenOnPort(path);
  EXPECT_GE(listener_, 0) << path;
  if (listener_ >= 0) ::fcntl(listener_, F_SETFL, O_NONBLOCK);
}

TestReceiver::~TestReceiver() {
  closeConnection();
  if (listener_ >= 0) ::close(listener_);
  if (!socketPath_.empty()) ::unlink(socketPath_.c_str());
}

void TestReceiver::postStartSending(const platform::Dictionary* userInfo) {
  ASSERT_TRUE(center_);
  EXPECT_TRUE(center_->post(vd::kStartSendingNotification, portName_, userInfo, true).ok());
}

void TestReceiver::postStopSending() {
  ASSERT_TRUE(center_);
  EXPECT_TRUE(center_->post(vd::kStopSendingNotification, portName_, nullptr, true).ok());
}

bool TestReceiver::connectTo(const std::string& serverName, const std::optional<platform::Dictionary>& userInfo) {
  const platform::Dictionary request = userInfo.value_or(platform::Dictionary{{vd::kServerNameKey, platform::Value(serverName)}});
  postStartSending(&request);
  pollfd waiting{listener_, POLLIN, 0};
  if (::poll(&waiting, 1, kReceiveLimitMilliseconds) != 1) return false;
  connection_ = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
  return connection_ >= 0;
}

std::optional<vd::FrameMessage> TestReceiver::receive(bool* carriedDescriptor) {
  pollfd readable{connection_, POLLIN, 0};
  if (::poll(&readable, 1, kReceiveLimitMilliseconds) != 1) return std::nullopt;
  char buffer[vd::kMaxFrameMessageSize];
  std::optional<int> descriptor;
  const ssize_t length = vd::receivePortMessage(connection_, buffer, &descriptor);
  if (length <= 0) return std::nullopt;
  if (descriptor) ::close(*descriptor);
  if (carriedDescriptor) *carriedDescriptor = descriptor.has_value();
  auto message = vd::unarchiveFrameMessage(std::string_view(buffer, static_cast<std::size_t>(length)));
  EXPECT_TRUE(message.ok());
  if (!message.ok()) return std::nullopt;
  return *message;
}

void TestReceiver::answer() { EXPECT_TRUE(sendRaw(std::string(1, static_cast<char>(vd::kFrameAnswer)))); }

bool TestReceiver::sendRaw(const std::string& bytes) {
  return ::send(connection_, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
}

void TestReceiver::closeConnection() {
  if (connection_ >= 0) ::close(connection_);
  connection_ = -1;
}

TestFrame makeFrame(int seed, std::int64_t firstSample, std::size_t audioFrames) {
  TestFrame frame;
  platform::media::PixelBufferAttributes attributes;
  attributes.shareable = true;
  EXPECT_EQ(platform::media::PixelBuffer::create(64, 36, platform::media::kPixelFormat422YpCbCr8, attributes,
                                                 &frame.picture),
            0);
  for (std::size_t i = 0; i < frame.picture->dataSize(); ++i)
    frame.picture->baseAddress()[i] = static_cast<std::uint8_t>(i * 7 + seed);
  frame.audioFrames = audioFrames;
  for (std::size_t i = 0; i < audioFrames; ++i) {
    const double t = static_cast<double>(firstSample + static_cast<std::int64_t>(i)) / 48000.0;
    const auto sample = static_cast<std::int16_t>(std::lround(16000 * std::sin(2 * M_PI * 1000 * t)));
    frame.audio.push_back(sample);
    frame.audio.push_back(sample);
  }
  return frame;
}

platform::media::SampleBufferRef captionSample(std::uint32_t subType, std::size_t size) {
  std::vector<std::uint8_t> bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(0x80 + i);
  platform::media::SampleBufferRef sample;
  platform::media::SampleBuffer::createReady(
      platform::media::BlockBuffer::createWithCopy(bytes),
      platform::media::FormatDescription::create(platform::media::kMediaTypeClosedCaption, subType), 1, {}, {},
      &sample);
  return sample;
}

std::shared_ptr<vd::CVNVudodoDuvaOutput> makeOutput(const std::string& name) {
  auto output = vd::CVNVudodoDuvaOutput::create(name);
  output->setSelectedDisplayMode(std::make_shared<pluginframework::CVNDisplayMode>(
      "1080p50", 1000, 50000, 1920, 1080, pluginframework::FieldDominance::Progressive));
  output->setBufferFormat(platform::media::kPixelFormat422YpCbCr8);
  output->setNumberOfChannels(2);
  output->setBitsPerChannel(16);
  return output;
}

void send(vd::CVNVudodoDuvaOutput& output, const TestFrame& frame, const platform::media::SampleBufferRef& captions) {
  output.sendFrame(frame.picture, reinterpret_cast<const std::uint8_t*>(frame.audio.data()), frame.audioFrames,
                   captions, nullptr, {}, {});
}

}  // namespace vudododuva_test
