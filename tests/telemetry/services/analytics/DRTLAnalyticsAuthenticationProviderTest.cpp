#include <gtest/gtest.h>

#include <chrono>

#include "TelemetryTestSupport.h"
#include "platform/Clock.h"
#include "telemetry/core/DRTLUtility.h"
#include "telemetry/core/Ingestion/DRTLTicketCache.h"
#include "telemetry/services/analytics/DRTLAnalyticsAuthenticationProvider.h"
#include "telemetry/services/analytics/DRTLAnalyticsTransmissionTarget.h"

namespace telemetry::analytics {
namespace {

using core::testing_support::LogCapture;

// Keeps each completion so the test delivers when it likes.
class HeldDelegate : public DRTLAnalyticsAuthenticationProviderDelegate {
 public:
  void acquireToken(DRTLAnalyticsAuthenticationProvider&, DRTLAcquireTokenCompletion completion) override {
    completions.push_back(std::move(completion));
  }
  std::vector<DRTLAcquireTokenCompletion> completions;
};

class DRTLAnalyticsAuthenticationProviderTest : public testing::Test {
 protected:
  void SetUp() override { core::DRTLTicketCache::sharedInstance().clearCache(); }
  platform::ManualClock clock;
  platform::ScopedClockOverride override{clock};
  std::shared_ptr<HeldDelegate> delegate = std::make_shared<HeldDelegate>();
  LogCapture capture;
};

TEST_F(DRTLAnalyticsAuthenticationProviderTest, CachesTicketsAndRenewsTenMinutesBeforeExpiry) {
  auto provider = std::make_shared<DRTLAnalyticsAuthenticationProvider>(1, "key", delegate);
  EXPECT_EQ(provider->ticketKeyHash(), core::DRTLUtility::sha256("key"));
  DRTLAnalyticsTransmissionTarget::addAuthenticationProvider(provider);
  provider->acquireTokenAsync();
  ASSERT_EQ(delegate->completions.size(), 1u) << "one request at a time";

  const auto now = std::chrono::time_point_cast<std::chrono::microseconds>(clock.wallNow());
  delegate->completions[0]("T", now + std::chrono::seconds(601));
  EXPECT_EQ(core::DRTLTicketCache::sharedInstance().ticketFor(*provider->ticketKeyHash()), "d:T");
  delegate->completions[0]("stale", now + std::chrono::hours(1));
  EXPECT_EQ(core::DRTLTicketCache::sharedInstance().ticketFor(*provider->ticketKeyHash()), "d:T");

  provider->checkTokenExpiry();
  EXPECT_EQ(delegate->completions.size(), 1u) << "601 s left";
  clock.setWallTime(now + std::chrono::seconds(1));
  provider->checkTokenExpiry();
  EXPECT_EQ(delegate->completions.size(), 2u) << "600 s left";

  delegate->completions[1]("U", std::nullopt);
  EXPECT_TRUE(capture.contains(core::DRTLLogLevelError, "Date must not be null"));
  EXPECT_EQ(core::DRTLTicketCache::sharedInstance().ticketFor(*provider->ticketKeyHash()), "d:T");
  provider->acquireTokenAsync();
  EXPECT_EQ(delegate->completions.size(), 3u) << "a failed delivery allows the next request";
  DRTLAnalyticsTransmissionTarget::setAuthenticationProvider(nullptr);
}

TEST_F(DRTLAnalyticsAuthenticationProviderTest, MissingDelegateOrProviderIsRefused) {
  std::weak_ptr<DRTLAnalyticsAuthenticationProviderDelegate> gone;
  {
    auto shortLived = std::make_shared<HeldDelegate>();
    gone = shortLived;
  }
  auto provider = std::make_shared<DRTLAnalyticsAuthenticationProvider>(0, "key", gone);
  DRTLAnalyticsTransmissionTarget::addAuthenticationProvider(provider);
  EXPECT_TRUE(capture.contains(core::DRTLLogLevelError, "No completionhandler to acquire token has been set."));
  EXPECT_FALSE(core::DRTLTicketCache::sharedInstance().ticketFor(*provider->ticketKeyHash()));
  DRTLAnalyticsTransmissionTarget::addAuthenticationProvider(nullptr);
  EXPECT_TRUE(capture.contains(core::DRTLLogLevelError, "Authentication provider may not be null."));
  EXPECT_EQ(DRTLAnalyticsTransmissionTarget::authenticationProvider(), provider);
  DRTLAnalyticsTransmissionTarget::setAuthenticationProvider(nullptr);
}

}  // namespace
}  // namespace telemetry::analytics
