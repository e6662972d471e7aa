// Sending a playlist of 1,000 clips to the stand-in node on loopback and
// starting it: the time from DataSource::nodeControlSendAndStartPlaylistDocument
// to the node's answer to "pbplayitem". The chain is eight commands (the
// polling thread serves one step per 40 ms tick, each queued from the reply
// to the previous one), so about 300 ms of it is the tick rhythm; the rest is
// writing, sending and the node reading the item list.
// Skipped when the stand-in binary is not built.

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "foundation/GenerateUniqueID.h"
#include "nodes/link/DataSource.h"
#include "nodes/link/PlaylistTransfer.h"
#include "nodes/playlist/VideoPlaylistDocument.h"
#include "platform/RunLoop.h"
#include "platform/UserDefaults.h"
#include "tests/nodes/NodeStandinProcess.h"

namespace {

using Clock = std::chrono::steady_clock;
using nodes::PlaylistTransfer;

constexpr int kClips = 1000;

// A stand-in node with an empty media folder and private user defaults.
struct TransferBench {
  std::filesystem::path folder;
  testing_support::NodeStandinProcess process;
  std::unique_ptr<platform::UserDefaults> defaults;
  std::unique_ptr<platform::ScopedStandardUserDefaultsOverride> defaultsOverride;
  std::string failure;

  TransferBench() {
    char pattern[] = "/tmp/transfer-bench-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) {
      failure = "no temporary folder";
      return;
    }
    folder = pattern;
    std::filesystem::create_directories(folder / "media");
    defaults = std::make_unique<platform::UserDefaults>(folder / "defaults.plist");
    defaultsOverride = std::make_unique<platform::ScopedStandardUserDefaultsOverride>(*defaults);
    failure = process.start({"--media", (folder / "media").string(), "--uid", "bench-node"});
  }
  ~TransferBench() {
    process.stop();
    defaultsOverride.reset();
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
  }
};

std::shared_ptr<nodes::VideoPlaylistDocument> thousandClips() {
  auto document = std::make_shared<nodes::VideoPlaylistDocument>();
  document->setNodeAUniqueID("bench-node");
  nodes::VideoPlaylistDocument::Rows rows;
  for (int i = 0; i < kClips; ++i) {
    auto row = std::make_shared<nodes::PlaylistItem>();
    row->setNodeUniqueID("bench-node");
    row->setMediaItemUniqueID("media-" + std::to_string(i));
    row->setMediaFolderUniqueID("folder-1");
    row->setAbsolutePathToMediaItem("/media/clip-" + std::to_string(i) + ".mov");
    row->setMediaItemDurationInSeconds(60.0);
    row->setInPointInSeconds(0.0);
    row->setOutPointInSeconds(30.0);
    row->setAttributes(platform::Dictionary{{nodes::kClipEndBehaviourAttribute, platform::Value("Normal")}});
    rows.push_back(std::move(row));
  }
  document->setPlaylist(std::move(rows));
  return document;
}

void BM_SendAndStartThousandClips(benchmark::State& state) {
  platform::RunLoop::main().attachCurrentThread();
  TransferBench bench;
  if (!bench.failure.empty()) {
    state.SkipWithError(bench.failure.c_str());
    return;
  }
  auto dataSource = nodes::DataSource::create();
  nodes::StaticNodeInfo info;
  info.setIpAdress("127.0.0.1");
  info.setPortNumber(std::to_string(bench.process.port()));
  dataSource->addStaticNodeInfoInCache(info);
  const auto connection = dataSource->nodes().back();
  connection->startConnection();
  platform::RunLoop::main().runUntil([&] { return !connection->currentStatus().empty(); }, std::chrono::seconds(10));
  if (connection->currentStatus().empty()) {
    state.SkipWithError("the node did not come up");
    return;
  }

  const auto document = thousandClips();
  std::size_t commandBytes = 0;
  {
    platform::Array items;
    for (const auto& row : document->playlist()) items.emplace_back(row->dictionaryForNode());
    commandBytes = nodes::nodeCommandPropertyListText(platform::Value(std::move(items))).value().size();
  }
  double totalMs = 0.0;
  for (auto _ : state) {
    // A new playlist ID each time, so the whole list is sent again.
    document->setUniqueID(foundation::GenerateUniqueID::generateUniqueID());
    const auto started = Clock::now();
    auto transfer = dataSource->nodeControlSendAndStartPlaylistDocument(document, std::nullopt, 0.0, false);
    if (!transfer) {
      state.SkipWithError("the transfer did not start");
      break;
    }
    platform::RunLoop::main().runUntil([&] { return transfer->outcome().has_value(); }, std::chrono::seconds(30));
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - started).count();
    if (transfer->outcome() != PlaylistTransfer::Outcome::Started) {
      state.SkipWithError(transfer->outcome() ? PlaylistTransfer::outcomeName(*transfer->outcome())
                                              : "no answer within 30 s");
      break;
    }
    state.SetIterationTime(ms / 1000.0);
    totalMs += ms;
  }
  state.counters["clips"] = kClips;
  state.counters["pladditemsBytes"] = static_cast<double>(commandBytes);
  state.counters["meanMs"] = totalMs / static_cast<double>(std::max<std::int64_t>(1, state.iterations()));
  connection->stopConnection();
  platform::RunLoop::main().runUntil([] { return true; }, std::chrono::milliseconds(100));
}
BENCHMARK(BM_SendAndStartThousandClips)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);

}  // namespace
