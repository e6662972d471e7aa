#include "support/StorageSigner.h"

#include <algorithm>
#include <vector>

#include "platform/Base64.h"
#include "platform/DateFormatter.h"
#include "support/StorageCrypto.h"

namespace support {

namespace {

std::string utcText(platform::Clock::WallTime now, const char* pattern) {
  auto formatter = platform::DateFormatter::create(pattern, "en_US_POSIX", "UTC");
  return formatter ? formatter.value().stringFromDate(now) : std::string();
}

std::string headerValue(const platform::URLRequest& request, const std::string& name) {
  for (const auto& [key, value] : request.headers) {
    if (key == name) return value;
  }
  return {};
}

// "host[:port]" of "scheme://host[:port]/…".
std::string hostOf(const std::string& endpoint) {
  const auto start = endpoint.find("://");
  const auto from = start == std::string::npos ? 0 : start + 3;
  return endpoint.substr(from, endpoint.find('/', from) - from);
}

class SignatureV2Signer final : public StorageSigner {
 public:
  explicit SignatureV2Signer(CloudStorageConfiguration configuration) : configuration_(std::move(configuration)) {}

  void sign(platform::URLRequest& request, const StorageRequestParts& parts,
            platform::Clock::WallTime now) const override {
    const std::string date = storageDate(now);
    request.headers.emplace_back("Date", date);
    const std::string stringToSign = request.method + "\n\n" + headerValue(request, "Content-Type") + "\n" + date +
                                     "\n" + parts.path + (parts.query.empty() ? "" : "?" + parts.query);
    const std::string mac = StorageCrypto::hmacSha1(configuration_.secretKey, stringToSign);
    request.headers.emplace_back(
        "Authorization", "AWS " + configuration_.accessKey + ":" +
                             platform::base64Encode(reinterpret_cast<const std::uint8_t*>(mac.data()), mac.size()));
  }

 private:
  CloudStorageConfiguration configuration_;
};

class SignatureV4Signer final : public StorageSigner {
 public:
  explicit SignatureV4Signer(CloudStorageConfiguration configuration) : configuration_(std::move(configuration)) {}

  void sign(platform::URLRequest& request, const StorageRequestParts& parts,
            platform::Clock::WallTime now) const override {
    const std::string amzDate = utcText(now, "yyyyMMdd'T'HHmmss'Z'");
    const std::string day = amzDate.substr(0, 8);
    const std::string payload = parts.payloadSha256.value_or("UNSIGNED-PAYLOAD");
    request.headers.emplace_back("Date", storageDate(now));
    request.headers.emplace_back("x-amz-content-sha256", payload);
    request.headers.emplace_back("x-amz-date", amzDate);
    const char* signedHeaders = "host;x-amz-content-sha256;x-amz-date";
    const std::string canonicalRequest = request.method + "\n" + parts.path + "\n" + canonicalQuery(parts.query) +
                                         "\nhost:" + hostOf(configuration_.endpoint) +
                                         "\nx-amz-content-sha256:" + payload + "\nx-amz-date:" + amzDate + "\n\n" +
                                         signedHeaders + "\n" + payload;
    const std::string scope = day + "/" + configuration_.region + "/s3/aws4_request";
    const std::string stringToSign = "AWS4-HMAC-SHA256\n" + amzDate + "\n" + scope + "\n" +
                                     StorageCrypto::hex(StorageCrypto::sha256(canonicalRequest));
    std::string key = StorageCrypto::hmacSha256("AWS4" + configuration_.secretKey, day);
    for (const std::string& part : {configuration_.region, std::string("s3"), std::string("aws4_request")}) {
      key = StorageCrypto::hmacSha256(key, part);
    }
    request.headers.emplace_back("Authorization", "AWS4-HMAC-SHA256 Credential=" + configuration_.accessKey + "/" +
                                                      scope + ", SignedHeaders=" + signedHeaders + ", Signature=" +
                                                      StorageCrypto::hex(StorageCrypto::hmacSha256(key, stringToSign)));
  }

 private:
  // The query's pairs sorted by name, each with its "=" (values are already encoded).
  static std::string canonicalQuery(const std::string& query) {
    std::vector<std::string> pairs;
    for (std::size_t start = 0; start < query.size();) {
      std::size_t end = query.find('&', start);
      if (end == std::string::npos) end = query.size();
      std::string pair = query.substr(start, end - start);
      if (pair.find('=') == std::string::npos) pair += '=';
      pairs.push_back(std::move(pair));
      start = end + 1;
    }
    std::sort(pairs.begin(), pairs.end());
    std::string text;
    for (const std::string& pair : pairs) text += (text.empty() ? "" : "&") + pair;
    return text;
  }

  CloudStorageConfiguration configuration_;
};

}  // namespace

std::string storageDate(platform::Clock::WallTime now) { return utcText(now, "EEE, d MMM yyyy HH:mm:ss Z"); }

std::unique_ptr<StorageSigner> StorageSigner::make(const CloudStorageConfiguration& configuration) {
  if (configuration.signatureVersion == 2) return std::make_unique<SignatureV2Signer>(configuration);
  return std::make_unique<SignatureV4Signer>(configuration);
}

}  // namespace support
