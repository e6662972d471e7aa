#pragma once
// A fatal exception as a wrapper layer's own runtime saw it, kept on disk
// until the next start matches it with the crash report of the same process.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/KeyedArchive.h"
#include "platform/Value.h"
#include "telemetry/core/DRTLUtility.h"
#include "telemetry/services/crashes/logs/DRTLCrashDetails.h"

namespace telemetry::crashes {

class DRTLWrapperException : public platform::Archivable {
 public:
  std::shared_ptr<DRTLException> modelException;
  std::optional<platform::Data> exceptionData;  // opaque to this system
  std::optional<std::uint64_t> processId;

  core::DRTLJSON serializeToDictionary() const;
  std::string className() const override { return "DRTLWrapperException"; }
  void encode(platform::KeyedArchiveEncoder& encoder) const override;
  void decode(const platform::KeyedArchiveDecoder& decoder);
};

}  // namespace telemetry::crashes
