#include "CrashReportFixtures.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>

#include "crashreporter/Source/DCRCrashReportFormat.h"
#include "tests/support/TemporaryDirectory.h"

namespace crash_test {
namespace {

std::string runProtoc(const std::string& arguments, const std::string& input) {
  testing_support::TemporaryDirectory directory;
  const auto inputPath = directory / "input";
  std::ofstream(inputPath, std::ios::binary) << input;
  const std::string schema = arguments == "--decode_raw" ? "" : " -I" CRASH_TEST_PROTO_DIR " drcrash.proto";
  const std::string command = std::string(CRASH_TEST_PROTOC) + " " + arguments + schema + " < " + inputPath.string() +
                              " 2>/dev/null";
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) throw std::runtime_error("cannot run protoc");
  std::string output;
  std::array<char, 4096> buffer;
  while (const std::size_t n = fread(buffer.data(), 1, buffer.size(), pipe)) output.append(buffer.data(), n);
  const int status = pclose(pipe);
  if (status != 0) throw std::runtime_error("protoc " + arguments + " failed");
  return output;
}

}  // namespace

std::string readTestFile(const std::string& relativePath) {
  std::ifstream in(std::string(CRASH_TEST_DATA_DIR) + "/" + relativePath, std::ios::binary);
  if (!in) throw std::runtime_error("missing test file " + relativePath);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

Bytes encodeText(const std::string& protoText) {
  const std::string bytes = runProtoc("--encode=drcrash.CrashReport", protoText);
  return Bytes(bytes.begin(), bytes.end());
}

Bytes withHeader(const Bytes& message) {
  Bytes report(crashreporter::kDrcrashHeaderLength + message.size());
  std::copy(std::begin(crashreporter::kDrcrashReportHeader), std::end(crashreporter::kDrcrashReportHeader), report.begin());
  std::copy(message.begin(), message.end(), report.begin() + crashreporter::kDrcrashHeaderLength);
  return report;
}

Bytes reportFromFixture(const std::string& fixtureName) {
  return withHeader(encodeText(readTestFile("fixtures/" + fixtureName + ".txt")));
}

std::string decodeMessage(const Bytes& message) {
  return runProtoc("--decode=drcrash.CrashReport", std::string(message.begin(), message.end()));
}

std::string decodeRaw(const Bytes& message) {
  return runProtoc("--decode_raw", std::string(message.begin(), message.end()));
}

Bytes captureOutput(const std::function<void(crashreporter::drcrash_async_file*)>& write, std::uint64_t limit) {
  const int fd = memfd_create("crash-test-output", 0);
  if (fd < 0) throw std::runtime_error("memfd_create failed");
  crashreporter::drcrash_async_file file;
  crashreporter::drcrash_async_file_init(&file, fd, limit);
  write(&file);
  crashreporter::drcrash_async_file_flush(&file);
  const off_t size = lseek(fd, 0, SEEK_END);
  Bytes bytes(static_cast<std::size_t>(size));
  if (size > 0 && pread(fd, bytes.data(), bytes.size(), 0) != size) throw std::runtime_error("short read");
  close(fd);
  return bytes;
}

}  // namespace crash_test
