// Placing a node's clips in the media browser's tree, beside reading the same
// clips from the clip catalogue (clipsForNodeUniqueID), in the same run:
// 50,000 clips in 500 folders, catalogued at run time.
//
// Counters: tree_clips_per_s, read_clips_per_s and ratio =
// tree_clips_per_s / read_clips_per_s (the target is at least 1.0).

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "app/browser/MediaCollectionNodeController.h"
#include "benchmarks/BenchmarkSupport.h"
#include "nodes/catalogue/ClipCatalogue.h"
#include "platform/Diagnostics.h"
#include "platform/NotificationCenter.h"
#include "platform/RunLoop.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kClips = 50'000;
constexpr int kFolders = 500;
constexpr const char* kNode = "node-1";

std::vector<std::shared_ptr<nodes::MediaItem>> mediaItems() {
  std::vector<std::shared_ptr<nodes::MediaItem>> items;
  items.reserve(kClips);
  for (int i = 0; i < kClips; ++i) {
    char id[48];
    std::snprintf(id, sizeof id, "ABCD-EFGH-IJKL-MNOP-%04d-%08d", i % 10000, i);
    const int folder = (i * 7919) % kFolders;
    const std::string name = "clip-" + std::to_string(i) + ".mov";
    const std::string relative = "Show " + std::to_string(folder / 20) + "/Part " + std::to_string(folder) + "/" + name;
    nodes::MediaItemInfo info;
    info.uniqueID = id;
    info.absolutePath = "/media/Main/" + relative;
    info.relativePath = relative;
    info.mediaFolderUniqueID = "folder-1";
    info.mediaFolderPath = "/media/Main";
    info.nodeUniqueID = kNode;
    info.nodeName = "Studio A";
    info.displayName = name;
    info.durationInSeconds = 30.0 + i % 600;
    info.framesPerSecond = 25.0;
    info.videoCodecDescription = "Apple ProRes 422";
    info.naturalVideoSizeWidth = 1920;
    info.naturalVideoSizeHeight = 1080;
    items.push_back(std::make_shared<nodes::MediaItem>(std::move(info)));
  }
  return items;
}

// The tree reads nothing but media folder case rules here.
class NoFolders final : public app::browser::MediaBrowserDataSource {
 public:
  std::vector<app::browser::BrowserNodeInfo> nodes() const override { return {}; }
  std::optional<app::browser::BrowserNodeInfo> node(const std::string&) const override { return std::nullopt; }
  std::optional<bool> mediaFolderIsCaseSensitive(const std::string&, const std::string&) const override {
    return std::nullopt;
  }
  Clips clipsForNodeUniqueID(const std::string&) override { return {}; }
  Clips clipsWithUniqueIDs(const std::vector<std::string>&) override { return {}; }
  std::shared_ptr<nodes::PlaylistItem> clipWithUniqueID(const std::string&) override { return nullptr; }
  void removeClipsWithUniqueIDs(const std::vector<std::string>&) override {}
  void addOrUpdateClips(const Clips&) override {}
  void duplicateClip(const std::shared_ptr<nodes::PlaylistItem>&) override {}
  void requestThumbnail(const std::string&, const std::string&, const std::string&, double) override {}
  void forceEnumeration(const std::optional<std::string>&, const std::string&,
                        const std::optional<std::string>&) override {}
};

void BM_MediaCollectionTree(benchmark::State& state) {
  platform::setDiagnosticHandler([](platform::DiagnosticLevel, const std::string&) {});
  bench::TemporaryFolder folder("vz-media-collection");
  platform::NotificationCenter center;
  bool added = false;
  platform::ObserverToken token = center.addObserver(nodes::catalogue::kClipsAddedNotification, nullptr,
                                                     [&](const platform::Notification&) { added = true; });
  nodes::ClipCatalogue::Options options;
  options.notificationCenter = &center;
  options.bundleName = "Benchmark";
  std::unique_ptr<nodes::ClipCatalogue> catalogue = nodes::ClipCatalogue::create(folder.path(), options);
  catalogue->addOrUpdateClipsWithMediaItems(mediaItems());
  platform::RunLoop::main().runUntil([&] { return added; }, std::chrono::minutes(10));
  if (!added) {
    state.SkipWithError("the clips were not catalogued");
    return;
  }

  double readSeconds = 0;
  double treeSeconds = 0;
  std::size_t placed = 0;
  for (auto _ : state) {
    const Clock::time_point readStart = Clock::now();
    const nodes::ClipCatalogue::PlaylistItems clips = catalogue->clipsForNodeUniqueID(kNode);
    readSeconds += std::chrono::duration<double>(Clock::now() - readStart).count();

    platform::NotificationCenter treeCenter;
    app::browser::MediaCollectionNodeController trees(std::make_shared<NoFolders>(), treeCenter);
    const Clock::time_point treeStart = Clock::now();
    for (const auto& clip : clips) trees.addCollectionNodeWithClip(clip, clip->nodeUniqueID());
    const double seconds = std::chrono::duration<double>(Clock::now() - treeStart).count();
    treeSeconds += seconds;
    state.SetIterationTime(seconds);
    placed = trees.totalClips();
  }
  platform::setDiagnosticHandler({});
  const double iterations = static_cast<double>(state.iterations());
  if (iterations == 0 || treeSeconds == 0 || readSeconds == 0) return;
  state.counters["clips_placed"] = static_cast<double>(placed);
  state.counters["tree_clips_per_s"] = kClips * iterations / treeSeconds;
  state.counters["read_clips_per_s"] = kClips * iterations / readSeconds;
  state.counters["ratio"] = readSeconds / treeSeconds;
}

BENCHMARK(BM_MediaCollectionTree)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
