#include "telemetry/services/crashes/logs/DRTLErrorLogFormatter.h"
#include "telemetry/services/crashes/exceptions/DRTLWrapperExceptionManager.h"

#include <chrono>
#include <cstdio>

#include "foundation/GenerateUniqueID.h"
#include "telemetry/core/DRTLDeviceTracker.h"
#include "telemetry/core/DRTLLogger.h"
#include "telemetry/core/Services/DRTLDirAraded.h"

namespace telemetry::crashes {
namespace {

using crashreporter::DCRCrashReportProcessorInfo;
using crashreporter::DCRCrashReportSystemInfo;
using crashreporter::ReportDate;

constexpr std::uint64_t kCodeTypeX86 = 7;
constexpr std::uint64_t kCodeTypeArm = 12;
constexpr std::uint64_t kCodeTypeX86_64 = 0x01000007;
constexpr std::uint64_t kCodeTypeArm64 = 0x0100000C;

#define DRTL_CRASHES_LOG(level, expression) DRTL_LOG((level), kDRTLCrashesLogTag, expression)

platform::Date toDate(ReportDate time) { return std::chrono::time_point_cast<std::chrono::microseconds>(time); }

std::string hexText(const char* format, unsigned long long a, long long b) {
  char text[64];
  std::snprintf(text, sizeof text, format, a, b);
  return text;
}

// The selector registers by code type, tried in order.
std::vector<const char*> selectorRegisters(std::uint64_t codeType) {
  switch (codeType) {
    case kCodeTypeX86: return {"ecx"};
    case kCodeTypeArm: return {"r1", "r2"};
    case kCodeTypeX86_64: return {"rsi", "rdx"};
    case kCodeTypeArm64: return {"x1"};
    default: return {};
  }
}

}  // namespace

std::shared_ptr<DRTLAppleErrorLog> DRTLErrorLogFormatter::errorLogFromCrashReport(const Report& report) {
  auto log = std::make_shared<DRTLAppleErrorLog>();
  log->errorId = errorIdForCrashReport(report);
  addProcessInfoAndApplicationPathTo(*log, report);

  const auto crashedThread = findCrashedThreadInReport(report);
  log->errorThreadId = crashedThread ? crashedThread->threadNumber() : 0;
  log->fatal = true;
  log->appLaunchTimestamp = getAppLaunchTimeFromReport(report);

  // A whole-second crash time gets 0.999 s, so it never sorts before logs of
  // the same second; no time at all counts as 0 s.
  const std::optional<platform::Date> crashTime = getCrashTimeFromReport(report);
  platform::Date timestamp = crashTime.value_or(platform::Date{});
  if (timestamp.time_since_epoch() % std::chrono::seconds(1) == std::chrono::microseconds(0)) {
    timestamp += std::chrono::milliseconds(999);
  }
  log->timestamp = timestamp;

  std::uint64_t codeType = 0, codeSubtype = 0;
  if (report.hasMachineInfo() && report.machineInfo()->processorInfo()) {
    codeType = report.machineInfo()->processorInfo()->type();
    codeSubtype = report.machineInfo()->processorInfo()->subtype();
  }
  for (const auto& image : report.images()) {
    const auto& imageCodeType = image->codeType();
    if (imageCodeType && imageCodeType->typeEncoding() == DCRCrashReportProcessorInfo::TypeEncodingMach) {
      codeType = imageCodeType->type();
      codeSubtype = imageCodeType->subtype();
      break;
    }
  }
  const bool is64bit = isCodeType64bit(codeType);
  log->primaryArchitectureId = codeType;
  log->architectureVariantId = codeSubtype;

  if (const auto& signal = report.signalInfo()) {
    log->osExceptionType = signal->name();
    log->osExceptionCode = signal->code();
    log->osExceptionAddress = hexText("0x%llx", signal->address(), 0);
  }
  log->exceptionReason = extractExceptionReasonFromReport(report);
  if (report.hasExceptionInfo()) log->exceptionType = report.exceptionInfo()->exceptionName();
  log->selectorRegisterValue = selectorRegisterValueFromReport(report, crashedThread, codeType);
  log->threads = extractThreadsFromReport(report, crashedThread, is64bit);
  log->registers = extractRegistersFromCrashedThread(crashedThread, is64bit);
  log->binaries = extractBinaryImagesFromReport(report, is64bit);
  log->device = core::DRTLDeviceTracker::sharedInstance()->deviceForTimestamp(log->timestamp);
  if (const auto wrapper = DRTLWrapperExceptionManager::loadWrapperExceptionWithUUIDString(log->errorId.value_or(""))) {
    log->exception = wrapper->modelException;
  }
  return log;
}

std::shared_ptr<DRTLErrorReport> DRTLErrorLogFormatter::errorReportFromCrashReport(const Report* report) {
  if (report == nullptr) return nullptr;
  return errorReportFromLog(*errorLogFromCrashReport(*report));
}

std::shared_ptr<DRTLErrorReport> DRTLErrorLogFormatter::errorReportFromLog(const DRTLAppleErrorLog& log) {
  return std::make_shared<DRTLErrorReport>(
      log.errorId, core::DRTLDirAraded::installId(), log.osExceptionType, log.exceptionType, log.exceptionReason,
      log.appLaunchTimestamp, log.timestamp, core::DRTLDeviceTracker::sharedInstance()->deviceForTimestamp(log.timestamp),
      static_cast<std::uint64_t>(log.processId.value_or(0)));
}

std::string DRTLErrorLogFormatter::errorIdForCrashReport(const Report& report) {
  if (auto text = uuidRefToString(report.uuidRef())) return *text;
  return foundation::GenerateUniqueID::generateUniqueID();
}

DRTLAppleErrorLog& DRTLErrorLogFormatter::addProcessInfoAndApplicationPathTo(DRTLAppleErrorLog& log,
                                                                             const Report& report) {
  log.processId = 0;
  log.processName = "???";
  log.parentProcessName = "???";
  log.parentProcessId.reset();
  log.applicationPath = "???";
  if (!report.hasProcessInfo()) return log;
  const auto& process = *report.processInfo();
  log.processId = process.processID();
  if (process.processName()) log.processName = *process.processName();
  if (process.processPath()) log.applicationPath = anonymizedPathFromPath(*process.processPath());
  if (process.parentProcessName()) log.parentProcessName = *process.parentProcessName();
  log.parentProcessId = process.parentProcessID();
  return log;
}

std::optional<platform::Date> DRTLErrorLogFormatter::getAppLaunchTimeFromReport(const Report& report) {
  if (report.hasProcessInfo()) {
    const auto& start = report.processInfo()->processStartTime();
    return start ? std::optional(toDate(*start)) : std::nullopt;
  }
  return getCrashTimeFromReport(report);
}

std::optional<platform::Date> DRTLErrorLogFormatter::getCrashTimeFromReport(const Report& report) {
  if (!report.systemInfo() || !report.systemInfo()->timestamp()) return std::nullopt;
  return toDate(*report.systemInfo()->timestamp());
}

std::shared_ptr<const DRTLErrorLogFormatter::ThreadInfo> DRTLErrorLogFormatter::findCrashedThreadInReport(
    const Report& report) {
  for (const auto& thread : report.threads()) {
    if (thread->crashed()) return thread;
  }
  return nullptr;
}

bool DRTLErrorLogFormatter::isCodeType64bit(std::uint64_t codeType) {
  return codeType == kCodeTypeX86_64 || codeType == kCodeTypeArm64;
}

std::string DRTLErrorLogFormatter::formatAddress(std::uint64_t address, bool is64bit) {
  char text[32];
  std::snprintf(text, sizeof text, "0x%0*llx", is64bit ? 16 : 8, static_cast<unsigned long long>(address));
  return text;
}

std::optional<std::string> DRTLErrorLogFormatter::uuidRefToString(const std::optional<Report::UUID>& uuid) {
  if (!uuid) return std::nullopt;
  std::string text;
  for (std::size_t i = 0; i < uuid->size(); ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) text += '-';
    char pair[3];
    std::snprintf(pair, sizeof pair, "%02X", (*uuid)[i]);
    text += pair;
  }
  return text;
}

std::vector<std::shared_ptr<DRTLThread>> DRTLErrorLogFormatter::extractThreadsFromReport(
    const Report& report, const std::shared_ptr<const ThreadInfo>& crashedThread, bool is64bit) {
  std::shared_ptr<DRTLException> exception;
  if (report.hasExceptionInfo() && report.exceptionInfo()->stackFrames() &&
      !report.exceptionInfo()->stackFrames()->empty()) {
    const auto& info = *report.exceptionInfo();
    exception = std::make_shared<DRTLException>();
    exception->message = info.exceptionReason();
    exception->type = info.exceptionName();
    if (info.exceptionName().empty() && report.signalInfo()) exception->type = report.signalInfo()->name();
    exception->frames.emplace();
    for (const auto& frame : *info.stackFrames()) {
      auto model = std::make_shared<DRTLStackFrame>();
      model->address = formatAddress(frame.instructionPointer(), is64bit);
      exception->frames->push_back(std::move(model));
    }
  }

  std::vector<std::shared_ptr<DRTLThread>> threads;
  threads.reserve(report.threads().size());
  for (const auto& info : report.threads()) {
    auto thread = std::make_shared<DRTLThread>();
    thread->threadId = info->threadNumber();
    if (crashedThread && exception && info->threadNumber() == crashedThread->threadNumber()) {
      thread->exception = exception;
    }
    thread->frames->reserve(info->stackFrames().size());
    for (const auto& frame : info->stackFrames()) {
      auto model = std::make_shared<DRTLStackFrame>();
      model->address = formatAddress(frame.instructionPointer(), is64bit);
      model->code = formatStackFrame(frame, report);
      thread->frames->push_back(std::move(model));
    }
    threads.push_back(std::move(thread));
  }
  return threads;
}

std::string DRTLErrorLogFormatter::formatStackFrame(const FrameInfo& frame, const Report& report) {
  const std::uint64_t pc = frame.instructionPointer();
  const auto image = report.imageForAddress(pc);
  std::uint64_t base = 0, offset = 0;
  if (image) {
    base = image->imageBaseAddress();
    offset = pc - base;
  } else if (pc != 0) {
    DRTL_CRASHES_LOG(core::DRTLLogLevelWarning, hexText("Cannot find image for 0x%llx", pc, 0));
  }
  // Frames of the application and its own libraries stay image base and
  // offset even with a symbol; the kind is only worked out when one is there.
  const auto& symbol = frame.symbolInfo();
  if (!symbol) return hexText("0x%llx + %lld", base, static_cast<long long>(offset));
  const std::optional<std::string> processPath =
      report.hasProcessInfo() ? report.processInfo()->processPath() : std::nullopt;
  const ImageKind kind =
      imageTypeForImagePath(image ? std::optional(image->imageName()) : std::nullopt, processPath);
  if (kind != kOtherImage) return hexText("0x%llx + %lld", base, static_cast<long long>(offset));

  std::string name = symbol->symbolName();
  if (name.size() >= 2 && name[0] == '_' && report.systemInfo()) {
    switch (report.systemInfo()->operatingSystem()) {
      case DCRCrashReportSystemInfo::MacOSX:
      case DCRCrashReportSystemInfo::IPhoneOS:
      case DCRCrashReportSystemInfo::IPhoneSimulator:
      case DCRCrashReportSystemInfo::AppleTVOS:
        name.erase(0, 1);
        break;
      case DCRCrashReportSystemInfo::OSUnknown:
        DRTL_CRASHES_LOG(core::DRTLLogLevelWarning, "Symbol \"" + name + "\" prefix rules are unknown for this OS!");
        break;
      default:
        break;
    }
  }
  return name + " + " + std::to_string(static_cast<long long>(pc - symbol->startAddress()));
}

std::map<std::string, std::string> DRTLErrorLogFormatter::extractRegistersFromCrashedThread(
    const std::shared_ptr<const ThreadInfo>& thread, bool is64bit) {
  std::map<std::string, std::string> registers;
  if (!thread) return registers;
  for (const auto& value : thread->registers()) {
    registers[value.registerName()] = formatAddress(value.registerValue(), is64bit);
  }
  return registers;
}

std::optional<std::string> DRTLErrorLogFormatter::extractExceptionReasonFromReport(const Report& report) {
  if (!report.hasExceptionInfo()) return std::nullopt;
  return report.exceptionInfo()->exceptionReason();
}

std::optional<std::string> DRTLErrorLogFormatter::selectorRegisterValueFromReport(
    const Report& report, const std::shared_ptr<const ThreadInfo>& crashedThread, std::uint64_t codeType) {
  if (!crashedThread) return std::nullopt;
  for (const char* name : selectorRegisters(codeType)) {
    if (auto selector = selectorForRegisterWithName(name, *crashedThread, report)) return selector;
  }
  return std::nullopt;
}

std::optional<std::string> DRTLErrorLogFormatter::selectorForRegisterWithName(const std::string&, const ThreadInfo&,
                                                                              const Report&) {
  // Selector names live in a class runtime's method-name section; the images
  // of this system have none to read them from.
  return std::nullopt;
}

}  // namespace telemetry::crashes
