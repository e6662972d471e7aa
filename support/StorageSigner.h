#pragma once
// Signs object-store requests: signature version 4 (the default; newer
// regions accept nothing else) or version 2 (HMAC-SHA1), as configured.
#include <memory>
#include <optional>
#include <string>

#include "platform/Clock.h"
#include "platform/network/URLSession.h"
#include "support/SupportConfiguration.h"

namespace support {

struct StorageRequestParts {
  std::string path;   // "/<bucket>/<key>", percent-encoded, "/" kept
  std::string query;  // without "?", e.g. "uploads" or "partNumber=2&uploadId=…"
  // SHA-256 of the body as lower-case hex; none for a body streamed unsigned.
  std::optional<std::string> payloadSha256;
};

class StorageSigner {
 public:
  virtual ~StorageSigner() = default;
  // Adds "Date", any signature headers and "Authorization" to `request`
  // (whose method and "Content-Type" header are already set).
  virtual void sign(platform::URLRequest& request, const StorageRequestParts& parts,
                    platform::Clock::WallTime now) const = 0;

  static std::unique_ptr<StorageSigner> make(const CloudStorageConfiguration& configuration);
};

// "EEE, d MMM yyyy HH:mm:ss Z" in UTC with English names.
std::string storageDate(platform::Clock::WallTime now);

}  // namespace support
