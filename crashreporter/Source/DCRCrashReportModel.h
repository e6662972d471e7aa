#pragma once
// The value objects a crash report reads into: immutable once made, shared
// between the report and whoever reads it. nil is nullptr for objects and
// nullopt for strings, dates and bytes. Built by DCRCrashReport; any thread.

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace crashreporter {

using ReportDate = std::chrono::system_clock::time_point;

class DCRCrashReportProcessorInfo {
 public:
  // Values of the report's Processor.TypeEncoding.
  enum TypeEncoding : std::int32_t { TypeEncodingUnknown = 0, TypeEncodingMach = 1 };

  DCRCrashReportProcessorInfo(std::int32_t typeEncoding, std::uint64_t type, std::uint64_t subtype)
      : typeEncoding_(typeEncoding), type_(type), subtype_(subtype) {}
  std::int32_t typeEncoding() const { return typeEncoding_; }
  std::uint64_t type() const { return type_; }
  std::uint64_t subtype() const { return subtype_; }

 private:
  std::int32_t typeEncoding_;
  std::uint64_t type_;
  std::uint64_t subtype_;
};
using ProcessorInfoPtr = std::shared_ptr<const DCRCrashReportProcessorInfo>;

class DCRCrashReportSystemInfo {
 public:
  // Values of the report's SystemInfo.OperatingSystem and of Architecture.
  enum OperatingSystem : std::int32_t { MacOSX = 0, IPhoneOS = 1, IPhoneSimulator = 2, OSUnknown = 3, AppleTVOS = 4 };
  enum Architecture : std::int32_t { X86_32 = 0, X86_64 = 1, ARMv6 = 2, PPC = 3, PPC64 = 4, ARMv7 = 5, ArchitectureUnknown = 6 };

  DCRCrashReportSystemInfo(std::int32_t operatingSystem, std::string operatingSystemVersion,
                           std::optional<std::string> operatingSystemBuild, std::int32_t architecture,
                           ProcessorInfoPtr processorInfo, std::optional<ReportDate> timestamp)
      : operatingSystem_(operatingSystem), operatingSystemVersion_(std::move(operatingSystemVersion)),
        operatingSystemBuild_(std::move(operatingSystemBuild)), architecture_(architecture),
        processorInfo_(std::move(processorInfo)), timestamp_(timestamp) {}
  std::int32_t operatingSystem() const { return operatingSystem_; }
  const std::string& operatingSystemVersion() const { return operatingSystemVersion_; }
  const std::optional<std::string>& operatingSystemBuild() const { return operatingSystemBuild_; }
  std::int32_t architecture() const { return architecture_; }
  const std::optional<ReportDate>& timestamp() const { return timestamp_; }
  const ProcessorInfoPtr& processorInfo() const { return processorInfo_; }

 private:
  std::int32_t operatingSystem_;
  std::string operatingSystemVersion_;
  std::optional<std::string> operatingSystemBuild_;
  std::int32_t architecture_;
  ProcessorInfoPtr processorInfo_;
  std::optional<ReportDate> timestamp_;
};

class DCRCrashReportMachineInfo {
 public:
  DCRCrashReportMachineInfo(std::optional<std::string> modelName, ProcessorInfoPtr processorInfo,
                            std::uint64_t processorCount, std::uint64_t logicalProcessorCount)
      : modelName_(std::move(modelName)), processorInfo_(std::move(processorInfo)), processorCount_(processorCount),
        logicalProcessorCount_(logicalProcessorCount) {}
  const std::optional<std::string>& modelName() const { return modelName_; }
  const ProcessorInfoPtr& processorInfo() const { return processorInfo_; }
  std::uint64_t processorCount() const { return processorCount_; }
  std::uint64_t logicalProcessorCount() const { return logicalProcessorCount_; }

 private:
  std::optional<std::string> modelName_;
  ProcessorInfoPtr processorInfo_;
  std::uint64_t processorCount_;
  std::uint64_t logicalProcessorCount_;
};

class DCRCrashReportApplicationInfo {
 public:
  DCRCrashReportApplicationInfo(std::string applicationIdentifier, std::string applicationVersion,
                                std::optional<std::string> applicationMarketingVersion)
      : applicationIdentifier_(std::move(applicationIdentifier)), applicationVersion_(std::move(applicationVersion)),
        applicationMarketingVersion_(std::move(applicationMarketingVersion)) {}
  const std::string& applicationIdentifier() const { return applicationIdentifier_; }
  const std::string& applicationVersion() const { return applicationVersion_; }
  const std::optional<std::string>& applicationMarketingVersion() const { return applicationMarketingVersion_; }

 private:
  std::string applicationIdentifier_;
  std::string applicationVersion_;
  std::optional<std::string> applicationMarketingVersion_;
};

class DCRCrashReportProcessInfo {
 public:
  DCRCrashReportProcessInfo(std::optional<std::string> processName, std::uint32_t processID,
                            std::optional<std::string> processPath, std::optional<ReportDate> processStartTime,
                            std::optional<std::string> parentProcessName, std::uint32_t parentProcessID, bool native)
      : processName_(std::move(processName)), processID_(processID), processPath_(std::move(processPath)),
        processStartTime_(processStartTime), parentProcessName_(std::move(parentProcessName)),
        parentProcessID_(parentProcessID), native_(native) {}
  const std::optional<std::string>& processName() const { return processName_; }
  std::uint32_t processID() const { return processID_; }
  const std::optional<std::string>& processPath() const { return processPath_; }
  const std::optional<ReportDate>& processStartTime() const { return processStartTime_; }
  const std::optional<std::string>& parentProcessName() const { return parentProcessName_; }
  std::uint32_t parentProcessID() const { return parentProcessID_; }
  bool native() const { return native_; }

 private:
  std::optional<std::string> processName_;
  std::uint32_t processID_;
  std::optional<std::string> processPath_;
  std::optional<ReportDate> processStartTime_;
  std::optional<std::string> parentProcessName_;
  std::uint32_t parentProcessID_;
  bool native_;
};

class DCRCrashReportSignalInfo {
 public:
  DCRCrashReportSignalInfo(std::string name, std::string code, std::uint64_t address)
      : name_(std::move(name)), code_(std::move(code)), address_(address) {}
  const std::string& name() const { return name_; }
  const std::string& code() const { return code_; }
  std::uint64_t address() const { return address_; }

 private:
  std::string name_;
  std::string code_;
  std::uint64_t address_;
};

class DCRCrashReportMachExceptionInfo {
 public:
  DCRCrashReportMachExceptionInfo(std::uint64_t type, std::vector<std::uint64_t> codes)
      : type_(type), codes_(std::move(codes)) {}
  std::uint64_t type() const { return type_; }
  const std::vector<std::uint64_t>& codes() const { return codes_; }

 private:
  std::uint64_t type_;
  std::vector<std::uint64_t> codes_;
};

class DCRCrashReportSymbolInfo {
 public:
  DCRCrashReportSymbolInfo(std::string symbolName, std::uint64_t startAddress, std::uint64_t endAddress)
      : symbolName_(std::move(symbolName)), startAddress_(startAddress), endAddress_(endAddress) {}
  const std::string& symbolName() const { return symbolName_; }
  std::uint64_t startAddress() const { return startAddress_; }
  std::uint64_t endAddress() const { return endAddress_; }  // 0 when the report has none

 private:
  std::string symbolName_;
  std::uint64_t startAddress_;
  std::uint64_t endAddress_;
};

class DCRCrashReportStackFrameInfo {
 public:
  DCRCrashReportStackFrameInfo(std::uint64_t instructionPointer,
                               std::shared_ptr<const DCRCrashReportSymbolInfo> symbolInfo)
      : instructionPointer_(instructionPointer), symbolInfo_(std::move(symbolInfo)) {}
  std::uint64_t instructionPointer() const { return instructionPointer_; }
  const std::shared_ptr<const DCRCrashReportSymbolInfo>& symbolInfo() const { return symbolInfo_; }

 private:
  std::uint64_t instructionPointer_;
  std::shared_ptr<const DCRCrashReportSymbolInfo> symbolInfo_;
};
// Frames and registers are held by value: a report carries thousands of them.
using StackFrames = std::vector<DCRCrashReportStackFrameInfo>;

class DCRCrashReportRegisterInfo {
 public:
  DCRCrashReportRegisterInfo(std::string registerName, std::uint64_t registerValue)
      : registerName_(std::move(registerName)), registerValue_(registerValue) {}
  const std::string& registerName() const { return registerName_; }
  std::uint64_t registerValue() const { return registerValue_; }

 private:
  std::string registerName_;
  std::uint64_t registerValue_;
};

class DCRCrashReportThreadInfo {
 public:
  DCRCrashReportThreadInfo(std::int64_t threadNumber, StackFrames stackFrames, bool crashed,
                           std::vector<DCRCrashReportRegisterInfo> registers)
      : threadNumber_(threadNumber), stackFrames_(std::move(stackFrames)), crashed_(crashed),
        registers_(std::move(registers)) {}
  std::int64_t threadNumber() const { return threadNumber_; }
  const StackFrames& stackFrames() const { return stackFrames_; }
  bool crashed() const { return crashed_; }
  const std::vector<DCRCrashReportRegisterInfo>& registers() const { return registers_; }

 private:
  std::int64_t threadNumber_;
  StackFrames stackFrames_;
  bool crashed_;
  std::vector<DCRCrashReportRegisterInfo> registers_;
};

class DCRCrashReportBinaryImageInfo {
 public:
  // `uuid`: the raw bytes, or nullopt; imageUUID() is their lower-case hex text.
  DCRCrashReportBinaryImageInfo(ProcessorInfoPtr codeType, std::uint64_t baseAddress, std::uint64_t size,
                                std::string name, const std::optional<std::vector<std::uint8_t>>& uuid);
  const ProcessorInfoPtr& codeType() const { return codeType_; }
  std::uint64_t imageBaseAddress() const { return imageBaseAddress_; }
  std::uint64_t imageSize() const { return imageSize_; }
  const std::string& imageName() const { return imageName_; }
  bool hasImageUUID() const { return imageUUID_.has_value(); }
  const std::optional<std::string>& imageUUID() const { return imageUUID_; }

 private:
  ProcessorInfoPtr codeType_;
  std::uint64_t imageBaseAddress_;
  std::uint64_t imageSize_;
  std::string imageName_;
  std::optional<std::string> imageUUID_;
};

class DCRCrashReportExceptionInfo {
 public:
  DCRCrashReportExceptionInfo(std::string exceptionName, std::string exceptionReason,
                              std::optional<StackFrames> stackFrames = std::nullopt)
      : exceptionName_(std::move(exceptionName)), exceptionReason_(std::move(exceptionReason)),
        stackFrames_(std::move(stackFrames)) {}
  const std::string& exceptionName() const { return exceptionName_; }
  const std::string& exceptionReason() const { return exceptionReason_; }
  // nullopt when the record has no frames.
  const std::optional<StackFrames>& stackFrames() const { return stackFrames_; }

 private:
  std::string exceptionName_;
  std::string exceptionReason_;
  std::optional<StackFrames> stackFrames_;
};

}  // namespace crashreporter
