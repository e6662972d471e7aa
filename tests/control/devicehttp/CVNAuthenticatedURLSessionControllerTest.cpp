// The device HTTP controller against a loopback lighttpd with Basic and
// Digest realms, plus its close-code names and keychain logins.

#include <gtest/gtest.h>

#include "control/devicehttp/CVNAuthenticatedURLSessionController.h"
#include "platform/DispatchQueue.h"
#include "platform/Semaphore.h"
#include "tests/platform/network/LighttpdFixture.h"
#include "tests/support/RunLoopWait.h"
#include "tests/support/TemporaryDirectory.h"

namespace control {
namespace {

using platform::Result;
using platform::URLResponse;

TEST(CVNAuthenticatedURLSessionControllerTest, BlockingRequestsLogInWithBasicOrDigestAndTryAWrongPasswordOnce) {
  testing_support::LighttpdFixture server;
  ASSERT_TRUE(server.ready());
  CVNAuthenticatedURLSessionController controller;
  struct Case {
    const char* path;
    const char* user;
    const char* password;
    long status;
    std::size_t requests;  // the challenge, then at most one try with the login
  };
  const Case cases[] = {
      {"/basic/index.txt", "operator", "right", 200, 2},
      {"/digest/index.txt", "operator", "right", 200, 2},
      {"/basic/index.txt", "operator", "wrong", 401, 2},
      {"/digest/index.txt", "operator", "wrong", 401, 2},
      {"/digest/index.txt", "", "", 401, 1},  // no login: nothing offered
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.path) + " " + c.password);
    const std::size_t before = server.requestsFor(c.path);
    Result<URLResponse> reply = controller.synchronouslyRequestDataAtURL(server.url(c.path), c.user, c.password);
    ASSERT_TRUE(reply.ok()) << reply.error().localizedDescription;
    EXPECT_EQ(reply.value().statusCode, c.status);
    ASSERT_TRUE(testing_support::waitForCondition([&] { return server.requestsFor(c.path) >= before + c.requests; }));
    EXPECT_EQ(server.requestsFor(c.path), before + c.requests);
  }
  // A session leaves the list just after its handler has run (and the blocking call returned).
  EXPECT_TRUE(testing_support::waitForCondition([&] { return controller.openSessionCount() == 0; }));
  EXPECT_FALSE(controller.synchronouslyDeleteItemAtURL(server.url("/open/index.txt"), "", ""));
}

TEST(CVNAuthenticatedURLSessionControllerTest, XMLRepliesParseAndBadOnesFailClearly) {
  auto good = CVNAuthenticatedURLSessionController::parseXML("<tally><column name=\"input1\" index=\"0\"/></tally>");
  ASSERT_TRUE(good.ok());
  EXPECT_EQ(good.value()->select_nodes("./tally/column").size(), 1u);
  for (const char* bad : {"", "<tally><column></tally>", "\x01\x02<"}) {
    auto parsed = CVNAuthenticatedURLSessionController::parseXML(bad);
    EXPECT_FALSE(parsed.ok()) << bad;
  }
  // A peer that is not there fails the request instead of hanging it.
  CVNAuthenticatedURLSessionController controller;
  auto missing = controller.XMLDocumentAtURL(
      "http://127.0.0.1:" + std::to_string(testing_support::freeLoopbackPort()) + "/v1/dictionary", "", "");
  EXPECT_FALSE(missing.ok());
}

TEST(CVNAuthenticatedURLSessionControllerTest, ABlockingRequestOnTheCompletionQueueIsRefused) {
  CVNAuthenticatedURLSessionController controller;
  platform::Semaphore done;
  std::optional<Result<URLResponse>> nested;
  controller.requestDataAtURL("http://127.0.0.1:1/", "", "", [&](Result<URLResponse>) {
    nested.emplace(controller.synchronouslyRequestDataAtURL("http://127.0.0.1:1/", "", ""));
    done.signal();
  });
  ASSERT_TRUE(done.wait(std::chrono::seconds(30)));
  ASSERT_TRUE(nested.has_value());
  ASSERT_FALSE(nested->ok());
  EXPECT_EQ(nested->error().code, static_cast<std::int64_t>(AuthenticatedURLSessionErrorCode::CalledOnDelegateQueue));
}

TEST(CVNAuthenticatedURLSessionControllerTest, CloseCodesHaveTheirNames) {
  const std::pair<std::int64_t, const char*> cases[] = {
      {0, "Invalid"},
      {1000, "Normal Closure"},
      {1006, "Abnormal Closure"},
      {1009, "Message Too Big"},
      {1015, "TLS Handshake Failure"},
      {1004, "Unknown Error Code Description"},
      {1012, "Unknown Error Code Description"},
      {4000, "Unknown Error Code Description"},
  };
  for (const auto& [code, name] : cases) {
    EXPECT_EQ(CVNAuthenticatedURLSessionController::stringFromWebSocketCloseCode(code), name) << code;
  }
}

TEST(CVNAuthenticatedURLSessionControllerTest, KeychainLoginsAreFoundByServerAndAChangedPasswordReplacesTheOldOne) {
  testing_support::TemporaryDirectory folder;
  platform::Keychain keychain(folder.path() / "store.plist");
  using C = CVNAuthenticatedURLSessionController;
  EXPECT_FALSE(C::keychainLoginInfoForServer(keychain, "").has_value());
  EXPECT_FALSE(C::keychainLoginInfoForServer(keychain, "10.0.0.5").has_value());

  ASSERT_TRUE(C::addOrUpdateKeychainPassword(keychain, "first", "operator", "10.0.0.5", "Switcher").ok());
  ASSERT_TRUE(C::addOrUpdateKeychainPassword(keychain, "second", "operator", "10.0.0.5", "Switcher").ok());
  const auto byServer = C::keychainLoginInfoForServer(keychain, "10.0.0.5");
  ASSERT_TRUE(byServer.has_value());
  EXPECT_EQ(byServer->at("user"), "operator");
  EXPECT_EQ(byServer->at("password"), "second");
  EXPECT_EQ(keychain.label("10.0.0.5", "operator").value(), std::optional<std::string>("Switcher"));
  EXPECT_FALSE(C::keychainLoginInfoForServer(keychain, "10.0.0.5", "someone else").has_value());

  ASSERT_TRUE(C::deleteKeychainPassword(keychain, "operator", "10.0.0.5").ok());
  EXPECT_FALSE(C::keychainLoginInfoForServer(keychain, "10.0.0.5", "operator").has_value());
}

}  // namespace
}  // namespace control
