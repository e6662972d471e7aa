// Logs from enqueueItem to a 200 from the loopback capture server, in batches
// of 50, against a plain libcurl loop posting the same (gzipped) bodies to
// the same server on a kept connection.
#include <benchmark/benchmark.h>
#include <curl/curl.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "benchmarks/BenchmarkSupport.h"
#include "telemetry/core/Channel/DRTLChannelGroupDefault.h"
#include "telemetry/core/Channel/DRTLLogContainer.h"
#include "telemetry/core/DRTLCompression.h"
#include "telemetry/core/DRTLLogWithProperties.h"
#include "telemetry/core/DRTLUtility.h"
#include "tests/support/HttpCaptureServer.h"

namespace {

using namespace telemetry::core;

constexpr int kBatch = 50;

// A memory file system when there is one: a loaded disk's flush time would
// hide everything else.
void useScratchFolders() {
  static const bool done = [] {
    const std::filesystem::path& folder = bench::memoryScratchFolder("telemetry-delivery");
    setenv("XDG_DATA_HOME", folder.c_str(), 1);
    setenv("XDG_CONFIG_HOME", folder.c_str(), 1);
    return true;
  }();
  (void)done;
}

std::shared_ptr<DRTLLogWithProperties> sampleLog(int index) {
  auto device = std::make_shared<DRTLDevice>();
  device->sdkName = "diraraded.linux";
  device->sdkVersion = "4.0.0";
  device->osName = "Debian GNU/Linux";
  device->osVersion = "12.0.0";
  device->locale = "en_US";
  device->timeZoneOffset = 60;
  device->appVersion = "1.0";
  device->appBuild = "1";
  auto log = std::make_shared<DRTLLogWithProperties>();
  log->type = "event";
  log->timestamp = platform::Date(std::chrono::milliseconds(1700000000000 + index));
  log->device = device;
  log->properties = std::map<std::string, std::string>{{"clip", "clip" + std::to_string(index % 13)}};
  return log;
}

// Counts delivered logs and lets the benchmark wait for a number.
class DeliveryCounter : public DRTLChannelDelegate {
 public:
  void channelDidSucceedSendingLog(DRTLChannelProtocol*, const std::shared_ptr<DRTLAbstractLog>&) override {
    std::lock_guard lock(mutex_);
    ++delivered_;
    condition_.notify_all();
  }
  void waitFor(std::int64_t count) {
    std::unique_lock lock(mutex_);
    condition_.wait_for(lock, std::chrono::seconds(60), [&] { return delivered_ >= count; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable condition_;
  std::int64_t delivered_ = 0;
};

void BM_PipelineEnqueueToDelivered(benchmark::State& state) {
  useScratchFolders();
  DRTLUtility::deleteItemForPathComponent("Logs.sqlite");
  testing_support::HttpCaptureServer server;
  auto group = DRTLChannelGroupDefault::create(DRTLHttpClient::create(4, nullptr), "install-1", server.baseUrl());
  group->setAppSecret("secret");
  auto counter = std::make_shared<DeliveryCounter>();
  group->addDelegate(counter);
  auto unit = group->addChannelUnitWithConfiguration(DRTLChannelUnitConfiguration::defaultConfiguration("Bench"));
  std::int64_t expected = 0;
  for (auto _ : state) {
    for (int i = 0; i < kBatch; ++i) unit->enqueueItem(sampleLog(i), 1);
    expected += kBatch;
    counter->waitFor(expected);
  }
  state.SetItemsProcessed(state.iterations() * kBatch);
}
BENCHMARK(BM_PipelineEnqueueToDelivered)->Unit(benchmark::kMillisecond)->UseRealTime();

std::size_t discard(char*, std::size_t size, std::size_t count, void*) { return size * count; }

void BM_PlainCurlPostSameBodies(benchmark::State& state) {
  useScratchFolders();
  testing_support::HttpCaptureServer server;
  std::vector<std::shared_ptr<DRTLAbstractLog>> logs;
  for (int i = 0; i < kBatch; ++i) logs.push_back(sampleLog(i));
  const std::string body = *DRTLCompression::compressData(DRTLLogContainer("batch", logs).serializeLog());
  const std::string url = server.baseUrl() + "/logs?api-version=1.0.0";
  CURL* curl = curl_easy_init();
  curl_slist* headers = nullptr;
  for (const char* header : {"Content-Type: application/json", "Content-Encoding: gzip", "Install-ID: install-1",
                             "App-Secret: secret", "Expect:"}) {
    headers = curl_slist_append(headers, header);
  }
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
  curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.data());
  curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(body.size()));
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, discard);
  for (auto _ : state) {
    long status = 0;
    if (curl_easy_perform(curl) != CURLE_OK || curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status) != CURLE_OK ||
        status != 200) {
      state.SkipWithError("a post was not answered with 200");
      break;
    }
  }
  curl_slist_free_all(headers);
  curl_easy_cleanup(curl);
  state.SetItemsProcessed(state.iterations() * kBatch);
}
BENCHMARK(BM_PlainCurlPostSameBodies)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
