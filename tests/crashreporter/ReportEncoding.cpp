#include "ReportEncoding.h"

#include <string>

#include "crashreporter/Source/ProtobufFieldEncoder.h"

namespace crash_test {
namespace {

using namespace crashreporter;
using File = drcrash_async_file;

template <typename Body>
std::size_t message(File* file, std::uint32_t field, Body body) {
  const auto length = static_cast<std::uint32_t>(body(nullptr));
  const std::size_t head = drcrash_writer_pack(file, field, DRCRASH_PROTOBUF_TYPE_MESSAGE, &length);
  if (file != nullptr) body(file);
  return head + length;
}

std::size_t u64(File* file, std::uint32_t field, std::uint64_t value) {
  return drcrash_writer_pack(file, field, DRCRASH_PROTOBUF_TYPE_UINT64, &value);
}
std::size_t u32(File* file, std::uint32_t field, std::uint32_t value) {
  return drcrash_writer_pack(file, field, DRCRASH_PROTOBUF_TYPE_UINT32, &value);
}
std::size_t i64(File* file, std::uint32_t field, std::int64_t value) {
  return drcrash_writer_pack(file, field, DRCRASH_PROTOBUF_TYPE_INT64, &value);
}
std::size_t enumeration(File* file, std::uint32_t field, std::int32_t value) {
  return drcrash_writer_pack(file, field, DRCRASH_PROTOBUF_TYPE_ENUM, &value);
}
std::size_t boolean(File* file, std::uint32_t field, bool value) {
  return drcrash_writer_pack(file, field, DRCRASH_PROTOBUF_TYPE_BOOL, &value);
}
std::size_t string(File* file, std::uint32_t field, const std::string& value) {
  return drcrash_writer_pack(file, field, DRCRASH_PROTOBUF_TYPE_STRING, value.c_str());
}
std::size_t bytes(File* file, std::uint32_t field, const void* data, std::size_t length) {
  const drcrash_protobuf_bytes value{length, data};
  return drcrash_writer_pack(file, field, DRCRASH_PROTOBUF_TYPE_BYTES, &value);
}
std::uint64_t seconds(const ReportDate& date) {
  return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::seconds>(date.time_since_epoch()).count());
}

std::size_t processor(File* file, std::uint32_t field, const DCRCrashReportProcessorInfo& p) {
  return message(file, field, [&](File* f) {
    return enumeration(f, 1, p.typeEncoding()) + u64(f, 2, p.type()) + u64(f, 3, p.subtype());
  });
}

std::size_t frame(File* file, std::uint32_t field, const DCRCrashReportStackFrameInfo& frame) {
  return message(file, field, [&](File* f) {
    std::size_t n = u64(f, 3, frame.instructionPointer());
    if (const auto& symbol = frame.symbolInfo()) {
      n += message(f, 6, [&](File* g) { return string(g, 1, symbol->symbolName()) + u64(g, 2, symbol->startAddress()); });
    }
    return n;
  });
}

std::size_t body(File* f, const DCRCrashReport& report) {
  std::size_t n = 0;
  if (report.uuidRef()) {
    n += message(f, 9, [&](File* g) { return boolean(g, 1, false) + bytes(g, 2, report.uuidRef()->data(), 16); });
  }
  const auto& system = *report.systemInfo();
  n += message(f, 1, [&](File* g) {
    std::size_t m = enumeration(g, 1, system.operatingSystem()) + string(g, 2, system.operatingSystemVersion());
    if (system.operatingSystemBuild()) m += string(g, 5, *system.operatingSystemBuild());
    return m + enumeration(g, 3, system.architecture()) + i64(g, 4, system.timestamp() ? seconds(*system.timestamp()) : 0);
  });
  if (const auto& machine = report.machineInfo()) {
    n += message(f, 8, [&](File* g) {
      std::size_t m = machine->modelName() ? string(g, 1, *machine->modelName()) : 0;
      return m + processor(g, 2, *machine->processorInfo()) + u32(g, 3, machine->processorCount()) +
             u32(g, 4, machine->logicalProcessorCount());
    });
  }
  const auto& application = *report.applicationInfo();
  n += message(f, 2, [&](File* g) {
    std::size_t m = string(g, 1, application.applicationIdentifier()) + string(g, 2, application.applicationVersion());
    if (application.applicationMarketingVersion()) m += string(g, 3, *application.applicationMarketingVersion());
    return m;
  });
  if (const auto& process = report.processInfo()) {
    n += message(f, 7, [&](File* g) {
      return string(g, 1, process->processName().value_or("")) + u32(g, 2, process->processID()) +
             string(g, 3, process->processPath().value_or("")) + string(g, 4, process->parentProcessName().value_or("")) +
             u32(g, 5, process->parentProcessID()) + boolean(g, 6, process->native()) +
             u64(g, 7, process->processStartTime() ? seconds(*process->processStartTime()) : 0);
    });
  }
  for (const auto& thread : report.threads()) {
    n += message(f, 3, [&](File* g) {
      std::size_t m = u32(g, 1, static_cast<std::uint32_t>(thread->threadNumber())) + boolean(g, 3, thread->crashed());
      for (const auto& value : thread->registers()) {
        m += message(g, 4, [&](File* h) { return string(h, 1, value.registerName()) + u64(h, 2, value.registerValue()); });
      }
      for (const auto& stackFrame : thread->stackFrames()) m += frame(g, 2, stackFrame);
      return m;
    });
  }
  for (const auto& image : report.images()) {
    n += message(f, 4, [&](File* g) {
      std::size_t m = u64(g, 2, image->imageSize()) + u64(g, 1, image->imageBaseAddress()) + string(g, 3, image->imageName());
      if (image->imageUUID()) {
        std::uint8_t raw[16];
        for (std::size_t i = 0; i < 16; ++i) raw[i] = static_cast<std::uint8_t>(std::stoul(image->imageUUID()->substr(2 * i, 2), nullptr, 16));
        m += bytes(g, 4, raw, sizeof raw);
      }
      if (image->codeType()) m += processor(g, 5, *image->codeType());
      return m;
    });
  }
  if (const auto& exception = report.exceptionInfo()) {
    n += message(f, 5, [&](File* g) {
      std::size_t m = string(g, 1, exception->exceptionName()) + string(g, 2, exception->exceptionReason());
      if (exception->stackFrames()) {
        for (const auto& stackFrame : *exception->stackFrames()) m += frame(g, 3, stackFrame);
      }
      return m;
    });
  }
  const auto& signal = *report.signalInfo();
  n += message(f, 6, [&](File* g) {
    std::size_t m = string(g, 1, signal.name()) + string(g, 2, signal.code()) + u64(g, 3, signal.address());
    if (const auto& mach = report.machExceptionInfo()) {
      m += message(g, 4, [&](File* h) {
        std::size_t k = u64(h, 1, mach->type());
        for (const std::uint64_t code : mach->codes()) k += u64(h, 2, code);
        return k;
      });
    }
    return m;
  });
  if (report.customData()) n += bytes(f, 10, report.customData()->data(), report.customData()->size());
  return n;
}

}  // namespace

Bytes encodeReport(const DCRCrashReport& report) {
  return captureOutput([&](File* file) { body(file, report); });
}

}  // namespace crash_test
