#pragma once
// The inside of an error log: a thread with its stack frames, a stack frame, a
// binary image and an exception with nested inner exceptions. Plain values,
// built on one thread (the formatter's or a host's) and then only read. Each
// makes its own JSON dictionary (set fields only, keys in wire order, empty
// arrays still written) and archives under the same keys.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/KeyedArchive.h"
#include "telemetry/core/DRTLDevice.h"

namespace telemetry::crashes {

class DRTLStackFrame : public platform::Archivable {
 public:
  std::optional<std::string> address;
  std::optional<std::string> code;
  // "className": the class of the method (named apart from Archivable::className()).
  std::optional<std::string> declaringClassName;
  std::optional<std::string> methodName;
  std::optional<std::int64_t> lineNumber;
  std::optional<std::string> fileName;

  core::DRTLJSON serializeToDictionary() const;
  bool isEqual(const DRTLStackFrame* other) const;

  std::string className() const override { return "DRTLStackFrame"; }
  void encode(platform::KeyedArchiveEncoder& encoder) const override;
  void decode(const platform::KeyedArchiveDecoder& decoder);
};

class DRTLException : public platform::Archivable {
 public:
  std::optional<std::string> type;
  std::optional<std::string> message;
  std::optional<std::string> stackTrace;
  std::optional<std::vector<std::shared_ptr<DRTLStackFrame>>> frames;
  std::optional<std::vector<std::shared_ptr<DRTLException>>> innerExceptions;
  std::optional<std::string> wrapperSdkName;

  core::DRTLJSON serializeToDictionary() const;
  // A type, then at least one frame; inner exceptions are not checked.
  bool isValid() const;
  bool isEqual(const DRTLException* other) const;

  std::string className() const override { return "DRTLException"; }
  void encode(platform::KeyedArchiveEncoder& encoder) const override;
  void decode(const platform::KeyedArchiveDecoder& decoder);
};

class DRTLThread : public platform::Archivable {
 public:
  std::optional<std::int64_t> threadId;
  std::optional<std::string> name;
  // Innermost first. A new thread has none; one read from an archive has
  // exactly what was archived.
  std::optional<std::vector<std::shared_ptr<DRTLStackFrame>>> frames = std::vector<std::shared_ptr<DRTLStackFrame>>{};
  std::shared_ptr<DRTLException> exception;

  core::DRTLJSON serializeToDictionary() const;
  // An id, then at least one frame; the frames themselves are not checked.
  bool isValid() const;
  bool isEqual(const DRTLThread* other) const;

  std::string className() const override { return "DRTLThread"; }
  void encode(platform::KeyedArchiveEncoder& encoder) const override;
  void decode(const platform::KeyedArchiveDecoder& decoder);
};

class DRTLBinary : public platform::Archivable {
 public:
  std::optional<std::string> binaryId;
  std::optional<std::string> startAddress;
  std::optional<std::string> endAddress;
  std::optional<std::string> name;
  std::optional<std::string> path;
  std::optional<std::string> architecture;
  std::optional<std::uint64_t> primaryArchitectureId;
  std::optional<std::uint64_t> architectureVariantId;

  core::DRTLJSON serializeToDictionary() const;
  // id, start, end, name and path set (an empty path counts as set).
  bool isValid() const;
  bool isEqual(const DRTLBinary* other) const;

  std::string className() const override { return "DRTLBinary"; }
  void encode(platform::KeyedArchiveEncoder& encoder) const override;
  void decode(const platform::KeyedArchiveDecoder& decoder);
};

}  // namespace telemetry::crashes
