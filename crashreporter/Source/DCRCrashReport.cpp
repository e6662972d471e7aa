#include "crashreporter/Source/DCRCrashReport.h"

#include <cstring>
#include <string>
#include <string_view>

#include "crashreporter/Source/DCRCrashReportFormat.h"
#include "crashreporter/Source/DCRCrashReporterError.h"
#include "crashreporter/drcrash.pb-c.h"
#include "platform/Bundle.h"
#include "platform/Utf8.h"

namespace crashreporter {
namespace {

constexpr std::uint32_t kMaxMachExceptionCodes = 255;
constexpr std::uint64_t kArm64ProcessorType = 0x100000C;
constexpr std::uint64_t kArm64ePointerMask = (std::uint64_t{1} << 36) - 1;

platform::Error invalid(std::string_view message, MessageText text = MessageText::Localized) {
  return crashReporterError(DCRCrashReporterErrorCode::InvalidCrashReport, message, text);
}

// Strings are taken as UTF-8; an ill-formed sequence becomes U+FFFD.
std::string text(const char* bytes) {
  const std::string_view view(bytes);
  if (platform::isValidUtf8(view)) return std::string(view);
  std::string out;
  for (std::size_t i = 0; i < view.size();) platform::appendUtf8(out, platform::nextCodePoint(view, i));
  return out;
}

std::optional<std::string> optionalText(const char* bytes) {
  if (bytes == nullptr) return std::nullopt;
  return text(bytes);
}

std::optional<ReportDate> dateFromSeconds(std::uint64_t seconds) {
  return ReportDate(std::chrono::seconds(static_cast<std::int64_t>(seconds)));
}

struct MessageDeleter {
  void operator()(Drcrash__CrashReport* message) const { drcrash__crash_report__free_unpacked(message, nullptr); }
};

}  // namespace

// Builds the object tree from the unpacked message; the first fault wins.
class CrashReportBuilder {
 public:
  explicit CrashReportBuilder(const Drcrash__CrashReport& message) : message_(message) {}

  platform::Result<std::shared_ptr<const DCRCrashReport>> build() {
    auto report = std::shared_ptr<DCRCrashReport>(new DCRCrashReport());
    if (const auto* info = message_.report_info; info != nullptr && info->has_uuid) {
      if (info->uuid.len != 16) return invalid("Report UUID value is not a standard 16 bytes", MessageText::AsIs);
      DCRCrashReport::UUID uuid;
      std::memcpy(uuid.data(), info->uuid.data, uuid.size());
      report->uuidRef_ = uuid;
    }
    if (const auto* machine = message_.machine_info) {
      machineProcessor_ = processor(machine->processor);
      report->machineInfo_ = std::make_shared<DCRCrashReportMachineInfo>(
          optionalText(machine->model), machineProcessor_, machine->processor_count, machine->logical_processor_count);
    }
    if (auto failure = buildSystemInfo(*report)) return *failure;
    if (auto failure = buildApplicationInfo(*report)) return *failure;
    if (const auto* process = message_.process_info) {
      report->processInfo_ = std::make_shared<DCRCrashReportProcessInfo>(
          optionalText(process->process_name), process->process_id, optionalText(process->process_path),
          process->has_start_time ? dateFromSeconds(process->start_time) : std::nullopt,
          optionalText(process->parent_process_name), process->parent_process_id, process->native);
    }
    if (auto failure = buildSignal(*report)) return *failure;
    for (std::size_t i = 0; i < message_.n_threads; ++i) {
      if (auto failure = buildThread(*report, *message_.threads[i])) return *failure;
    }
    for (std::size_t i = 0; i < message_.n_binary_images; ++i) {
      const Drcrash__CrashReport__BinaryImage& image = *message_.binary_images[i];
      if (image.name == nullptr) return invalid("Missing image name in image record", MessageText::AsIs);
      std::optional<std::vector<std::uint8_t>> uuid;
      if (image.has_uuid) uuid.emplace(image.uuid.data, image.uuid.data + image.uuid.len);
      report->images_.push_back(std::make_shared<DCRCrashReportBinaryImageInfo>(
          processor(image.code_type), image.base_address, image.size, text(image.name), uuid));
    }
    if (const auto* exception = message_.exception) {
      if (exception->name == nullptr) return invalid("Crash report is missing exception name field");
      if (exception->reason == nullptr) return invalid("Crash report is missing exception reason field");
      std::optional<StackFrames> frames;
      if (exception->n_frames > 0) frames = stackFrames(exception->frames, exception->n_frames);
      report->exceptionInfo_ =
          std::make_shared<DCRCrashReportExceptionInfo>(text(exception->name), text(exception->reason), std::move(frames));
    }
    if (message_.has_custom_data) {
      report->customData_.emplace(message_.custom_data.data, message_.custom_data.data + message_.custom_data.len);
    }
    return std::shared_ptr<const DCRCrashReport>(std::move(report));
  }

 private:
  static ProcessorInfoPtr processor(const Drcrash__CrashReport__Processor* record) {
    if (record == nullptr) return nullptr;
    return std::make_shared<DCRCrashReportProcessorInfo>(record->has_encoding ? record->encoding : 0, record->type,
                                                         record->subtype);
  }

  std::optional<platform::Error> buildSystemInfo(DCRCrashReport& report) {
    const auto* system = message_.system_info;
    if (system == nullptr) return invalid("Crash report is missing System Information section");
    if (system->os_version == nullptr) return invalid("Crash report is missing System Information OS version field");
    ProcessorInfoPtr processorInfo = machineProcessor_;
    if (!processorInfo) {
      struct Known { std::int32_t architecture; std::uint64_t type, subtype; };
      static constexpr Known kByArchitecture[] = {
          {DCRCrashReportSystemInfo::X86_32, 7, 3},        {DCRCrashReportSystemInfo::X86_64, 0x1000007, 3},
          {DCRCrashReportSystemInfo::ARMv6, 12, 6},        {DCRCrashReportSystemInfo::PPC, 18, 0},
          {DCRCrashReportSystemInfo::PPC64, 0x1000012, 0}, {DCRCrashReportSystemInfo::ARMv7, 12, 9},
      };
      for (const Known& known : kByArchitecture) {
        if (known.architecture == system->architecture) {
          processorInfo = std::make_shared<DCRCrashReportProcessorInfo>(DCRCrashReportProcessorInfo::TypeEncodingMach,
                                                                        known.type, known.subtype);
        }
      }
      if (!processorInfo) return invalid("Crash report has an unknown architecture");
    }
    std::optional<ReportDate> timestamp;
    if (system->timestamp != 0) timestamp = ReportDate(std::chrono::seconds(system->timestamp));
    report.systemInfo_ = std::make_shared<DCRCrashReportSystemInfo>(
        system->has_operating_system ? static_cast<std::int32_t>(system->operating_system)
                                     : static_cast<std::int32_t>(DCRCrashReportSystemInfo::OSUnknown),
        text(system->os_version), optionalText(system->os_build), system->architecture, std::move(processorInfo),
        timestamp);
    return std::nullopt;
  }

  std::optional<platform::Error> buildApplicationInfo(DCRCrashReport& report) {
    const auto* application = message_.application_info;
    if (application == nullptr) return invalid("Crash report is missing Application Information section");
    if (application->identifier == nullptr) {
      return invalid("Crash report is missing Application Information app identifier field");
    }
    if (application->version == nullptr) return invalid("Crash report is missing Application Information app version field");
    report.applicationInfo_ = std::make_shared<DCRCrashReportApplicationInfo>(
        text(application->identifier), text(application->version), optionalText(application->marketing_version));
    return std::nullopt;
  }

  std::optional<platform::Error> buildSignal(DCRCrashReport& report) {
    const auto* signal = message_.signal;
    if (signal == nullptr) return invalid("Crash report is missing Signal Information section");
    if (signal->name == nullptr) return invalid("Crash report is missing signal name field");
    if (signal->code == nullptr) return invalid("Crash report is missing signal code field");
    report.signalInfo_ = std::make_shared<DCRCrashReportSignalInfo>(text(signal->name), text(signal->code), signal->address);
    if (const auto* mach = signal->mach_exception) {
      if (mach->n_codes > kMaxMachExceptionCodes) return invalid("Crash report includes too many Mach Exception codes");
      report.machExceptionInfo_ = std::make_shared<DCRCrashReportMachExceptionInfo>(
          mach->type, std::vector<std::uint64_t>(mach->codes, mach->codes + mach->n_codes));
    }
    return std::nullopt;
  }

  std::optional<platform::Error> buildThread(DCRCrashReport& report, const Drcrash__CrashReport__Thread& thread) {
    std::vector<DCRCrashReportRegisterInfo> registers;
    registers.reserve(thread.n_registers);
    for (std::size_t i = 0; i < thread.n_registers; ++i) {
      const auto& value = *thread.registers[i];
      if (value.name == nullptr) return invalid("Missing register name in register value", MessageText::AsIs);
      registers.emplace_back(text(value.name), value.value);
    }
    report.threads_.push_back(std::make_shared<DCRCrashReportThreadInfo>(
        thread.thread_number, stackFrames(thread.frames, thread.n_frames), thread.crashed, std::move(registers)));
    return std::nullopt;
  }

  StackFrames stackFrames(Drcrash__CrashReport__Thread__StackFrame* const* frames, std::size_t count) const {
    // Pointer-authentication bits ride in the high bits of pcs from such machines.
    const bool stripAuthentication =
        machineProcessor_ && machineProcessor_->type() == kArm64ProcessorType && machineProcessor_->subtype() == 2;
    StackFrames result;
    result.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
      const auto& frame = *frames[i];
      std::shared_ptr<const DCRCrashReportSymbolInfo> symbol;
      if (const auto* s = frame.symbol) {
        symbol = std::make_shared<DCRCrashReportSymbolInfo>(text(s->name), s->start_address,
                                                            s->has_end_address ? s->end_address : 0);
      }
      const std::uint64_t pc = stripAuthentication ? frame.pc & kArm64ePointerMask : frame.pc;
      result.emplace_back(pc, std::move(symbol));
    }
    return result;
  }

  const Drcrash__CrashReport& message_;
  ProcessorInfoPtr machineProcessor_;
};

platform::Result<std::shared_ptr<const DCRCrashReport>> DCRCrashReport::initWithData(std::span<const std::uint8_t> data) {
  if (data.size() <= kDrcrashHeaderLength) return invalid("Could not decode truncated crash log");
  if (data.size() > kMaxCrashReportBytes) return invalid("Crash report is larger than 16 MiB");
  if (std::memcmp(data.data(), kDrcrashReportHeader, kDrcrashMagicLength) != 0) {
    return invalid("Could not decode invalid crash log header");
  }
  if (data[kDrcrashMagicLength] != kDrcrashReportVersion) {
    // The localized text is a template; the number goes in by hand, never through printf.
    std::string message = platform::Bundle::main()->localizedStringForKey(
        "Could not decode unsupported crash report version: %d");
    if (const auto at = message.find("%d"); at != std::string::npos) {
      message.replace(at, 2, std::to_string(data[kDrcrashMagicLength]));
    }
    return invalid(message, MessageText::AsIs);
  }
  std::unique_ptr<Drcrash__CrashReport, MessageDeleter> message(drcrash__crash_report__unpack(
      nullptr, data.size() - kDrcrashHeaderLength, data.data() + kDrcrashHeaderLength));
  if (!message) return invalid("An unknown error occured decoding the crash report");
  return CrashReportBuilder(*message).build();
}

std::shared_ptr<const DCRCrashReportBinaryImageInfo> DCRCrashReport::imageForAddress(std::uint64_t address) const {
  for (const auto& image : images_) {
    const std::uint64_t base = image->imageBaseAddress();
    if (address < base) continue;
    // Compare offsets, not base + size, which could wrap round past 2^64.
    if (address - base < image->imageSize()) return image;
  }
  return nullptr;
}

}  // namespace crashreporter
