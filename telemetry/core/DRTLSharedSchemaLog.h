#pragma once
// DRTLSharedSchemaLog: the Shared Schema form of a log, one per target token.
// Its JSON holds "ver", "name", "time", "iKey", "flags" (when not 0), "ext"
// and "data", in that order, and no key of the base log. Built, stamped and
// stored on the channel group queue.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "telemetry/core/DRTLAbstractLog.h"
#include "telemetry/core/DRTLCSExtensions.h"

namespace telemetry::core {

class DRTLSharedSchemaLog : public DRTLAbstractLog {
 public:
  std::optional<std::string> ver;
  std::optional<std::string> name;
  double popSample = 0;  // archived only
  std::optional<std::string> iKey;
  std::int64_t flags = 0;
  std::optional<std::string> cV;  // archived only
  std::shared_ptr<DRTLCSExtensions> ext;
  std::shared_ptr<DRTLCSData> data;

  DRTLJSON serializeToDictionary() const override;
  bool isValid() const override;
  bool isEqual(const DRTLAbstractLog* other) const override;

  std::string className() const override { return "DRTLSharedSchemaLog"; }
  void encode(platform::KeyedArchiveEncoder& encoder) const override;
  void decode(const platform::KeyedArchiveDecoder& decoder);
};

// The epoch and sequence number of one instrumentation key; in memory only.
struct DRTLCSEpochAndSeq {
  explicit DRTLCSEpochAndSeq(std::string epoch) : epoch(std::move(epoch)) {}
  std::uint64_t seq = 0;
  std::string epoch;
};

}  // namespace telemetry::core
