#pragma once
// Report bytes for tests: proto text fixtures encoded by protoc, messages
// decoded back to text by protoc, and fields written by the crash-time encoder
// into memory.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "crashreporter/Source/AsyncFileOutput.h"

namespace crash_test {

using Bytes = std::vector<std::uint8_t>;

std::string readTestFile(const std::string& relativePath);
// The message bytes protoc makes of proto text (no header).
Bytes encodeText(const std::string& protoText);
// A whole report file: header then the fixture's message.
Bytes reportFromFixture(const std::string& fixtureName);
Bytes withHeader(const Bytes& message);
// protoc --decode=drcrash.CrashReport / --decode_raw of message bytes.
std::string decodeMessage(const Bytes& message);
std::string decodeRaw(const Bytes& message);

// Runs `write` against a file output over an in-memory file; the bytes it wrote.
Bytes captureOutput(const std::function<void(crashreporter::drcrash_async_file*)>& write, std::uint64_t limit = 0);

}  // namespace crash_test
