#pragma once
// DCRCrashReportTextFormatter: a crash report as the conventional plain-text
// crash log (header, exception, backtraces, the crashed thread's registers,
// binary images). "???" stands wherever a value is missing. Stateless apart
// from its settings; any thread.

#include <cstdint>
#include <string>
#include <vector>

#include "crashreporter/Source/DCRCrashReport.h"
#include "platform/Error.h"

namespace crashreporter {

class DCRCrashReportTextFormatter {
 public:
  // The one layout there is.
  enum TextFormat : std::int64_t { TextFormatStandard = 0 };
  enum class StringEncoding { UTF8, ASCII };

  DCRCrashReportTextFormatter(std::int64_t textFormat, StringEncoding stringEncoding)
      : textFormat_(textFormat), stringEncoding_(stringEncoding) {}

  // The text in the configured encoding; characters ASCII cannot hold become '?'.
  platform::Result<std::vector<std::uint8_t>> formatReport(const DCRCrashReport& report) const;

  static std::string stringValueForCrashReport(const DCRCrashReport& report, std::int64_t textFormat);
  static std::string formatStackFrame(const DCRCrashReportStackFrameInfo& frame, std::int64_t frameIndex,
                                      const DCRCrashReport& report, bool lp64);

 private:
  std::int64_t textFormat_;
  StringEncoding stringEncoding_;
};

}  // namespace crashreporter
