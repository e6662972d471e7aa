#include "control/gpi/CVNTrelvaneController.h"

#include <gtest/gtest.h>

#include "tests/control/gpi/GpiTestFixture.h"

namespace control {
namespace {

// Hands the test the manager's arrival and removal calls.
class FakeBoxWatcher : public GPIBoxWatcher {
 public:
  explicit FakeBoxWatcher(Events* events) : events_(events) {}
  void start(Events events) override { *events_ = std::move(events); }

 private:
  Events* events_;
};

class CVNTrelvaneControllerTest : public GpiTest {
 protected:
  GPIBoxWatcher::Events usb_;
  CVNTrelvaneController manager_{std::make_unique<FakeBoxWatcher>(&usb_)};
  std::shared_ptr<FakeGPITransport> interface0_ = std::make_shared<FakeGPITransport>(0);
  std::shared_ptr<FakeGPITransport> interface1_ = std::make_shared<FakeGPITransport>(1);
};

TEST(GPIBoxTypes, FollowTheProductId) {
  EXPECT_EQ(trelvaneDeviceTypeForProduct(0x1500), 1);
  EXPECT_EQ(trelvaneDeviceTypeForProduct(0x1503), 2);
  EXPECT_EQ(trelvaneDeviceTypeForProduct(0x1506), 3);
  EXPECT_EQ(trelvaneDeviceTypeForProduct(0x1234), 1);
}

TEST_F(CVNTrelvaneControllerTest, WithoutBoxesEveryLookupIsEmpty) {
  EXPECT_TRUE(manager_.devices().empty());
  EXPECT_EQ(manager_.deviceAtIndex(0), nullptr);
  EXPECT_EQ(manager_.deviceWithSerialNumber("S-1"), nullptr);
  EXPECT_EQ(manager_.deviceWithDeviceRef(interface0_.get()), nullptr);
}

TEST_F(CVNTrelvaneControllerTest, InterfacesInEitherOrderMakeOneBoxThatConnectsOnce) {
  auto connected = record(kTrelvaneDeviceDidConnectNotification);
  usb_.added(interface1_, 2, "S-1");
  ASSERT_EQ(manager_.devices().size(), 1u);
  EXPECT_FALSE(manager_.devices().front()->alreadyInitialized());
  interface0_->setLevels(std::vector<std::uint8_t>(7, 0xFF));
  usb_.added(interface0_, 2, "S-1");
  drainMain();
  ASSERT_EQ(manager_.devices().size(), 1u);
  auto box = manager_.deviceWithSerialNumber("S-1");
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(box->deviceType(), 2);
  EXPECT_EQ(manager_.deviceWithDeviceRef(interface1_.get()), box);
  EXPECT_EQ(manager_.deviceAtIndex(0), box);
  EXPECT_EQ(manager_.deviceAtIndex(1), nullptr);
  EXPECT_EQ(connected->size(), 1u);
}

TEST_F(CVNTrelvaneControllerTest, UnpluggingPostsOneDisconnectWithTheBox) {
  auto disconnected = record(kTrelvaneDeviceDidDisconnectNotification);
  interface0_->setLevels(std::vector<std::uint8_t>(4, 0xFF));
  usb_.added(interface0_, 1, "S-1");
  usb_.added(interface1_, 1, "S-1");
  auto box = manager_.deviceWithSerialNumber("S-1");
  usb_.removed(interface1_.get());
  usb_.removed(interface0_.get());
  drainMain();
  ASSERT_EQ(disconnected->size(), 1u);
  EXPECT_EQ(std::any_cast<std::shared_ptr<GPIDeviceController>>(disconnected->front().object), box);
  EXPECT_TRUE(manager_.devices().empty());
  EXPECT_TRUE(interface0_->isClosed());

  // Plugged in again: a new box that connects anew.
  auto again0 = std::make_shared<FakeGPITransport>(0);
  again0->setLevels(std::vector<std::uint8_t>(4, 0xFF));
  usb_.added(again0, 1, "S-1");
  usb_.added(std::make_shared<FakeGPITransport>(1), 1, "S-1");
  ASSERT_NE(manager_.deviceWithSerialNumber("S-1"), nullptr);
  EXPECT_NE(manager_.deviceWithSerialNumber("S-1"), box);
  EXPECT_TRUE(manager_.deviceWithSerialNumber("S-1")->alreadyInitialized());
}

TEST_F(CVNTrelvaneControllerTest, LineChangesArePostedOnTheMainQueueWithZeroBasedIndexes) {
  auto inputs = record(kTrelvaneDeviceInputDidChangeNotification);
  auto outputs = record(kTrelvaneDeviceOutputDidChangeNotification);
  interface0_->setLevels(std::vector<std::uint8_t>(4, 0xFF));
  usb_.added(interface0_, 1, "S-1");
  usb_.added(interface1_, 1, "S-1");
  interface0_->deliver({0xFE, 0xFF, 0xFF, 0x7F});  // input 0 on, output 7 on
  EXPECT_TRUE(inputs->empty());  // posted, not yet delivered
  drainMain();
  ASSERT_EQ(inputs->size(), 1u);
  const platform::Value& input = std::any_cast<const platform::Value&>(inputs->front().object);
  EXPECT_EQ(input, platform::Value(platform::Dictionary{{"deviceSerial", platform::Value("S-1")},
                                                        {"inputIndex", platform::Value(0)},
                                                        {"newState", platform::Value(true)}}));
  ASSERT_EQ(outputs->size(), 1u);
  EXPECT_EQ(std::any_cast<const platform::Value&>(outputs->front().object)["outputIndex"], platform::Value(7));
}

TEST_F(CVNTrelvaneControllerTest, ABrokenBoxLeavesAndTheOthersStay) {
  auto disconnected = record(kTrelvaneDeviceDidDisconnectNotification);
  auto other0 = std::make_shared<FakeGPITransport>(0);
  usb_.added(interface0_, 1, "S-1");
  usb_.added(other0, 1, "S-2");
  interface0_->deliver({}, 0, kGPITransportIoError);
  drainMain();
  EXPECT_EQ(disconnected->size(), 1u);
  ASSERT_EQ(manager_.devices().size(), 1u);
  EXPECT_EQ(manager_.devices().front()->serialNumber(), "S-2");
  EXPECT_EQ(log_.linesWith("Trelvane (S-1): Cannot read from Trelvane (-1)"), 1u);
}

}  // namespace
}  // namespace control
