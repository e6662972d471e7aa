#include <sys/stat.h>

#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>

#include "engine/vudododuva/PortMessages.h"
#include "engine/vudododuva/VudodoDuvaProtocol.h"
#include "platform/Clock.h"
#include "tests/engine/vudododuva/VudodoDuvaTestSupport.h"
#include "tests/support/RunLoopWait.h"

namespace vudododuva_test {
namespace {

namespace vd = engine::vudododuva;
using testing_support::waitForCondition;

class RecordingLog final : public pluginframework::CVNVideoOutputDelegate {
 public:
  void logMessage(const std::string& message, std::int32_t level, bool show) override {
    std::lock_guard lock(mutex_);
    lines_.push_back(std::to_string(level) + (show ? " shown " : " ") + message);
  }
  std::vector<std::string> lines() const {
    std::lock_guard lock(mutex_);
    return lines_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> lines_;
};

std::vector<std::filesystem::path> filesIn(const std::filesystem::path& folder) {
  std::vector<std::filesystem::path> files;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    if (entry.is_regular_file()) files.push_back(entry.path());
  return files;
}

unsigned modeOf(const std::filesystem::path& path) {
  struct stat status {};
  ::lstat(path.c_str(), &status);
  return status.st_mode & 0777;
}

class VudodoDuvaOutputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string reason;
    bus_ = PrivateSessionBus::start(&reason);
    if (!bus_) GTEST_SKIP() << reason;
  }
  void TearDown() override {
    if (output_) output_->stopPlayback();
    output_.reset();
  }

  vd::CVNVudodoDuvaOutput& startOutput(const std::string& name = "VZServer") {
    output_ = makeOutput(name);
    output_->setDelegate(&log_);
    EXPECT_TRUE(output_->startPlayback(nullptr));
    return *output_;
  }
  std::filesystem::path folder() const { return bus_->runtimeFolder() / "vudododuva"; }
  // Connects and waits until the output lists the port, so the next frame goes to it.
  bool connect(TestReceiver& receiver) {
    if (!receiver.connectTo("VZServer")) return false;
    return waitForCondition([&] {
      const auto names = output_->connectedPortNames();
      return std::find(names.begin(), names.end(), receiver.portName()) != names.end();
    }, "the port in the output's list");
  }
  bool connectedExactly(const std::vector<std::string>& names) {
    return waitForCondition([&] { return output_->connectedPortNames() == names; }, "the connected ports");
  }

  std::unique_ptr<PrivateSessionBus> bus_;
  RecordingLog log_;
  std::shared_ptr<vd::CVNVudodoDuvaOutput> output_;
};

TEST_F(VudodoDuvaOutputTest, ReferenceReceiverSeesEveryFrameAsSent) {
  auto listener = vd::DistributedNotificationCenter::connect();
  ASSERT_TRUE(listener.ok());
  std::mutex mutex;
  std::optional<platform::Dictionary> announced;
  int announcements = 0;
  (*listener)->addObserver(vd::kServerAnnouncementNotification, [&](const std::string& object, const platform::Dictionary* info) {
    std::lock_guard lock(mutex);
    if (object == "VZServer" && info) announced = *info;
    ++announcements;
  });
  auto announcementCount = [&] {
    std::lock_guard lock(mutex);
    return announcements;
  };
  vd::CVNVudodoDuvaOutput& output = startOutput();
  ASSERT_TRUE(waitForCondition([&] { std::lock_guard lock(mutex); return announced.has_value(); }, "the announcement"));
  const platform::Dictionary info = *announced;
  EXPECT_EQ(info.size(), 15u);
  EXPECT_EQ(*info.at(pluginframework::CVNDisplayModeNameKey).string(), "1080p50");
  EXPECT_EQ(info.at(pluginframework::CVNDisplayModeFrameDurationKey).integer(), 1000);
  EXPECT_EQ(info.at(pluginframework::CVNDisplayModeTimeScaleKey).integer(), 50000);
  EXPECT_EQ(info.at(pluginframework::CVNDisplayModeFieldDominance).integer(), 3);
  EXPECT_EQ(info.at("force169").boolean(), false);
  EXPECT_EQ(info.at("protocolVersion").integer(), 1);
  EXPECT_EQ(info.at("pid").integer(), ::getpid());
  const std::filesystem::path audioPath = *info.at("mappedMemoryPath").string();
  const std::filesystem::path ccPath = *info.at("ccMappedMemoryPath").string();
  EXPECT_EQ(ccPath.string(), audioPath.string() + "-cc");
  EXPECT_EQ(audioPath.parent_path(), folder());
  EXPECT_EQ(std::filesystem::file_size(audioPath), 1440000u * 4);
  EXPECT_EQ(std::filesystem::file_size(ccPath), 365400u);

  // Time runs on before anyone connects.
  for (int i = 0; i < 3; ++i) send(output, makeFrame(i, i * 960));

  const std::filesystem::path out = bus_->runtimeFolder() / "frames.jsonl";
  std::string error;
  auto receiver = testing_support::ChildProcess::start(
      {VZ_VUDODODUVA_RECEIVER, "--server", "VZServer", "--frames", "6", "--out", out.string(), "--port", "ref"},
      bus_->environment(), &error);
  ASSERT_TRUE(receiver) << error;
  ASSERT_TRUE(receiver->waitForOutput("listening ref", false, std::chrono::seconds(10))) << receiver->standardError();
  ASSERT_TRUE(connectedExactly({"ref"}));

  // A second request of the same port connects once; another server's name is ignored.
  // The server answers requests in order: once the asked-for announcement
  // comes, both requests before it were handled.
  TestReceiver other("other");
  const platform::Dictionary same{{vd::kServerNameKey, platform::Value("VZServer")}};
  const platform::Dictionary otherServer{{vd::kServerNameKey, platform::Value("OtherServer")}};
  const int seen = announcementCount();
  (void)(*listener)->post(vd::kStartSendingNotification, "ref", &same, true);
  (void)(*listener)->post(vd::kStartSendingNotification, "other", &otherServer, true);
  (void)(*listener)->post(vd::kPostServerAnnouncementNotification, "test", nullptr, true);
  ASSERT_TRUE(waitForCondition([&] { return announcementCount() > seen; }, "the asked-for announcement"));
  EXPECT_EQ(output.connectedPortNames(), std::vector<std::string>{"ref"});

  std::vector<TestFrame> frames;
  for (int i = 0; i < 6; ++i) {
    frames.push_back(makeFrame(10 + i, (3 + i) * 960));
    send(output, frames.back(), i % 2 == 0 ? captionSample(0x63363038, 20) : nullptr);  // 'c608'
    // Paced like an output clock: a burst would outrun the two-frame window.
    ASSERT_TRUE(waitForCondition([&] { return output.sendingCounts().answered == static_cast<std::uint64_t>(i + 1); },
                                 "the receiver's answer"));
  }

  std::ifstream lines(out);
  std::string line;
  int index = 0;
  std::uint64_t firstCaption = vd::kNoCaptionOffset;
  while (std::getline(lines, line)) {
    SCOPED_TRACE(line);
    const auto frame = nlohmann::json::parse(line);
    const TestFrame& sent = frames.at(static_cast<std::size_t>(index));
    EXPECT_EQ(frame["vpts"], (3 + index) * 1000);
    EXPECT_EQ(frame["apts"], (3 + index) * 960);
    EXPECT_EQ(frame["samples"], 960);
    EXPECT_EQ(frame["number"], *sent.picture->surfaceID());
    EXPECT_EQ(frame["pictureSHA256"], vd::sha256Text({sent.picture->surface()->data(), sent.picture->surface()->size()}));
    EXPECT_EQ(frame["audioSHA256"], vd::sha256Text({reinterpret_cast<const std::uint8_t*>(sent.audio.data()), 960 * 4}));
    if (index % 2 == 0) {
      EXPECT_EQ(frame["captionType"], "cdat");
      EXPECT_EQ(frame["captionSize"], 28);
      if (index == 0) firstCaption = frame["ccOffset"].get<std::uint64_t>();
    } else {
      EXPECT_EQ(frame["ccOffset"].get<std::uint64_t>(), vd::kNoCaptionOffset);
    }
    ++index;
  }
  EXPECT_EQ(index, 6);
  ASSERT_EQ(firstCaption, 0u);
  std::ifstream ccFile(ccPath, std::ios::binary);
  char header[8] = {};
  ccFile.read(header, 8);
  EXPECT_EQ(std::string(header, 8), std::string("\x00\x00\x00\x1c" "cdat", 8));

  ASSERT_TRUE(connectedExactly({}));  // the receiver said "stopSending"
  output.stopPlayback();
  EXPECT_TRUE(filesIn(folder()).empty());
}

TEST_F(VudodoDuvaOutputTest, AudioThatDoesNotFitIsWrittenAtZero) {
  vd::CVNVudodoDuvaOutput& output = startOutput();
  TestReceiver receiver("wrap");
  ASSERT_TRUE(connect(receiver));
  std::vector<std::uint64_t> offsets;
  for (int i = 0; i < 4; ++i) {
    send(output, makeFrame(i, 0, 400000));  // 1.6 MB each in a 5.76 MB file
    auto message = receiver.receive();
    ASSERT_TRUE(message);
    offsets.push_back(message->offset);
    receiver.answer();
  }
  EXPECT_EQ(offsets, (std::vector<std::uint64_t>{0, 1600000, 3200000, 0}));
}

TEST_F(VudodoDuvaOutputTest, SilentReceiverGetsTwoFramesAndHoldsPicturesOneSecond) {
  platform::ManualClock clock;
  platform::ScopedClockOverride useClock(clock);
  vd::CVNVudodoDuvaOutput& output = startOutput();
  TestReceiver fast("fast"), silent("silent");
  ASSERT_TRUE(connect(fast));
  ASSERT_TRUE(connect(silent));
  ASSERT_TRUE(connectedExactly({"fast", "silent"}));
  for (int i = 0; i < 5; ++i) {
    send(output, makeFrame(i, 0));
    ASSERT_TRUE(fast.receive()) << "frame " << i;
    fast.answer();
  }
  ASSERT_TRUE(silent.receive());
  ASSERT_TRUE(silent.receive());
  ASSERT_TRUE(waitForCondition([&] { return output.sendingCounts().answered == 5; }, "the fast receiver's answers"));
  const auto counts = output.sendingCounts();
  EXPECT_EQ(counts.sent, 7u);
  EXPECT_EQ(counts.skipped, 3u);
  EXPECT_EQ(output.heldPictures(), 2u);

  clock.advance(std::chrono::milliseconds(1000));
  EXPECT_TRUE(waitForCondition([&] { return output.heldPictures() == 0; }, "pictures let go after 1 s"));

  // Its answers make room again.
  silent.answer();
  silent.answer();
  ASSERT_TRUE(waitForCondition([&] { return output.sendingCounts().answered == 7; }, "the late answers"));
  send(output, makeFrame(9, 0));
  bool descriptor = false;
  EXPECT_TRUE(silent.receive(&descriptor));
  EXPECT_TRUE(descriptor);  // a picture it never saw
}

TEST_F(VudodoDuvaOutputTest, CaptionRecordLargerThanTheFileIsRefused) {
  vd::CVNVudodoDuvaOutput& output = startOutput();
  TestReceiver receiver("captions");
  ASSERT_TRUE(connect(receiver));
  send(output, makeFrame(0, 0), captionSample(0x6f703437, vd::kCaptionRingSize));  // 'op47', 8 bytes too many
  auto refused = receiver.receive();
  ASSERT_TRUE(refused);
  EXPECT_EQ(refused->ccOffset, vd::kNoCaptionOffset);
  receiver.answer();
  send(output, makeFrame(1, 0), captionSample(0x6f703437, 100));
  auto written = receiver.receive();
  ASSERT_TRUE(written);
  EXPECT_EQ(written->ccOffset, 0u);
  const auto lines = log_.lines();
  EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                          [](const std::string& l) { return l.find("does not fit the VudodoDuva caption file") != std::string::npos; }),
            1);
}

TEST_F(VudodoDuvaOutputTest, FilesArePrivateAndRemovedAtStop) {
  vd::CVNVudodoDuvaOutput& output = startOutput();
  EXPECT_EQ(modeOf(folder()), 0700u);
  const auto files = filesIn(folder());
  ASSERT_EQ(files.size(), 2u);
  for (const auto& file : files) EXPECT_EQ(modeOf(file), 0600u) << file;
  output.stopPlayback();
  EXPECT_TRUE(filesIn(folder()).empty());
}

TEST_F(VudodoDuvaOutputTest, FolderOpenToOthersIsNotUsed) {
  std::filesystem::create_directory(folder());
  ::chmod(folder().c_str(), 0777);
  startOutput();
  EXPECT_TRUE(filesIn(folder()).empty());
  EXPECT_EQ(*output_->serverInfo().at("mappedMemoryPath").string(), "");
  const auto lines = log_.lines();
  ASSERT_FALSE(lines.empty());
  EXPECT_NE(lines.front().find("0 shown VudodoDuva has no private folder"), std::string::npos) << lines.front();
}

TEST_F(VudodoDuvaOutputTest, RequestsOfTheWrongShapeAreIgnored) {
  startOutput();
  const std::string big(vd::kMaxUserInfoSize, 'x');
  const struct {
    const char* what;
    std::optional<platform::Dictionary> userInfo;
  } cases[] = {
      {"another server", platform::Dictionary{{"serverName", platform::Value("Else")}}},
      {"server name not text", platform::Dictionary{{"serverName", platform::Value(7)}}},
      {"user info over 64 KiB",
       platform::Dictionary{{"serverName", platform::Value("VZServer")}, {"padding", platform::Value(big)}}},
  };
  int index = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TestReceiver ignored("ignored");
    ignored.postStartSending(&*c.userInfo);
    // Requests are handled in the order the bus got them: once a right one
    // after it connected, the wrong one was seen and passed over.
    TestReceiver accepted("accepted-" + std::to_string(index++));
    ASSERT_TRUE(connect(accepted));
    const auto names = output_->connectedPortNames();
    EXPECT_EQ(std::count(names.begin(), names.end(), "ignored"), 0);
  }
}

TEST_F(VudodoDuvaOutputTest, ReceiverThatBreaksTheRulesOrGoesIsDropped) {
  vd::CVNVudodoDuvaOutput& output = startOutput();
  const struct {
    const char* what;
    std::function<void(TestReceiver&)> misbehave;
  } cases[] = {
      {"two bytes", [](TestReceiver& r) { EXPECT_TRUE(r.sendRaw("xx")); }},
      {"more answers than frames", [](TestReceiver& r) { for (int i = 0; i < 3; ++i) (void)r.sendRaw("\x01"); }},
      {"killed without stopSending", [](TestReceiver& r) { r.closeConnection(); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TestReceiver receiver("rules");
    ASSERT_TRUE(connect(receiver));
    send(output, makeFrame(0, 0));
    ASSERT_TRUE(receiver.receive());
    c.misbehave(receiver);
    send(output, makeFrame(1, 0));
    EXPECT_TRUE(connectedExactly({}));
  }
}

TEST(VudodoDuvaPortNameTest, OnlyPlainShortFileNames) {
  const struct {
    std::string name;
    bool valid;
  } cases[] = {
      {"receiver-1", true},  {std::string(64, 'a'), true}, {std::string(65, 'a'), false}, {"", false},
      {".hidden", false},    {"../up", false},             {"a/b", false},                 {std::string("a\0b", 3), false},
  };
  for (const auto& c : cases) EXPECT_EQ(vd::isValidPortName(c.name), c.valid) << c.name;
}

}  // namespace
}  // namespace vudododuva_test
