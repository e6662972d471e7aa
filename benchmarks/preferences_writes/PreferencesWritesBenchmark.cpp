// 1,000 GPI pop-up changes in the preferences window, each writing its
// default to the defaults file, against 1,000 bare atomic replaces (write,
// fsync, rename) of a file of the same size in the same folder. The counter
// "ratio_to_bare" is the preferences rate over the bare rate. The defaults
// also flush their folder after the rename (so a power cut cannot lose the
// rename); "ratio_to_bare_with_folder_flush" compares with replaces that do
// the same.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "app/preferences/PreferencesWindowController.h"
#include "app/shell/RegisteredDefaults.h"
#include "benchmarks/BenchmarkSupport.h"

namespace {

constexpr int kWrites = 1000;

class NoNodes final : public app::preferences::PreferencesNodeSource {
 public:
  std::vector<app::preferences::PreferencesNode> nodes() const override { return {}; }
  void createStaticNode(const nodes::StaticNodeInfo&) override {}
  void deleteStaticNode(const nodes::StaticNodeInfo&) override {}
};

enum class FolderFlush { No, Yes };

bool bareReplace(const std::filesystem::path& path, const std::string& bytes, FolderFlush folderFlush) {
  const std::string temporary = path.string() + ".tmp";
  const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  const bool written = ::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size()) && ::fsync(fd) == 0;
  ::close(fd);
  if (!written || ::rename(temporary.c_str(), path.c_str()) != 0) return false;
  if (folderFlush == FolderFlush::No) return true;
  const int folder = ::open(path.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder < 0) return false;
  const bool flushed = ::fsync(folder) == 0;
  ::close(folder);
  return flushed;
}

void BM_PreferencesPopUpWrites(benchmark::State& state) {
  bench::TemporaryFolder folder("preferences-writes");
  const std::filesystem::path defaultsFile = folder.path() / "defaults.plist";
  platform::UserDefaults defaults(defaultsFile);
  app::registerApplicationDefaults(defaults);
  platform::NotificationCenter center;
  NoNodes noNodes;
  app::preferences::PreferencesWindowController controller(
      {defaults, center, noNodes, [] { return std::vector<std::string>{}; }, {}});
  controller.windowDidLoad();
  const char* popUp = app::preferences::kTrelvaneIndexPopUps[0].outlet;

  double preferencesSeconds = 0;
  double bareSeconds = 0;
  double flushedSeconds = 0;
  for (auto _ : state) {
    preferencesSeconds += bench::secondsOf([&] {
      for (int i = 0; i < kWrites; ++i) controller.popUpChosen(popUp, 1 + static_cast<std::size_t>(i % 24));
    });
    const std::string bytes(std::filesystem::file_size(defaultsFile), 'x');
    const std::filesystem::path bareFile = folder.path() / "bare.plist";
    for (const auto& [flush, seconds] : {std::pair{FolderFlush::No, &bareSeconds}, {FolderFlush::Yes, &flushedSeconds}}) {
      *seconds += bench::secondsOf([&, flush = flush] {
        for (int i = 0; i < kWrites; ++i) {
          if (!bareReplace(bareFile, bytes, flush)) state.SkipWithError("bare replace failed");
        }
      });
    }
    state.counters["file_bytes"] = static_cast<double>(bytes.size());
  }
  const double writes = static_cast<double>(kWrites) * static_cast<double>(state.iterations());
  state.counters["preferences_writes_per_s"] = writes / preferencesSeconds;
  state.counters["bare_replaces_per_s"] = writes / bareSeconds;
  state.counters["ratio_to_bare"] = bareSeconds / preferencesSeconds;
  state.counters["ratio_to_bare_with_folder_flush"] = flushedSeconds / preferencesSeconds;
}
BENCHMARK(BM_PreferencesPopUpWrites)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
