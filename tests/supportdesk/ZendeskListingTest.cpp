#include <gtest/gtest.h>

#include "support/ZendeskController.h"
#include "tests/support/HttpCaptureServer.h"
#include "tests/support/RunLoopWait.h"
#include "tests/supportdesk/RecordingZendeskDelegate.h"
#include "tests/supportdesk/TestCertificates.h"

namespace {

bool listingEnded(const RecordingZendeskDelegate& delegate) {
  return testing_support::runMainLoopUntil([&] {
    return !delegate.calls.empty() && delegate.calls.back() == "ticketListingRetrieved";
  });
}

std::vector<std::int64_t> idsOf(support::ZendeskController& controller) {
  std::vector<std::int64_t> ids;
  for (const auto& entry : controller.relatedTickets()) ids.push_back(entry.ticketID.value_or(-1));
  return ids;
}

// A user search, then the three listing stages: own requests over two pages,
// the organisation's and the copied ones; closed, solved and status-less
// tickets are dropped, a duplicate kept once, newest first.
TEST(ZendeskListingTest, ThreeStagesOneListNewestFirst) {
  TestCertificates certificates;
  ASSERT_TRUE(certificates.made());
  testing_support::HttpCaptureServer server(
      R"([{"status":200,"body":"{\"users\":[{\"id\":9,\"verified\":true,\"organization_id\":5}]}"},
          {"status":200,"body":"{\"requests\":[{\"id\":1,\"status\":\"open\",\"subject\":\"A\",\"updated_at\":\"2024-01-02T10:00:00Z\",\"custom_fields\":[{\"id\":246855,\"value\":\"vv\"}]},{\"id\":2,\"status\":\"solved\"},{\"id\":3}],\"next_page\":\"{origin}/api/v2/requests.json?page=2\"}"},
          {"status":200,"body":"{\"requests\":[{\"id\":4,\"status\":\"pending\",\"updated_at\":\"2024-03-01T00:00:00Z\"},{\"id\":5,\"status\":\"closed\"}],\"next_page\":null}"},
          {"status":200,"body":"{\"requests\":[{\"id\":6,\"status\":\"new\",\"updated_at\":\"2023-12-31T23:59:59Z\"}]}"},
          {"status":200,"body":"{\"requests\":[{\"id\":1,\"status\":\"open\",\"updated_at\":\"2024-01-02T10:00:00Z\"},{\"id\":7,\"status\":\"hold\",\"updated_at\":\"2024-02-01T00:00:00Z\"}]}"}])",
      certificates.server());
  RecordingZendeskDelegate delegate;
  support::ZendeskController controller(&delegate, configurationFor(server.baseUrl(), certificates.authority()));
  controller.getUserInfoWithEmail("cu@example.org");
  ASSERT_TRUE(testing_support::runMainLoopUntil([&] { return delegate.calls.size() == 2; }));
  controller.getTicketsWithCustomerEmail("cu@example.org");
  ASSERT_TRUE(listingEnded(delegate));

  EXPECT_EQ(idsOf(controller), (std::vector<std::int64_t>{4, 7, 1, 6}));
  EXPECT_EQ(controller.relatedTickets()[2].subject, "A");
  EXPECT_EQ(controller.relatedTickets()[2].zendeskApplicationTag, "vv");
  EXPECT_EQ(controller.relatedTickets()[0].zendeskApplicationTag, "");
  ASSERT_TRUE(server.waitForRequests(5));
  const auto requests = server.requests();
  ASSERT_EQ(requests.size(), 5u);
  EXPECT_EQ(requests[1].path, "/api/v2/requests.json");
  EXPECT_EQ(requests[2].query, "page=2");
  EXPECT_EQ(requests[2].header("Authorization"), requests[1].header("Authorization"));  // the customer's
  EXPECT_EQ(requests[3].path, "/api/v2/organizations/5/tickets.json");
  EXPECT_EQ(requests[4].path, "/api/v2/users/9/tickets/ccd.json");
  EXPECT_EQ(requests[4].header("Authorization"), requests[0].header("Authorization"));  // the agent's
}

// A next page on another origin never receives the customer's credential,
// and the listing still ends; so does one whose stages bring nothing.
TEST(ZendeskListingTest, HostileNextPageAndEmptyStagesStillEnd) {
  TestCertificates certificates;
  ASSERT_TRUE(certificates.made());
  testing_support::HttpCaptureServer elsewhere(R"([{"status":200,"body":"{\"requests\":[]}"}])", certificates.server());
  const std::string hostile = elsewhere.baseUrl() + "/api/v2/requests.json?page=2";
  const std::string lookalike = "https://127.0.0.1:1@" + elsewhere.baseUrl().substr(8) + "/x";
  for (const std::string& nextPage : {hostile, lookalike}) {
    testing_support::HttpCaptureServer server(
        R"([{"status":200,"body":"{\"users\":[{\"id\":9,\"organization_id\":5}]}"},
            {"status":200,"body":"{\"requests\":[{\"id\":1,\"status\":\"open\"}],\"next_page\":\")" + nextPage + R"(\"}"},
            {"status":500},
            {"status":200,"body":"not json"}])",
        certificates.server());
    RecordingZendeskDelegate delegate;
    support::ZendeskController controller(&delegate, configurationFor(server.baseUrl(), certificates.authority()));
    controller.getUserInfoWithEmail("cu@example.org");
    ASSERT_TRUE(testing_support::runMainLoopUntil([&] { return delegate.calls.size() == 2; }));
    controller.getTicketsWithCustomerEmail("cu@example.org");
    ASSERT_TRUE(listingEnded(delegate)) << nextPage;
    EXPECT_EQ(idsOf(controller), std::vector<std::int64_t>{1});
    ASSERT_TRUE(server.waitForRequests(4));
    EXPECT_EQ(server.requestCount(), 4u);
  }
  EXPECT_EQ(elsewhere.requestCount(), 0u);
}

TEST(ZendeskListingTest, ListingEndsEarlyWithoutAUserOrAnAddress) {
  testing_support::HttpCaptureServer server(R"([{"status":200,"body":"{\"requests\":[]}"}])");
  RecordingZendeskDelegate delegate;
  support::ZendeskController controller(&delegate, configurationFor(server.baseUrl()));
  controller.getTicketsWithCustomerEmail(std::nullopt);
  EXPECT_EQ(delegate.calls, std::vector<std::string>{"ticketListingRetrieved"});  // at once
  controller.getTicketsWithCustomerEmail("cu@example.org");
  ASSERT_TRUE(testing_support::runMainLoopUntil([&] { return delegate.calls.size() == 2; }));
  ASSERT_TRUE(server.waitForRequests(1));
  EXPECT_EQ(server.requestCount(), 1u);  // no user found: no organisation or copy stage
}

}  // namespace
