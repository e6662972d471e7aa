// The cloud upload's throughput: a 256 MiB file sent as one streamed PUT and
// as a multipart upload of 10 MiB segments to the loopback object-store peer,
// against `curl -T` of the same file to the same peer in the same run. The
// counters are MiB/s and the ratios to curl.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>

#include "benchmarks/BenchmarkSupport.h"
#include "support/AmazonUploaderController.h"
#include "tests/support/HttpCaptureServer.h"
#include "tests/support/RunLoopWait.h"

namespace {

constexpr std::int64_t kMiB = 1 << 20;
constexpr std::int64_t kFileSize = 256 * kMiB;

class Finish : public support::AmazonUploaderControllerDelegateProtocol {
 public:
  bool respondsTo(std::string_view) const override { return true; }
  void amazonFileUploadedSuccessfully(const std::string&, const std::filesystem::path&, const std::string&) override {
    ended = succeeded = true;
  }
  void amazonFileUploadError(const std::string&) override { ended = true; }
  void amazonSegmentFileUploadError(const std::string&) override { ended = true; }
  bool ended = false;
  bool succeeded = false;
};

// Seconds for one upload through the controller; negative when it failed.
double timeUpload(const support::CloudStorageConfiguration& configuration, const std::filesystem::path& file,
                  std::int64_t segmentSize) {
  Finish finish;
  support::AmazonUploaderController controller(&finish, configuration);
  controller.amazonUploader().segmentSize = segmentSize;
  const auto start = std::chrono::steady_clock::now();
  controller.uploadFileToAmazon(file, "bench/");
  testing_support::runMainLoopUntil([&] { return finish.ended; }, "the upload", std::chrono::seconds(300));
  const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;
  return finish.succeeded ? seconds.count() : -1;
}

double timeCurl(const std::string& url, const std::filesystem::path& file) {
  const std::string command = "curl -sS -f -o /dev/null -T '" + file.string() + "' '" + url + "'";
  const auto start = std::chrono::steady_clock::now();
  const int status = std::system(command.c_str());
  const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;
  return status == 0 ? seconds.count() : -1;
}

void BM_UploadAgainstCurl(benchmark::State& state) {
  bench::TemporaryFolder folder("upload-bench");
  const auto file = folder.path() / "bundle.zip";
  {
    std::ofstream out(file, std::ios::binary);
    std::string block(kMiB, '\0');
    for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>((i * 7919) >> 3);
    for (std::int64_t written = 0; written < kFileSize; written += kMiB) out.write(block.data(), kMiB);
  }
  const std::vector<std::string> arguments = {
      R"({"access":"AKIDBENCHMARK0000000","secret":"benchmark/secret/key/of/forty/characters","region":"eu-central-2","benchmark":true})"};
  testing_support::HttpCaptureServer peer(std::string(VZ_OBJECT_STORE_PEER), arguments);
  const support::CloudStorageConfiguration configuration{
      peer.baseUrl(), "bench-bucket", "eu-central-2", 4, "AKIDBENCHMARK0000000",
      "benchmark/secret/key/of/forty/characters", std::nullopt};
  double curl = 0, single = 0, multipart = 0;
  for (auto _ : state) {
    curl = timeCurl(peer.baseUrl() + "/bench-bucket/bench/curl.zip", file);
    single = timeUpload(configuration, file, kFileSize + 1);  // below the segment size: one PUT
    multipart = timeUpload(configuration, file, 0xA00000);
  }
  const double mib = static_cast<double>(kFileSize) / kMiB;
  state.counters["curl_MiBps"] = curl > 0 ? mib / curl : 0;
  state.counters["put_MiBps"] = single > 0 ? mib / single : 0;
  state.counters["multipart_MiBps"] = multipart > 0 ? mib / multipart : 0;
  state.counters["put_vs_curl"] = curl > 0 && single > 0 ? curl / single : 0;
  state.counters["multipart_vs_curl"] = curl > 0 && multipart > 0 ? curl / multipart : 0;
}
BENCHMARK(BM_UploadAgainstCurl)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace
