// File SHA-1 throughput against the system's sha1sum on the same 1 GiB file.
// The file is written once (pseudo-random bytes, not sparse) before the run
// and removed after it. Counter "throughput_vs_sha1sum" is the ratio of our
// best throughput to sha1sum's best over the same number of passes; the target
// is at least 0.9.

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "foundation/FileDigest.h"

namespace {

constexpr std::size_t kFileSize = std::size_t{1} << 30;
constexpr std::size_t kWriteChunk = std::size_t{4} << 20;
constexpr double kMiB = 1024.0 * 1024.0;

std::filesystem::path gFolder;
std::filesystem::path gFile;

void createFile(const benchmark::State&) {
  std::string pattern = (std::filesystem::temp_directory_path() / "vz-digest-bench-XXXXXX").string();
  if (!::mkdtemp(pattern.data())) return;
  gFolder = pattern;
  gFile = gFolder / "one-gibibyte.bin";
  std::ofstream out(gFile, std::ios::binary);
  std::vector<std::uint64_t> chunk(kWriteChunk / sizeof(std::uint64_t));
  std::uint64_t state = 0x9E3779B97F4A7C15ull;  // xorshift64: cheap, incompressible enough
  for (std::size_t written = 0; written < kFileSize && out; written += kWriteChunk) {
    for (std::uint64_t& word : chunk) {
      state ^= state << 13;
      state ^= state >> 7;
      state ^= state << 17;
      word = state;
    }
    out.write(reinterpret_cast<const char*>(chunk.data()), static_cast<std::streamsize>(kWriteChunk));
  }
  if (!out) gFile.clear();
}

void removeFile(const benchmark::State&) {
  std::error_code ignored;
  if (!gFolder.empty()) std::filesystem::remove_all(gFolder, ignored);
  gFolder.clear();
  gFile.clear();
}

std::string hexOf(const platform::Data& bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  for (std::uint8_t byte : bytes) {
    text.push_back(kDigits[byte >> 4]);
    text.push_back(kDigits[byte & 0x0F]);
  }
  return text;
}

double secondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Wall time of one sha1sum over the file; its digest goes to `digest`.
double timeSha1sum(const std::filesystem::path& file, std::string& digest) {
  const std::string command = "sha1sum -- '" + file.string() + "'";
  const auto start = std::chrono::steady_clock::now();
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return -1.0;
  char line[256] = {};
  const bool read = std::fgets(line, sizeof line, pipe) != nullptr;
  const int status = ::pclose(pipe);
  const double seconds = secondsSince(start);
  if (!read || status != 0) return -1.0;
  digest.assign(line, std::min<std::size_t>(40, std::strlen(line)));
  return seconds;
}

void BM_FileSHA1VersusSha1sum(benchmark::State& state) {
  if (gFile.empty()) {
    state.SkipWithError("cannot create the 1 GiB test file");
    return;
  }
  std::vector<double> ours;
  std::string ourDigest;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    platform::Result<platform::Data> digest = foundation::sha1DigestOfFile(gFile);
    ours.push_back(secondsSince(start));
    if (!digest.ok()) {
      state.SkipWithError(digest.error().describe().c_str());
      return;
    }
    ourDigest = hexOf(*digest);
  }

  std::vector<double> theirs;
  std::string theirDigest;
  for (std::size_t pass = 0; pass < ours.size(); ++pass) {
    const double seconds = timeSha1sum(gFile, theirDigest);
    if (seconds < 0) {
      state.SkipWithError("sha1sum failed");
      return;
    }
    theirs.push_back(seconds);
  }
  if (theirDigest != ourDigest) {
    state.SkipWithError("sha1sum disagrees with the file digest");
    return;
  }

  const double ourBest = *std::min_element(ours.begin(), ours.end());
  const double theirBest = *std::min_element(theirs.begin(), theirs.end());
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kFileSize));
  state.counters["ours_MiB_per_s"] = kFileSize / kMiB / ourBest;
  state.counters["sha1sum_MiB_per_s"] = kFileSize / kMiB / theirBest;
  state.counters["throughput_vs_sha1sum"] = theirBest / ourBest;
}

BENCHMARK(BM_FileSHA1VersusSha1sum)
    ->Setup(createFile)
    ->Teardown(removeFile)
    ->Iterations(3)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
