#include "crashreporter/Source/DCRCrashReportTextFormatter.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <ctime>
#include <string_view>

#include "platform/Diagnostics.h"
#include "platform/Utf8.h"

namespace crashreporter {
namespace {

constexpr const char* kMissing = "???";
constexpr std::uint64_t kMachTypeX86 = 7, kMachTypeArm = 12, kMachTypePowerPC = 18;
constexpr std::uint64_t kMachTypeX86_64 = 0x1000007, kMachTypeArm64 = 0x100000C;

template <typename... Args>
std::string format(const char* pattern, Args... args) {
  char buffer[512];
  const int length = std::snprintf(buffer, sizeof buffer, pattern, args...);
  if (length < 0) return {};
  if (static_cast<std::size_t>(length) < sizeof buffer) return std::string(buffer, static_cast<std::size_t>(length));
  std::string out(static_cast<std::size_t>(length), '\0');
  std::snprintf(out.data(), out.size() + 1, pattern, args...);
  return out;
}

const std::string& orMissing(const std::optional<std::string>& value) {
  static const std::string missing = kMissing;
  return value ? *value : missing;
}

std::string lastPathComponent(const std::string& path) {
  const auto slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Pads to `width` characters (not bytes), as a text column does.
std::string leftAligned(const std::string& text, std::size_t width) {
  std::size_t characters = 0;
  for (std::size_t i = 0; i < text.size();) {
    platform::nextCodePoint(text, i);
    ++characters;
  }
  return characters >= width ? text : text + std::string(width - characters, ' ');
}

std::string operatingSystemName(std::int32_t os) {
  switch (os) {
    case DCRCrashReportSystemInfo::MacOSX:
    case DCRCrashReportSystemInfo::IPhoneSimulator: return "Mac OS X";
    case DCRCrashReportSystemInfo::IPhoneOS: return "iPhone OS";
    case DCRCrashReportSystemInfo::AppleTVOS: return "Apple tvOS";
    default: return format("Unknown (%d)", os);
  }
}

bool hasKnownPrefixRules(std::int32_t os) {
  return os == DCRCrashReportSystemInfo::MacOSX || os == DCRCrashReportSystemInfo::IPhoneOS ||
         os == DCRCrashReportSystemInfo::IPhoneSimulator || os == DCRCrashReportSystemInfo::AppleTVOS;
}

struct CodeType {
  std::string name;
  bool lp64 = true;
};

std::optional<CodeType> knownCodeType(const DCRCrashReportProcessorInfo& processor) {
  if (processor.typeEncoding() != DCRCrashReportProcessorInfo::TypeEncodingMach) return std::nullopt;
  switch (processor.type()) {
    case kMachTypeX86: return CodeType{"X86", false};
    case kMachTypeArm: return CodeType{"ARM", false};
    case kMachTypePowerPC: return CodeType{"PPC", false};
    case kMachTypeX86_64: return CodeType{"X86-64", true};
    case kMachTypeArm64: return CodeType{"ARM-64", true};
    default: return std::nullopt;
  }
}

CodeType reportCodeType(const DCRCrashReport& report) {
  for (const auto& image : report.images()) {
    if (image->codeType()) {
      if (auto known = knownCodeType(*image->codeType())) return *known;
    }
  }
  const auto& processor = report.systemInfo()->processorInfo();
  if (auto known = knownCodeType(*processor)) return *known;
  if (processor->typeEncoding() != DCRCrashReportProcessorInfo::TypeEncodingMach) return {"Unknown", true};
  return {format("Unknown (%" PRIu64 ")", processor->type()), true};
}

std::string architectureName(const ProcessorInfoPtr& codeType) {
  if (!codeType || codeType->typeEncoding() != DCRCrashReportProcessorInfo::TypeEncodingMach) return kMissing;
  const std::uint64_t subtype = codeType->subtype() & 0xFFFFFF;
  switch (codeType->type()) {
    case kMachTypeX86: return "i386";
    case kMachTypeArm:
      return subtype == 6 ? "armv6" : subtype == 9 ? "armv7" : subtype == 11 ? "armv7s" : "arm-unknown";
    case kMachTypePowerPC: return "powerpc";
    case kMachTypeX86_64: return "x86_64";
    case kMachTypeArm64:
      return subtype == 2 ? "arm64e" : subtype == 1 ? "armv8" : subtype == 0 ? "arm64" : "arm64-unknown";
    default: return kMissing;
  }
}

std::string uuidText(const std::optional<DCRCrashReport::UUID>& uuid) {
  if (!uuid) return kMissing;
  const auto& b = *uuid;
  return format("%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X", b[0], b[1], b[2], b[3], b[4],
                b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12], b[13], b[14], b[15]);
}

std::string dateText(const std::optional<ReportDate>& date) {
  if (!date) return kMissing;
  const std::time_t seconds = std::chrono::system_clock::to_time_t(*date);
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char buffer[64];
  std::strftime(buffer, sizeof buffer, "%Y-%m-%d %H:%M:%S +0000", &utc);
  return buffer;
}

void appendHeader(std::string& out, const DCRCrashReport& report, const CodeType& codeType) {
  const auto& process = report.processInfo();
  const auto& application = *report.applicationInfo();
  const auto& system = *report.systemInfo();
  out += "Incident Identifier: " + uuidText(report.uuidRef()) + "\n";
  out += "Hardware Model:      " + (report.machineInfo() ? orMissing(report.machineInfo()->modelName()) : kMissing) + "\n";
  out += "Process:         " + (process ? orMissing(process->processName()) : kMissing) + " [" +
         (process ? std::to_string(process->processID()) : kMissing) + "]\n";
  out += "Path:            " + (process ? orMissing(process->processPath()) : kMissing) + "\n";
  out += "Identifier:      " + application.applicationIdentifier() + "\n";
  const std::string version = application.applicationMarketingVersion()
                                  ? *application.applicationMarketingVersion() + " (" + application.applicationVersion() + ")"
                                  : application.applicationVersion();
  out += "Version:         " + version + "\n";
  out += "Code Type:       " + codeType.name + "\n";
  out += "Parent Process:  " + (process ? orMissing(process->parentProcessName()) : kMissing) + " [" +
         (process ? std::to_string(process->parentProcessID()) : kMissing) + "]\n\n";
  out += "Date/Time:       " + dateText(system.timestamp()) + "\n";
  out += "OS Version:      " + operatingSystemName(system.operatingSystem()) + " " + system.operatingSystemVersion() +
         " (" + orMissing(system.operatingSystemBuild()) + ")\n";
  out += "Report Version:  104\n\n";
}

void appendException(std::string& out, const DCRCrashReport& report, bool lp64) {
  const auto& signal = *report.signalInfo();
  out += "Exception Type:  " + signal.name() + "\n";
  out += "Exception Codes: " + signal.code() + format(" at 0x%" PRIx64 "\n", signal.address());
  for (const auto& thread : report.threads()) {
    if (thread->crashed()) {
      out += format("Crashed Thread:  %" PRId64 "\n", thread->threadNumber());
      break;
    }
  }
  out += "\n";
  if (const auto& exception = report.exceptionInfo()) {
    out += "Application Specific Information:\n";
    out += "*** Terminating app due to uncaught exception '" + exception->exceptionName() + "', reason: '" +
           exception->exceptionReason() + "'\n\n";
    if (exception->stackFrames() && !exception->stackFrames()->empty()) {
      out += "Last Exception Backtrace:\n";
      std::int64_t index = 0;
      for (const auto& frame : *exception->stackFrames()) {
        out += DCRCrashReportTextFormatter::formatStackFrame(frame, index++, report, lp64);
      }
      out += "\n";
    }
  }
}

void appendThreads(std::string& out, const DCRCrashReport& report, const CodeType& codeType) {
  std::shared_ptr<const DCRCrashReportThreadInfo> crashed;
  for (const auto& thread : report.threads()) {
    out += format(thread->crashed() ? "Thread %" PRId64 " Crashed:\n" : "Thread %" PRId64 ":\n", thread->threadNumber());
    std::int64_t index = 0;
    for (const auto& frame : thread->stackFrames()) {
      out += DCRCrashReportTextFormatter::formatStackFrame(frame, index++, report, codeType.lp64);
    }
    out += "\n";
    if (thread->crashed()) crashed = thread;
  }
  if (!crashed) return;
  out += format("Thread %" PRId64 " crashed with %s Thread State:\n", crashed->threadNumber(), codeType.name.c_str());
  const auto& machine = report.machineInfo();
  const bool arm32 = machine && machine->processorInfo() &&
                     machine->processorInfo()->typeEncoding() == DCRCrashReportProcessorInfo::TypeEncodingMach &&
                     (machine->processorInfo()->type() & 0xFFFFFF) == kMachTypeArm;
  std::size_t count = 0;
  for (const auto& value : crashed->registers()) {
    const std::string name = arm32 && value.registerName() == "r12" ? "ip" : value.registerName();
    out += codeType.lp64 ? format("%6s: 0x%016" PRIx64 " ", name.c_str(), value.registerValue())
                         : format("%6s: 0x%08" PRIx64 " ", name.c_str(), value.registerValue());
    if (++count % 4 == 0) out += "\n";
  }
  if (count % 4 != 0) out += "\n";
  out += "\n";
}

void appendImages(std::string& out, const DCRCrashReport& report, bool lp64) {
  auto images = report.images();
  std::stable_sort(images.begin(), images.end(),
                   [](const auto& a, const auto& b) { return a->imageBaseAddress() < b->imageBaseAddress(); });
  const auto& process = report.processInfo();
  const std::optional<std::string> processPath = process ? process->processPath() : std::nullopt;
  out += "Binary Images:\n";
  const DCRCrashReportBinaryImageInfo* previous = nullptr;
  for (const auto& image : images) {
    if (previous != nullptr && previous->imageBaseAddress() == image->imageBaseAddress()) continue;
    previous = image.get();
    const std::uint64_t base = image->imageBaseAddress();
    const std::uint64_t end = image->imageSize() == 0 ? base : base + image->imageSize() - 1;
    const char* own = processPath && *processPath == image->imageName() ? "+" : " ";
    out += format(lp64 ? "%#18" PRIx64 " - %#18" PRIx64 " " : "%#10" PRIx64 " - %#10" PRIx64 " ", base, end);
    out += std::string(own) + lastPathComponent(image->imageName()) + " " + architectureName(image->codeType()) + "  <" +
           orMissing(image->imageUUID()) + "> " + image->imageName() + "\n";
  }
}

}  // namespace

std::string DCRCrashReportTextFormatter::formatStackFrame(const DCRCrashReportStackFrameInfo& frame,
                                                          std::int64_t frameIndex, const DCRCrashReport& report,
                                                          bool lp64) {
  const std::uint64_t pc = frame.instructionPointer();
  const auto image = report.imageForAddress(pc);
  std::string location;
  if (const auto& symbol = frame.symbolInfo()) {
    std::string name = symbol->symbolName();
    const std::int32_t os = report.systemInfo()->operatingSystem();
    if (hasKnownPrefixRules(os)) {
      if (name.size() >= 2 && name[0] == '_') name.erase(0, 1);
    } else {
      platform::reportDiagnostic(platform::DiagnosticLevel::Info,
                                 "[DCRCrashReporter] Symbol \"" + name + "\" prefix rules are unknown for this OS!");
    }
    location = name + format(" + %lld", static_cast<long long>(pc - symbol->startAddress()));
  } else {
    const std::uint64_t base = image ? image->imageBaseAddress() : 0;
    if (!image && pc != 0) {
      platform::reportDiagnostic(platform::DiagnosticLevel::Info,
                                 format("[DCRCrashReporter] Cannot find image for 0x%" PRIx64, pc));
    }
    location = format("0x%" PRIx64 " + %lld", base, image ? static_cast<long long>(pc - base) : 0LL);
  }
  const std::string imageName = image ? lastPathComponent(image->imageName()) : kMissing;
  return format("%-4" PRId64, frameIndex) + leftAligned(imageName, 35) +
         format(" 0x%0*" PRIx64 " ", lp64 ? 16 : 8, pc) + location + "\n";
}

std::string DCRCrashReportTextFormatter::stringValueForCrashReport(const DCRCrashReport& report, std::int64_t) {
  const CodeType codeType = reportCodeType(report);
  std::string out;
  appendHeader(out, report, codeType);
  appendException(out, report, codeType.lp64);
  appendThreads(out, report, codeType);
  appendImages(out, report, codeType.lp64);
  return out;
}

platform::Result<std::vector<std::uint8_t>> DCRCrashReportTextFormatter::formatReport(const DCRCrashReport& report) const {
  const std::string text = stringValueForCrashReport(report, textFormat_);
  if (stringEncoding_ == StringEncoding::UTF8) return std::vector<std::uint8_t>(text.begin(), text.end());
  std::vector<std::uint8_t> bytes;
  bytes.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const char32_t c = platform::nextCodePoint(text, i);
    bytes.push_back(c < 0x80 ? static_cast<std::uint8_t>(c) : '?');
  }
  return bytes;
}

}  // namespace crashreporter
