// The crash log records: JSON key order and empty arrays, validity lines that
// name the property, equality in order, archives that read back equal.

#include <gtest/gtest.h>

#include <functional>

#include "TelemetryLogFixtures.h"
#include "TelemetryTestSupport.h"
#include "telemetry/core/DRTLLogger.h"
#include "telemetry/core/DRTLUtility.h"
#include "telemetry/services/crashes/logs/DRTLAppleErrorLog.h"
#include "telemetry/services/crashes/logs/DRTLCrashesArchiveClasses.h"
#include "telemetry/services/crashes/logs/DRTLErrorAttachmentLog.h"
#include "telemetry/services/crashes/logs/DRTLErrorReport.h"
#include "telemetry/services/crashes/logs/DRTLHandledErrorLog.h"

namespace telemetry::crashes {
namespace {

using core::DRTLJSON;
using core::testing_support::LogCapture;

std::shared_ptr<DRTLStackFrame> frame(const std::string& address, std::optional<std::string> code = std::nullopt) {
  auto made = std::make_shared<DRTLStackFrame>();
  made->address = address;
  made->code = std::move(code);
  return made;
}

std::shared_ptr<DRTLAppleErrorLog> validCrashLog() {
  auto log = std::make_shared<DRTLAppleErrorLog>();
  log->timestamp = platform::Date(std::chrono::milliseconds(1765386000999));
  log->device = core::testing_support::pipelineDevice();
  log->errorId = "8F123456-789A-BCDE-F001-23456789ABCD";
  log->processId = 4242;
  log->processName = "VantelioZira";
  log->parentProcessId = 1;
  log->parentProcessName = "systemd";
  log->errorThreadId = 0;
  log->fatal = true;
  log->appLaunchTimestamp = platform::Date(std::chrono::seconds(1765385000));
  log->primaryArchitectureId = 16777223;
  log->architectureVariantId = 3;
  log->applicationPath = "/opt/zira/bin/VantelioZira";
  log->osExceptionType = "SIGSEGV";
  log->osExceptionCode = "SEGV_MAPERR";
  log->osExceptionAddress = "0x0";
  auto exception = std::make_shared<DRTLException>();
  exception->type = "std::runtime_error";
  exception->message = "cue list is empty";
  exception->frames = {{frame("0x000000000040102c")}};
  auto inner = std::make_shared<DRTLException>();
  inner->frames.emplace();
  exception->innerExceptions = {{inner}};
  auto crashed = std::make_shared<DRTLThread>();
  crashed->threadId = 0;
  crashed->frames->push_back(frame("0x0000000000401070", "0x400000 + 4208"));
  crashed->exception = exception;
  auto other = std::make_shared<DRTLThread>();
  other->threadId = 1;
  other->frames->push_back(frame("0x0000000000003039", "0x0 + 0"));
  log->threads = {{crashed, other}};
  auto binary = std::make_shared<DRTLBinary>();
  binary->binaryId = "000102030405060708090a0b0c0d0e0f";
  binary->startAddress = "0x0000000000400000";
  binary->endAddress = "0x000000000040ffff";
  binary->name = "VantelioZira";
  binary->path = "/opt/zira/bin/VantelioZira";
  binary->primaryArchitectureId = 16777223;
  binary->architectureVariantId = 3;
  log->binaries = {{binary}};
  log->registers = {{{"rip", "0x0000000000401070"}, {"rax", "0x0000000000000000"}}};
  return log;
}

TEST(DRTLCrashLogRecordsTest, RecordsWriteTheirKeysInOrderWithEmptyArrays) {
  DRTLThread thread;
  thread.threadId = 3;
  EXPECT_EQ(thread.serializeToDictionary().dump(), R"({"id":3,"frames":[]})");
  EXPECT_EQ(frame("0x1")->serializeToDictionary().dump(), R"({"address":"0x1"})");
  DRTLStackFrame full;
  full.fileName = "f.cpp";
  full.lineNumber = 7;
  full.methodName = "m";
  full.declaringClassName = "C";
  full.code = "c";
  full.address = "a";
  EXPECT_EQ(full.serializeToDictionary().dump(),
            R"({"address":"a","code":"c","className":"C","methodName":"m","lineNumber":7,"fileName":"f.cpp"})");
  DRTLException exception;
  exception.innerExceptions.emplace();
  exception.frames.emplace();
  exception.wrapperSdkName = "w";
  exception.stackTrace = "s";
  exception.message = "m";
  exception.type = "t";
  EXPECT_EQ(exception.serializeToDictionary().dump(),
            R"({"type":"t","message":"m","stackTrace":"s","wrapperSdkName":"w","frames":[],"innerExceptions":[]})");
  const auto log = validCrashLog();
  const auto& binary = (*log->binaries)[0];
  EXPECT_EQ(binary->serializeToDictionary().dump(),
            R"({"id":"000102030405060708090a0b0c0d0e0f","startAddress":"0x0000000000400000",)"
            R"("endAddress":"0x000000000040ffff","name":"VantelioZira","path":"/opt/zira/bin/VantelioZira",)"
            R"("primaryArchitectureId":16777223,"architectureVariantId":3})");
}

TEST(DRTLCrashLogRecordsTest, ValidityNamesTheFirstMissingProperty) {
  core::DRTLLogger::setCurrentLogLevel(core::DRTLLogLevelVerbose);
  struct Case {
    const char* what;
    std::function<bool()> isValid;
    const char* named;  // none when valid
  };
  const Case cases[] = {
      {"thread with an id only", [] { DRTLThread t; t.threadId = 1; return t.isValid(); }, "DRTLThread: \"frames\""},
      {"thread without an id", [] { DRTLThread t; t.frames->push_back(frame("0x1")); return t.isValid(); },
       "DRTLThread: \"threadId\""},
      {"thread with a frame", [] { DRTLThread t; t.threadId = 1; t.frames->push_back(frame("0x1")); return t.isValid(); },
       nullptr},
      {"binary without id", [] { auto b = *(*validCrashLog()->binaries)[0]; b.binaryId.reset(); return b.isValid(); },
       "DRTLBinary: \"binaryId\""},
      {"binary with an empty path", [] { auto b = *(*validCrashLog()->binaries)[0]; b.path = ""; return b.isValid(); },
       nullptr},
      {"exception whose inner one has no type", [] { return (*validCrashLog()->threads)[0]->exception->isValid(); },
       nullptr},
      {"exception without frames", [] { DRTLException e; e.type = "t"; return e.isValid(); },
       "DRTLException: \"frames\""},
      {"crash log", [] { return validCrashLog()->isValid(); }, nullptr},
      {"crash log without threads", [] { auto l = validCrashLog(); l->threads.emplace(); return l->isValid(); }, nullptr},
      {"crash log without fault address", [] { auto l = validCrashLog(); l->osExceptionAddress.reset(); return l->isValid(); },
       "DRTLAppleErrorLog: \"osExceptionAddress\""},
      {"crash log without error id", [] { auto l = validCrashLog(); l->errorId.reset(); l->osExceptionAddress.reset();
         return l->isValid(); }, "DRTLAppleErrorLog: \"errorId\""},
      {"crash log without process name", [] { auto l = validCrashLog(); l->processName.reset(); return l->isValid(); },
       "DRTLAppleErrorLog: \"processName\""},
  };
  for (const auto& c : cases) {
    LogCapture capture;
    EXPECT_EQ(c.isValid(), c.named == nullptr) << c.what;
    if (c.named) {
      EXPECT_TRUE(capture.contains(core::DRTLLogLevelVerbose, std::string(c.named) + " is not valid.")) << c.what;
    }
  }
}

TEST(DRTLCrashLogRecordsTest, CrashLogWritesItsFieldsAfterTheBaseAndFatalAlways) {
  auto log = validCrashLog();
  const DRTLJSON json = log->serializeToDictionary();
  std::vector<std::string> keys;
  for (auto it = json.begin(); it != json.end(); ++it) keys.push_back(it.key());
  const std::vector<std::string> expected = {
      "type", "timestamp", "device", "id", "processId", "processName", "parentProcessId", "parentProcessName",
      "errorThreadId", "fatal", "appLaunchTimestamp", "primaryArchitectureId", "architectureVariantId",
      "applicationPath", "osExceptionType", "osExceptionCode", "osExceptionAddress", "threads", "binaries",
      "registers"};
  EXPECT_EQ(keys, expected);
  EXPECT_EQ(json["type"], "appleError");
  EXPECT_EQ(json["appLaunchTimestamp"], "2025-12-10T16:43:20.000Z");
  EXPECT_EQ(json["threads"][0]["exception"]["type"], "std::runtime_error");

  log->fatal = false;
  EXPECT_EQ(log->serializeToDictionary()["fatal"], false);
  EXPECT_FALSE(log->serializeToDictionary().contains("architecture"));
}

TEST(DRTLCrashLogRecordsTest, EqualityKeepsThreadOrderButNotRegisterOrder) {
  auto a = validCrashLog(), b = validCrashLog();
  EXPECT_TRUE(a->isEqual(b.get()));
  std::swap((*b->threads)[0], (*b->threads)[1]);
  EXPECT_FALSE(a->isEqual(b.get()));
  b = validCrashLog();
  b->registers = {{{"rax", "0x0000000000000000"}, {"rip", "0x0000000000401070"}}};
  EXPECT_TRUE(a->isEqual(b.get()));
  (*(*b->threads)[1]->frames)[0]->code = "0x1 + 0";
  EXPECT_FALSE(a->isEqual(b.get()));

  DRTLThread one, other;
  one.frames = {{frame("0x1"), frame("0x2")}};
  other.frames = {{frame("0x2"), frame("0x1")}};
  EXPECT_FALSE(one.isEqual(&other));
  DRTLErrorAttachmentLog attachment;
  EXPECT_FALSE(attachment.isEqual(a.get()));
}

TEST(DRTLCrashLogRecordsTest, LogsReadBackFromTheArchiveEqual) {
  registerCrashesArchiveClasses();
  auto handled = std::make_shared<DRTLHandledErrorLog>();
  handled->timestamp = platform::Date(std::chrono::seconds(5));
  handled->errorId = "E";
  handled->exception = (*validCrashLog()->threads)[0]->exception;
  auto attachment = DRTLErrorAttachmentLog::attachmentWithBinary({0, 1, 2, 255}, "dump.bin", "application/octet-stream");
  attachment->errorId = "E";
  const std::shared_ptr<core::DRTLAbstractLog> logs[] = {validCrashLog(), handled, attachment};
  for (const auto& log : logs) {
    const auto archived = core::DRTLUtility::archiveKeyedData(log.get());
    ASSERT_TRUE(archived) << log->className();
    const auto read = std::dynamic_pointer_cast<core::DRTLAbstractLog>(core::DRTLUtility::unarchiveKeyedData(archived));
    ASSERT_TRUE(read) << log->className();
    EXPECT_EQ(read->className(), log->className());
    EXPECT_TRUE(log->isEqual(read.get())) << log->className();
    EXPECT_EQ(read->serializeToDictionary().dump(), log->serializeToDictionary().dump());
  }
}

TEST(DRTLCrashLogRecordsTest, AttachmentsAndHandledErrors) {
  core::DRTLLogger::setCurrentLogLevel(core::DRTLLogLevelVerbose);
  const auto text = DRTLErrorAttachmentLog::attachmentWithText("hällo", std::nullopt);
  EXPECT_EQ(text->contentType, "text/plain");
  EXPECT_EQ(*text->data, (std::vector<std::uint8_t>{'h', 0xc3, 0xa4, 'l', 'l', 'o'}));
  ASSERT_TRUE(text->attachmentId);
  EXPECT_NE(text->attachmentId, DRTLErrorAttachmentLog().attachmentId) << "a fresh id each";
  text->timestamp = platform::Date(std::chrono::seconds(1));
  text->device = core::testing_support::pipelineDevice();
  {
    LogCapture capture;
    EXPECT_FALSE(text->isValid());
    EXPECT_TRUE(capture.contains(core::DRTLLogLevelVerbose, "DRTLErrorAttachmentLog: \"errorId\" is not valid."));
  }
  text->errorId = "E";
  EXPECT_TRUE(text->isValid()) << "the file name is optional";
  const DRTLJSON json = text->serializeToDictionary();
  EXPECT_FALSE(json.contains("fileName"));
  EXPECT_EQ(json["data"], "aMOkbGxv");
  EXPECT_EQ(json["type"], "errorAttachment");

  const std::vector<std::uint8_t> big(300, 0x41);
  auto binary = DRTLErrorAttachmentLog::attachmentWithBinary(big, "a.bin", std::nullopt);
  binary->timestamp = text->timestamp;
  binary->device = text->device;
  binary->errorId = "E";
  {
    LogCapture capture;
    EXPECT_FALSE(binary->isValid());
    EXPECT_TRUE(capture.contains(core::DRTLLogLevelVerbose, "\"contentType\" is not valid."));
  }
  EXPECT_EQ(binary->serializeToDictionary()["data"].get<std::string>().find('\n'), std::string::npos);

  DRTLHandledErrorLog handled;
  handled.timestamp = text->timestamp;
  handled.device = text->device;
  handled.errorId = "E";
  LogCapture capture;
  EXPECT_FALSE(handled.isValid());
  EXPECT_TRUE(capture.contains(core::DRTLLogLevelVerbose, "DRTLHandledErrorLog: \"exception\" is not valid."));
  EXPECT_EQ(handled.serializeToDictionary()["type"], "handledError");
}

TEST(DRTLCrashLogRecordsTest, ErrorReportTellsAnApplicationKill) {
  const struct {
    std::optional<std::string> signal;
    bool kill;
  } cases[] = {{"SIGKILL", true}, {"sigkill", true}, {"SigKill", true}, {"SIGABRT", false}, {std::nullopt, false}};
  for (const auto& c : cases) {
    DRTLErrorReport report(std::nullopt, std::nullopt, c.signal, std::nullopt, std::nullopt, std::nullopt, std::nullopt,
                           nullptr, 77);
    EXPECT_EQ(report.isAppKill(), c.kill) << c.signal.value_or("(none)");
    EXPECT_EQ(report.appProcessIdentifier(), 77u);
    EXPECT_FALSE(report.incidentIdentifier());
    EXPECT_FALSE(report.device());
  }
}

}  // namespace
}  // namespace telemetry::crashes
