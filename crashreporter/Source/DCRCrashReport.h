#pragma once
// DCRCrashReport: a crash report file read into immutable value objects.
//
// The reader checks the 8-byte header, lets protobuf-c unpack the message
// (any field order, unknown fields skipped, required fields enforced), then
// builds one object per record, stopping at the first fault with an error of
// "DCRCrashReporterErrorDomain" code 2 and no object. Leniencies and limits:
// input over 16 MiB is refused before parsing; ill-formed UTF-8 in a string is
// replaced by U+FFFD, not fatal; at most 255 Mach exception codes; a report
// identifier must be 16 bytes. Immutable once made; any thread.

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "crashreporter/Source/DCRCrashReportModel.h"
#include "platform/Error.h"

namespace crashreporter {

inline constexpr std::size_t kMaxCrashReportBytes = 16 * 1024 * 1024;

class DCRCrashReport {
 public:
  using UUID = std::array<std::uint8_t, 16>;

  static platform::Result<std::shared_ptr<const DCRCrashReport>> initWithData(std::span<const std::uint8_t> data);

  const std::shared_ptr<const DCRCrashReportSystemInfo>& systemInfo() const { return systemInfo_; }
  bool hasMachineInfo() const { return machineInfo_ != nullptr; }
  const std::shared_ptr<const DCRCrashReportMachineInfo>& machineInfo() const { return machineInfo_; }
  const std::shared_ptr<const DCRCrashReportApplicationInfo>& applicationInfo() const { return applicationInfo_; }
  bool hasProcessInfo() const { return processInfo_ != nullptr; }
  const std::shared_ptr<const DCRCrashReportProcessInfo>& processInfo() const { return processInfo_; }
  const std::shared_ptr<const DCRCrashReportSignalInfo>& signalInfo() const { return signalInfo_; }
  const std::shared_ptr<const DCRCrashReportMachExceptionInfo>& machExceptionInfo() const { return machExceptionInfo_; }
  const std::vector<std::shared_ptr<const DCRCrashReportThreadInfo>>& threads() const { return threads_; }
  const std::vector<std::shared_ptr<const DCRCrashReportBinaryImageInfo>>& images() const { return images_; }
  bool hasExceptionInfo() const { return exceptionInfo_ != nullptr; }
  const std::shared_ptr<const DCRCrashReportExceptionInfo>& exceptionInfo() const { return exceptionInfo_; }
  const std::optional<std::vector<std::uint8_t>>& customData() const { return customData_; }
  const std::optional<UUID>& uuidRef() const { return uuidRef_; }

  // The first image, in list order, with base <= address < base + size; an
  // image whose end would pass 2^64 ends there instead of wrapping round.
  std::shared_ptr<const DCRCrashReportBinaryImageInfo> imageForAddress(std::uint64_t address) const;

 private:
  friend class CrashReportBuilder;
  DCRCrashReport() = default;

  std::shared_ptr<const DCRCrashReportSystemInfo> systemInfo_;
  std::shared_ptr<const DCRCrashReportMachineInfo> machineInfo_;
  std::shared_ptr<const DCRCrashReportApplicationInfo> applicationInfo_;
  std::shared_ptr<const DCRCrashReportProcessInfo> processInfo_;
  std::shared_ptr<const DCRCrashReportSignalInfo> signalInfo_;
  std::shared_ptr<const DCRCrashReportMachExceptionInfo> machExceptionInfo_;
  std::vector<std::shared_ptr<const DCRCrashReportThreadInfo>> threads_;
  std::vector<std::shared_ptr<const DCRCrashReportBinaryImageInfo>> images_;
  std::shared_ptr<const DCRCrashReportExceptionInfo> exceptionInfo_;
  std::optional<std::vector<std::uint8_t>> customData_;
  std::optional<UUID> uuidRef_;
};

}  // namespace crashreporter
