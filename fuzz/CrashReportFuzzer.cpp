// Crash report files: the reader must refuse damaged bytes with an error and
// never read past them; what it accepts must format without fault.

#include <cstddef>
#include <cstdint>

#include "crashreporter/Source/DCRCrashReport.h"
#include "crashreporter/Source/DCRCrashReportFormat.h"
#include "crashreporter/Source/DCRCrashReportTextFormatter.h"
#include "platform/Diagnostics.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool quiet = [] {
    platform::setDiagnosticHandler([](platform::DiagnosticLevel, const std::string&) {});
    return true;
  }();
  (void)quiet;
  // Half the inputs get a valid header, so the message parser sees them.
  std::vector<std::uint8_t> bytes;
  if (size > 0 && (data[0] & 1)) {
    bytes.assign(std::begin(crashreporter::kDrcrashReportHeader), std::end(crashreporter::kDrcrashReportHeader));
    bytes.insert(bytes.end(), data + 1, data + size);
  } else {
    bytes.assign(data, data + size);
  }
  auto report = crashreporter::DCRCrashReport::initWithData(bytes);
  if (report.ok()) {
    const std::string text = crashreporter::DCRCrashReportTextFormatter::stringValueForCrashReport(**report, 0);
    (void)text;
  }
  return 0;
}
