#include "control/gpi/GPIDeviceController.h"

#include <gtest/gtest.h>

#include <chrono>

#include "tests/control/gpi/GpiTestFixture.h"

namespace control {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

std::size_t reportSize(std::int32_t type) { return type == 3 ? 12 : type == 2 ? 7 : 4; }

class GPIDeviceControllerTest : public GpiTest {
 protected:
  // A box of `type` with both interfaces attached and its first report (all
  // lines off unless `levels` says otherwise) taken in.
  std::shared_ptr<GPIDeviceController> connectedBox(std::int32_t type, Bytes levels = {}) {
    if (levels.empty()) levels.assign(reportSize(type), 0xFF);
    auto box = std::make_shared<GPIDeviceController>("S-1", type, &delegate_);
    interface0_->setLevels(type == 3 ? Bytes{} : levels);
    box->setDeviceRefForInterface0(interface0_);
    box->setDeviceRefForInterface1(interface1_);
    if (type == 3) {
      Bytes answer(64, 0);
      answer[0] = 0xFF;
      std::copy(levels.begin(), levels.end(), answer.begin() + 1);
      interface1_->deliver(answer, 0xFF);
    }
    EXPECT_TRUE(box->alreadyInitialized());
    return box;
  }

  // The box reports `report` on interface 0.
  void report(Bytes report) { interface0_->deliver(std::move(report)); }

  Bytes lastSent() {
    EXPECT_TRUE(testing_support::waitForCondition([&] { return interface0_->sentCount() > 0; }, "a write"));
    auto sent = interface0_->sent();
    return sent.empty() ? Bytes{} : sent.back();
  }

  RecordingGPIDelegate delegate_;
  std::shared_ptr<FakeGPITransport> interface0_ = std::make_shared<FakeGPITransport>(0);
  std::shared_ptr<FakeGPITransport> interface1_ = std::make_shared<FakeGPITransport>(1);
};

TEST_F(GPIDeviceControllerTest, WritesOnlyTheOutputByteOfEachBoxType) {
  struct Case {
    std::int32_t type;
    std::vector<std::int32_t> outputsOn;
    Bytes expected;
  };
  const Case cases[] = {
      {1, {1}, {0xff, 0xff, 0xff, 0xfd}},
      {2, {0, 7}, {0xff, 0xff, 0xff, 0x7e, 0xff, 0xff, 0xff}},
      {3, {3}, {0xff, 0xff, 0xff, 0xf7, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("type " + std::to_string(c.type));
    interface0_ = std::make_shared<FakeGPITransport>(0);
    interface1_ = std::make_shared<FakeGPITransport>(1);
    // The box reports other levels on its other bytes: only byte 3 is ever driven.
    Bytes levels(reportSize(c.type), 0x00);
    levels[3] = 0xFF;
    auto box = connectedBox(c.type, levels);
    for (std::int32_t line : c.outputsOn) box->setOutputState(true, line);
    ASSERT_TRUE(testing_support::advanceClockUntil(
        clock_, 10ms, [&] { return interface0_->sentCount() == c.outputsOn.size(); }, 20));
    EXPECT_EQ(lastSent(), c.expected);
  }
}

TEST_F(GPIDeviceControllerTest, MapsInputLinesToTheirBits) {
  struct Case {
    std::int32_t type;
    std::int32_t input;
    std::size_t byte;
    std::uint8_t weight;
  };
  const Case cases[] = {{1, 0, 0, 0x01}, {2, 17, 2, 0x02}, {3, 7, 0, 0x80}, {3, 9, 9, 0x02}, {3, 16, 2, 0x01}};
  for (const Case& c : cases) {
    SCOPED_TRACE("type " + std::to_string(c.type) + " input " + std::to_string(c.input));
    interface0_ = std::make_shared<FakeGPITransport>(0);
    interface1_ = std::make_shared<FakeGPITransport>(1);
    delegate_.changes.clear();
    auto box = connectedBox(c.type);
    Bytes levels(reportSize(c.type), 0xFF);
    levels[c.byte] = static_cast<std::uint8_t>(~c.weight);
    report(levels);
    EXPECT_EQ(delegate_.changes, (std::vector<LineChange>{{"input", c.input, true}}));
    EXPECT_TRUE(box->getInputStateAtIndex(c.input));
  }
}

TEST_F(GPIDeviceControllerTest, BitsPastTheReportAreIgnoredAndReadOff) {
  GPIDeviceController box("S-1", 1, nullptr);
  Bytes buffer(8, 0xFF);  // longer than the 4-byte report on purpose
  box.clearBitAtIndex(32, buffer);
  box.clearBitAtIndex(-1, buffer);
  EXPECT_EQ(buffer, Bytes(8, 0xFF));
  buffer.assign(8, 0x00);
  box.setBitAtIndex(32, buffer);
  EXPECT_EQ(buffer, Bytes(8, 0x00));
  EXPECT_FALSE(box.bitValueAtIndex(32, buffer));
  EXPECT_TRUE(box.bitValueAtIndex(31, buffer));
}

TEST_F(GPIDeviceControllerTest, FirstReportConnectsOnceAndIdenticalReportsAreSilent) {
  auto connected = record(kTrelvaneDeviceDidConnectNotification);
  Bytes levels{0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};  // input 0 already on
  auto box = connectedBox(2, levels);
  drainMain();
  EXPECT_TRUE(delegate_.changes.empty());
  ASSERT_EQ(connected->size(), 1u);
  EXPECT_EQ(std::any_cast<std::shared_ptr<GPIDeviceController>>(connected->front().object), box);
  EXPECT_EQ(log_.linesWith("Trelvane: Initial Report: fe ff ff ff ff ff ff "), 1u);

  report(levels);
  box->readIOWarriorCurrentValues();  // a second initial report
  drainMain();
  EXPECT_TRUE(delegate_.changes.empty());
  EXPECT_EQ(connected->size(), 1u);
  EXPECT_EQ(log_.linesWith("Trelvane: Report: fe ff"), 1u);
}

TEST_F(GPIDeviceControllerTest, TypeThreeReadsItsLevelsThroughInterfaceOne) {
  auto box = std::make_shared<GPIDeviceController>("S-3", 3, &delegate_);
  box->setDeviceRefForInterface1(interface1_);
  EXPECT_EQ(interface1_->sentCount(), 0u);  // nothing until both interfaces are in
  box->setDeviceRefForInterface0(interface0_);
  ASSERT_EQ(interface1_->sentCount(), 1u);
  Bytes request(64, 0);
  request[0] = 0xFF;
  EXPECT_EQ(interface1_->sent().front(), request);
  EXPECT_FALSE(box->alreadyInitialized());

  Bytes answer(64, 0xFF);
  answer[10] = 0xFD;  // byte 9 of the levels: input 9
  interface1_->deliver(answer, 0xFF);
  EXPECT_TRUE(box->alreadyInitialized());
  EXPECT_TRUE(box->getInputStateAtIndex(9));
  EXPECT_TRUE(delegate_.changes.empty());
}

TEST_F(GPIDeviceControllerTest, ReportsOfAnotherIdOrLengthAreLoggedAndDropped) {
  auto box = connectedBox(1);
  interface0_->deliver({0xFE, 0xFF, 0xFF});
  interface0_->deliver({0xFE, 0xFF, 0xFF, 0xFF}, 0x02);
  interface1_->deliver(Bytes(64, 0xFE), 0xFF);  // a type-1 box has no interface-1 answer
  EXPECT_TRUE(delegate_.changes.empty());
  EXPECT_FALSE(box->getInputStateAtIndex(0));
  EXPECT_EQ(log_.linesWith("Trelvane: Received report with incorrect length (3)"), 1u);
  EXPECT_EQ(log_.linesWith("Trelvane: Received report with incorrect length (4)"), 1u);
}

TEST_F(GPIDeviceControllerTest, AntiReboundDropsBouncesAndReportsTheSettledLevel) {
  const Bytes on{0xFE, 0xFF, 0xFF, 0xFF};
  const Bytes off{0xFF, 0xFF, 0xFF, 0xFF};
  using Changes = std::vector<LineChange>;
  struct Step {
    platform::Clock::Duration advance;
    Bytes levels;
  };
  struct Case {
    const char* name;
    platform::Value delayMilliseconds;
    std::vector<Step> steps;
    Changes expected;
  };
  const Case cases[] = {
      {"unset: every change", platform::Value(), {{0ms, on}, {1ms, off}, {1ms, on}},
       {{"input", 0, true}, {"input", 0, false}, {"input", 0, true}}},
      {"on, off, on inside the delay: the settled on comes when the delay ends", platform::Value(100),
       {{0ms, on}, {10ms, off}, {10ms, on}, {79ms, on}, {1ms, on}},
       {{"input", 0, true}, {"input", 0, false}, {"input", 0, true}}},
      {"a bounce that settles back reports nothing more", platform::Value(100),
       {{0ms, on}, {10ms, off}, {10ms, on}, {10ms, off}, {200ms, off}},
       {{"input", 0, true}, {"input", 0, false}}},
      {"a change exactly at the delay is taken", platform::Value(100), {{0ms, on}, {50ms, off}, {50ms, on}},
       {{"input", 0, true}, {"input", 0, false}, {"input", 0, true}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    defaults_.setObject(c.delayMilliseconds, kTrelvaneAntiReboundDelayKey);
    interface0_ = std::make_shared<FakeGPITransport>(0);
    interface1_ = std::make_shared<FakeGPITransport>(1);
    delegate_.changes.clear();
    auto box = connectedBox(1);
    for (const Step& step : c.steps) {
      clock_.advance(step.advance);
      drainMain();
      if (step.levels != box->lastReportValueBuffer()) report(step.levels);
    }
    drainMain();
    EXPECT_EQ(delegate_.changes, c.expected);
  }
}

TEST_F(GPIDeviceControllerTest, AntiReboundDelayFollowsTheDefault) {
  defaults_.setObject(platform::Value(250), kTrelvaneAntiReboundDelayKey);
  auto box = connectedBox(1);
  EXPECT_DOUBLE_EQ(box->antiReboundDelay(), 0.25);
  defaults_.setObject(platform::Value(40), kTrelvaneAntiReboundDelayKey);
  EXPECT_DOUBLE_EQ(box->antiReboundDelay(), 0.04);
  defaults_.setObject(platform::Value("soon"), kTrelvaneAntiReboundDelayKey);
  EXPECT_DOUBLE_EQ(box->antiReboundDelay(), 0.04);
}

TEST_F(GPIDeviceControllerTest, OutputImageStartsFromTheFirstReportAndIgnoresLaterReports) {
  auto box = connectedBox(1, {0xFF, 0xFF, 0xFF, 0xFE});  // output 0 on at start
  // The box reports output 1 on as well; the image must not take it in.
  report({0xFF, 0xFF, 0xFF, 0xFC});
  EXPECT_EQ(delegate_.changes, (std::vector<LineChange>{{"output", 1, true}}));
  EXPECT_TRUE(box->getOutputStateAtIndex(1));
  box->setOutputState(true, 2);
  EXPECT_EQ(lastSent(), (Bytes{0xff, 0xff, 0xff, 0xfa}));
}

TEST_F(GPIDeviceControllerTest, WritesLeaveTheMainThreadAndKeepTheirSpacing) {
  auto box = connectedBox(1);
  box->setOutputState(true, 0);
  box->setOutputState(true, 1);
  box->setOutputState(false, 0);
  // All three calls returned at once; the first write goes out now.
  ASSERT_TRUE(testing_support::waitForCondition([&] { return interface0_->sentCount() == 1; }, "first write"));
  EXPECT_EQ(box->pendingWritesForTesting(), 2u);
  clock_.advance(9ms);
  EXPECT_EQ(interface0_->sentCount(), 1u);
  clock_.advance(1ms);
  ASSERT_TRUE(testing_support::waitForCondition([&] { return interface0_->sentCount() == 2; }, "second write"));
  clock_.advance(10ms);
  ASSERT_TRUE(testing_support::waitForCondition([&] { return interface0_->sentCount() == 3; }, "third write"));
  // Each write sends the image as it is when it runs.
  EXPECT_EQ(interface0_->sent()[2], (Bytes{0xff, 0xff, 0xff, 0xfd}));
}

TEST_F(GPIDeviceControllerTest, PulseRestoresTheLevelSavedAtItsStart) {
  struct Case {
    const char* name;
    platform::Value pulseDelay;
    platform::Clock::Duration wait;
  };
  const Case cases[] = {{"unset: ends on the next pass", platform::Value(), 0ms},
                        {"50 ms", platform::Value(50), 50ms}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    defaults_.setObject(c.pulseDelay, kTrelvanePulseDelayKey);
    interface0_ = std::make_shared<FakeGPITransport>(0);
    interface1_ = std::make_shared<FakeGPITransport>(1);
    auto box = connectedBox(1, {0xFF, 0xFF, 0xFF, 0xFB});  // output 2 on
    box->pulseOutputAtIndex(2);
    EXPECT_FALSE(box->drivenOutputStateAtIndex(2));
    // Meanwhile the box reports output 2 off: the end must not invert that.
    report({0xFF, 0xFF, 0xFF, 0xFF});
    if (c.wait > 0ms) {
      clock_.advance(c.wait - 1ms);
      drainMain();
      EXPECT_FALSE(box->drivenOutputStateAtIndex(2));
      clock_.advance(1ms);
    }
    drainMain();
    EXPECT_TRUE(box->drivenOutputStateAtIndex(2));
    ASSERT_TRUE(testing_support::advanceClockUntil(clock_, 10ms, [&] { return interface0_->sentCount() == 2; }, 20));
    EXPECT_EQ(interface0_->sent()[1], (Bytes{0xff, 0xff, 0xff, 0xfb}));
    EXPECT_EQ(log_.linesWith("Output 3 ---> End Pulse (temporay went to 0)"), &c == cases ? 1u : 2u);
  }
}

TEST_F(GPIDeviceControllerTest, SetOutputStatesWritesOnceAndSkipsIncompleteEntries) {
  auto box = connectedBox(2);
  using platform::Dictionary;
  using platform::Value;
  box->setOutputStatesTo(platform::Array{Value(Dictionary{{"index", Value(1)}, {"state", Value(true)}}),
                                         Value(Dictionary{{"index", Value(2)}}),
                                         Value(Dictionary{{"index", Value(6)}, {"state", Value(1)}})});
  EXPECT_EQ(lastSent(), (Bytes{0xff, 0xff, 0xff, 0xbd, 0xff, 0xff, 0xff}));
  EXPECT_EQ(box->pendingWritesForTesting(), 0u);
}

TEST_F(GPIDeviceControllerTest, TransferFailuresEndTheBoxOnce) {
  struct Case {
    const char* name;
    int readResult;
    int writeResult;
    int failures;
  };
  const Case cases[] = {{"unplugged during a read", kGPITransportDeviceGone, 0, 1},
                        {"broken write", 0, kGPITransportIoError, 1},
                        {"a timed-out write is only logged", 0, kGPITransportTimeout, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    interface0_ = std::make_shared<FakeGPITransport>(0);
    interface1_ = std::make_shared<FakeGPITransport>(1);
    delegate_.failures = 0;
    auto box = connectedBox(1);
    if (c.readResult != 0) {
      interface0_->deliver({}, 0, c.readResult);
      interface0_->deliver({}, 0, c.readResult);
    }
    if (c.writeResult != 0) {
      interface0_->setWriteResult(c.writeResult);
      box->setOutputState(true, 0);
      ASSERT_TRUE(testing_support::waitForCondition([&] { return interface0_->sentCount() == 1; }, "the write"));
      ASSERT_TRUE(testing_support::runMainLoopUntil(
          [&] { return log_.linesWith("Cannot write to Trelvane (" + std::to_string(c.writeResult) + ")") == 1; },
          "the log line"));
    }
    // A failure reaches the delegate through the box's queue and then the main thread.
    if (c.failures > 0) {
      EXPECT_TRUE(testing_support::runMainLoopUntil([&] { return delegate_.failures >= c.failures; }, "the failure"));
    }
    drainMain();
    EXPECT_EQ(delegate_.failures, c.failures);
  }
}

TEST_F(GPIDeviceControllerTest, AnInterfaceThatCannotBeOpenedIsLoggedAndNeverConnects) {
  interface0_->setOpenResult(kGPITransportAccessDenied);
  auto box = std::make_shared<GPIDeviceController>("S-9", 1, &delegate_);
  box->setDeviceRefForInterface0(interface0_);
  box->setDeviceRefForInterface1(interface1_);
  EXPECT_EQ(log_.linesWith("Trelvane (S-9): Error opening Trelvane device (-3)"), 1u);
  interface0_->deliver({0xFE, 0xFF, 0xFF, 0xFF});
  EXPECT_TRUE(delegate_.changes.empty());
}

TEST_F(GPIDeviceControllerTest, DescribesItselfForJSON) {
  auto box = connectedBox(1, {0xFF, 0xFB, 0xFF, 0x7F});  // input 10 on, output 7 on
  EXPECT_EQ(box->JSONDescription(), (platform::Dictionary{{"serial_number", platform::Value("S-1")},
                                                           {"input_count", platform::Value(24)},
                                                           {"output_count", platform::Value(8)}}));
  const platform::Array inputs = box->JSONInputs();
  ASSERT_EQ(inputs.size(), 24u);
  EXPECT_EQ(inputs[10]["state"], platform::Value(true));
  EXPECT_EQ(inputs[9]["state"], platform::Value(false));
  EXPECT_EQ(box->JSONOutputAtIndex(7), (platform::Dictionary{{"index", platform::Value(7)},
                                                              {"state", platform::Value(true)}}));
  EXPECT_EQ(GPIDeviceController::formattedReportWithBuffer(Bytes{0x0a, 0xff}, 0), "");
}

}  // namespace
}  // namespace control
