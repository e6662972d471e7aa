#include "support/AmazonUploaderController.h"

#include <fstream>
#include <regex>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <openssl/evp.h>

#include "tests/support/HttpCaptureServer.h"
#include "tests/support/RunLoopWait.h"
#include "tests/support/TemporaryDirectory.h"
#include "tests/supportdesk/TestCertificates.h"

namespace {

constexpr std::int64_t kMiB = 1 << 20;

std::string makeFileBytes(std::int64_t size) {
  std::string bytes(static_cast<std::size_t>(size), '\0');
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>((i * 7919) >> 3);
  return bytes;
}

std::string md5Hex(const std::string& data) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_Digest(data.data(), data.size(), digest, &length, EVP_md5(), nullptr);
  std::string text;
  for (unsigned int i = 0; i < length; ++i) text += "0123456789abcdef"[digest[i] >> 4], text += "0123456789abcdef"[digest[i] & 15];
  return text;
}

class RecordingUploadDelegate : public support::AmazonUploaderControllerDelegateProtocol {
 public:
  bool respondsTo(std::string_view) const override { return true; }
  void amazonFileUploadedSuccessfully(const std::string& url, const std::filesystem::path&,
                                      const std::string& bucket) override {
    calls.push_back("uploaded " + url + " " + bucket);
  }
  void amazonFileUploadError(const std::string& text) override { calls.push_back("error " + text); }
  void amazonSegmentFileUploadError(const std::string& text) override { calls.push_back("segment error " + text); }
  void uploadDataReceived(std::int64_t, std::int64_t written, std::int64_t expected) override {
    lastWritten = written;
    expectedTotal = expected;
  }
  void cancelMultipartUploadSuccessfully() override { calls.push_back("aborted"); }
  void cancelUpload() override { calls.push_back("cancelUpload"); }
  std::vector<std::string> calls;
  std::int64_t lastWritten = 0;
  std::int64_t expectedTotal = 0;
};

class AmazonUploaderTest : public ::testing::Test {
 protected:
  // The peer with these behaviours (merged into the account settings), over https.
  std::unique_ptr<testing_support::HttpCaptureServer> startPeer(nlohmann::json behaviour, int version = 4) {
    nlohmann::json settings = {{"access", "AKIDEXAMPLE0TEST0KEY"}, {"secret", "wJalrXUtnFEMI/K7MDENG+bPxRfiCYEXAMPLEKEY"},
                               {"region", "eu-central-2"}, {"version", version}};
    if (behaviour.is_object()) settings.update(behaviour);
    const std::vector<std::string> arguments = {settings.dump(), certificates_.server().certificateFile,
                                                certificates_.server().keyFile};
    auto peer = std::make_unique<testing_support::HttpCaptureServer>(std::string(VZ_SUPPORTDESK_DIR) +
                                                                           "/object_store_peer.py",
                                                                       arguments);
    configuration_ = {peer->baseUrl(), "support bucket", "eu-central-2", version, "AKIDEXAMPLE0TEST0KEY",
                      "wJalrXUtnFEMI/K7MDENG+bPxRfiCYEXAMPLEKEY", certificates_.authority()};
    return peer;
  }

  std::filesystem::path makeFile(std::int64_t size) {
    const auto path = folder_ / "log file+1.zip";
    std::ofstream(path, std::ios::binary | std::ios::trunc) << makeFileBytes(size);
    return path;
  }

  bool finished(const RecordingUploadDelegate& delegate, std::size_t calls = 1) {
    return testing_support::runMainLoopUntil([&] { return delegate.calls.size() >= calls; }, "the upload's end",
                                             std::chrono::seconds(40));
  }

  TestCertificates certificates_;
  testing_support::TemporaryDirectory folder_;
  support::CloudStorageConfiguration configuration_;
};

// "<method> <query kind> <body size>" of each request, signatures checked by the peer.
std::vector<std::string> exchange(const testing_support::HttpCaptureServer& peer) {
  std::vector<std::string> lines;
  for (const auto& request : peer.requests()) {
    EXPECT_EQ(request.header("X-Peer-Signature"), "ok") << request.method << " " << request.query;
    EXPECT_EQ(request.header("X-Peer-Payload"), "ok") << request.method << " " << request.query;
    EXPECT_EQ(request.path, "/support%20bucket/Case%207/log%20file%2B1.zip");
    std::string query = request.query.substr(0, request.query.find('='));
    lines.push_back(request.method + " " + query + " " + request.header("X-Peer-Body-Size"));
  }
  return lines;
}

struct SizeCase {
  std::int64_t size;
  int version;
  std::vector<std::string> expected;  // "<method> <query kind> <body size>"
};

class AmazonUploaderSizeTest : public AmazonUploaderTest, public ::testing::WithParamInterface<SizeCase> {};

std::vector<SizeCase> sizeCases() {
  const std::string ten = std::to_string(10 * kMiB);
  return {
      {10 * kMiB - 1, 4, {"PUT  " + std::to_string(10 * kMiB - 1)}},
      {10 * kMiB - 1, 2, {"PUT  " + std::to_string(10 * kMiB - 1)}},
      {10 * kMiB, 4, {"POST uploads 0", "PUT partNumber " + ten, "PUT partNumber 0", "POST uploadId 81"}},
      {10 * kMiB, 2, {"POST uploads 0", "PUT partNumber " + ten, "PUT partNumber 0", "POST uploadId 81"}},
      {25 * kMiB, 4,
       {"POST uploads 0", "PUT partNumber " + ten, "PUT partNumber " + ten, "PUT partNumber " + std::to_string(5 * kMiB),
        "POST uploadId 81"}},
  };
}

TEST_P(AmazonUploaderSizeTest, SizeDecidesOnePutOrSegmentsAndEverySignatureHolds) {
  ASSERT_TRUE(certificates_.made());
  const SizeCase& c = GetParam();
  const std::string ten = std::to_string(10 * kMiB);
  auto peer = startPeer({}, c.version);
  RecordingUploadDelegate delegate;
  support::AmazonUploaderController controller(&delegate, configuration_);
  controller.uploadFileToAmazon(makeFile(c.size), "Case 7/");
  ASSERT_TRUE(finished(delegate)) << c.size;
  const std::string url = peer->baseUrl() + "/support%20bucket/Case%207/log%20file%2B1.zip";
  EXPECT_EQ(delegate.calls, std::vector<std::string>{"uploaded " + url + " support bucket"});
  EXPECT_EQ(controller.amazonUploadType(), c.size >= 10 * kMiB ? 1 : 0);
  ASSERT_TRUE(peer->waitForRequests(c.expected.size()));
  auto lines = exchange(*peer);
  lines.back().erase(lines.back().rfind(' ') + 1);
  auto expected = c.expected;
  expected.back().erase(expected.back().rfind(' ') + 1);
  EXPECT_EQ(lines, expected) << c.size << " v" << c.version;
  EXPECT_EQ(delegate.lastWritten, c.size);
  EXPECT_EQ(delegate.expectedTotal, c.size);
  const auto requests = peer->requests();
  EXPECT_TRUE(std::regex_match(requests[0].header("Date"),
                               std::regex("(Mon|Tue|Wed|Thu|Fri|Sat|Sun), [1-9][0-9]? [A-Z][a-z]{2} 20[0-9]{2} "
                                          "[0-2][0-9]:[0-5][0-9]:[0-5][0-9] \\+0000")))
      << requests[0].header("Date");
  if (c.size < 10 * kMiB) {
    EXPECT_EQ(requests[0].header("Content-Type"), "application/octet-stream");
    if (c.version == 4) {
      EXPECT_EQ(requests[0].header("x-amz-content-sha256"), "UNSIGNED-PAYLOAD");
    }
    return;
  }
  EXPECT_EQ(requests[1].query, "partNumber=1&uploadId=upload-1.x");
  EXPECT_EQ(requests[1].header("Content-Size"), ten);
  // Byte for byte, with the ETags the peer gave (quoted MD5 of each part).
  std::string expectedCompletion = "<CompleteMultipartUpload>\n";
  for (std::int64_t part = 0; part * 10 * kMiB <= c.size; ++part) {
    expectedCompletion += "<Part>\n<PartNumber>" + std::to_string(part + 1) + "</PartNumber>\n<ETag>\"" +
                          md5Hex(makeFileBytes(c.size).substr(part * 10 * kMiB, 10 * kMiB)) + "\"</ETag>\n</Part>\n";
  }
  expectedCompletion += "</CompleteMultipartUpload>";
  EXPECT_EQ(requests.back().body, expectedCompletion);
}

INSTANTIATE_TEST_SUITE_P(Sizes, AmazonUploaderSizeTest, ::testing::ValuesIn(sizeCases()));

// Each road ends with one clear report; what is held stays consistent.
TEST_F(AmazonUploaderTest, FailuresEndWithOneReport) {
  ASSERT_TRUE(certificates_.made());
  struct Case {
    nlohmann::json behaviour;
    std::string secret;  // empty: the right one
    std::vector<std::string> expected;
    std::size_t requests;
  };
  const Case cases[] = {
      {{{"noUploadId", true}}, "", {"error The cloud storage did not start the upload (no upload id)."}, 1},
      {{}, "wrong/secret", {"error forbidden"}, 1},
      {{{"failPartOnce", 1}}, "", {"segment error internal server error"}, 2},
  };
  for (const auto& c : cases) {
    auto peer = startPeer(c.behaviour);
    if (!c.secret.empty()) configuration_.secretKey = c.secret;
    RecordingUploadDelegate delegate;
    support::AmazonUploaderController controller(&delegate, configuration_);
    controller.uploadFileToAmazon(makeFile(10 * kMiB), "Case 7/");
    ASSERT_TRUE(finished(delegate)) << c.behaviour.dump();
    EXPECT_EQ(delegate.calls, c.expected) << c.behaviour.dump();
    ASSERT_TRUE(peer->waitForRequests(c.requests));
    EXPECT_EQ(peer->requestCount(), c.requests) << c.behaviour.dump();
    EXPECT_FALSE(controller.amazonUploader().currentMultiPartUploadId().has_value() && c.requests == 1);
  }
}

TEST_F(AmazonUploaderTest, AMissingETagStopsAndResumeSendsThatPartAgain) {
  ASSERT_TRUE(certificates_.made());
  auto peer = startPeer({{"failPartOnce", 2}});
  RecordingUploadDelegate delegate;
  support::AmazonUploaderController controller(&delegate, configuration_);
  controller.uploadFileToAmazon(makeFile(25 * kMiB), "Case 7/");
  ASSERT_TRUE(finished(delegate));
  EXPECT_EQ(delegate.calls, std::vector<std::string>{"segment error internal server error"});
  EXPECT_EQ(controller.amazonUploader().multipartSegmentEtagArray().size(), 1u);
  controller.resumeMultiPartUpload();
  ASSERT_TRUE(finished(delegate, 2));
  EXPECT_EQ(delegate.calls.back().rfind("uploaded ", 0), 0u);
  ASSERT_TRUE(peer->waitForRequests(6));
  std::vector<std::string> queries;
  for (const auto& request : peer->requests()) queries.push_back(request.query.substr(0, request.query.find('&')));
  EXPECT_EQ(queries, (std::vector<std::string>{"uploads", "partNumber=1", "partNumber=2", "partNumber=2",
                                               "partNumber=3", "uploadId=upload-1.x"}));

  auto silent = startPeer({{"noEtag", true}});
  RecordingUploadDelegate other;
  support::AmazonUploaderController stopped(&other, configuration_);
  stopped.uploadFileToAmazon(makeFile(25 * kMiB), "Case 7/");
  ASSERT_TRUE(finished(other));
  ASSERT_EQ(other.calls.size(), 1u);
  EXPECT_EQ(other.calls[0].rfind("segment error ", 0), 0u);
  EXPECT_NE(other.calls[0].find("Content-Length: 0"), std::string::npos);  // the reply's headers
  ASSERT_TRUE(silent->waitForRequests(2));
  EXPECT_EQ(silent->requestCount(), 2u);  // no second part after a missing ETag
}

TEST_F(AmazonUploaderTest, AbortAndCancel) {
  ASSERT_TRUE(certificates_.made());
  for (int abortStatus : {204, 200, 500}) {
    auto peer = startPeer({{"abortStatus", abortStatus}});
    RecordingUploadDelegate delegate;
    support::AmazonUploaderController controller(&delegate, configuration_);
    controller.uploadFileToAmazon(makeFile(25 * kMiB), "Case 7/");
    // Abort once the first part is under way: its cancellation is not reported.
    ASSERT_TRUE(testing_support::runMainLoopUntil([&] { return delegate.lastWritten > 0; }));
    controller.abortAmazonUpload();
    ASSERT_TRUE(finished(delegate));
    EXPECT_EQ(delegate.calls, std::vector<std::string>{abortStatus == 500 ? "error internal server error" : "aborted"});
    // The cancelled part may be recorded after the abort: look the abort up.
    std::optional<testing_support::CapturedRequest> abort;
    ASSERT_TRUE(testing_support::waitForCondition([&] {
      for (const auto& request : peer->requests()) {
        if (request.method == "DELETE") abort = request;
      }
      return abort.has_value();
    }));
    EXPECT_EQ(abort->path, "/support%20bucket/Case%207/log%20file%2B1.zip");
    EXPECT_EQ(abort->query, "uploadId=upload-1.x");
    EXPECT_EQ(abort->header("X-Peer-Signature"), "ok");
  }

  auto peer = startPeer({});
  RecordingUploadDelegate single;
  support::AmazonUploaderController controller(&single, configuration_);
  controller.uploadFileToAmazon(makeFile(10 * kMiB - 1), "Case 7/");
  controller.abortAmazonUpload();
  EXPECT_EQ(single.calls, std::vector<std::string>{"cancelUpload"});
  // The next upload's answer comes after the cancelled one's, which reports nothing.
  controller.uploadFileToAmazon(makeFile(kMiB), "Case 7/");
  ASSERT_TRUE(finished(single, 2));
  EXPECT_EQ(single.calls.size(), 2u);
  EXPECT_EQ(single.calls.back().rfind("uploaded ", 0), 0u);
}

TEST_F(AmazonUploaderTest, WithoutKeysNothingIsSent) {
  ASSERT_TRUE(certificates_.made());
  auto peer = startPeer({});
  configuration_.secretKey.clear();
  RecordingUploadDelegate delegate;
  support::AmazonUploaderController controller(&delegate, configuration_);
  controller.uploadFileToAmazon(makeFile(kMiB), "Case 7/");
  controller.uploadFileToAmazon(makeFile(10 * kMiB), "Case 7/");
  ASSERT_TRUE(finished(delegate, 2));
  EXPECT_EQ(delegate.calls, (std::vector<std::string>{"error Cloud storage is not configured.",
                                                      "error Cloud storage is not configured."}));
  EXPECT_EQ(peer->requestCount(), 0u);
}

}  // namespace
