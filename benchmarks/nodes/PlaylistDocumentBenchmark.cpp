// Reading and writing a playlist document of 1,000 clips: the whole file,
// a file cut short in its middle (the salvaging reader), and the same file
// with a repeated root key, which the general reader reads after the
// row-by-row reader gave up (a dictionary per row, as every file was read
// before). The peer of the read is pugixml parsing the same bytes
// (BM_PlaylistDocumentPugixmlLoadBuffer).

#include <benchmark/benchmark.h>
#include <pugixml.hpp>

#include <memory>
#include <string>

#include "foundation/CVNLogController.h"
#include "nodes/playlist/VideoPlaylistDocument.h"
#include "platform/UserDefaults.h"
#include "tests/support/SilentNotificationCenter.h"

namespace {

using nodes::PlaylistItem;
using nodes::PlaylistItemFields;
using nodes::VideoPlaylistDocument;

constexpr int kClipCount = 1000;

// A log that keeps the losses of the cut file off the console.
class QuietLog {
 public:
  QuietLog() {
    foundation::CVNLogController::Environment environment;
    environment.defaults = &defaults_;
    environment.notificationCenter = std::make_shared<testing_support::SilentNotificationCenter>();
    environment.console = [](std::string_view) {};
    log_ = std::make_unique<foundation::CVNLogController>(std::move(environment));
    foundation::CVNLogController::setSharedLogControllerForTesting(log_.get());
  }
  ~QuietLog() { foundation::CVNLogController::setSharedLogControllerForTesting(nullptr); }

 private:
  platform::UserDefaults defaults_{std::filesystem::path()};
  std::unique_ptr<foundation::CVNLogController> log_;
};

// Rows as the catalogue makes them: every document key set.
std::unique_ptr<VideoPlaylistDocument> makeDocument() {
  auto document = std::make_unique<VideoPlaylistDocument>();
  VideoPlaylistDocument::Rows rows;
  for (int i = 0; i < kClipCount; ++i) {
    PlaylistItemFields f;
    const std::string n = std::to_string(i);
    f.attributes = platform::Dictionary{{nodes::kClipEndBehaviourAttribute, platform::Value("Chain")},
                                        {"Audio Volume", platform::Value("0.8")}};
    f.mediaItemUniqueID = "MEDIA-" + n;
    f.uniqueID = "CLIP-" + n;
    f.playbackUniqueID = "PLAY-" + n;
    f.inPointInSeconds = 1.5;
    f.outPointInSeconds = 28.25;
    f.online = true;
    f.nodeName = "Studio A";
    f.nodeUniqueID = "NODE-A";
    f.displayName = "Clip number " + n;
    f.absolutePathToMediaItem = "/media/news/clip" + n + ".mov";
    f.relativePathToMediaItem = "news/clip" + n + ".mov";
    f.framesPerSecond = 25.0;
    f.mediaItemDurationInSeconds = 30.0;
    f.lastModificationDate = platform::Date(std::chrono::seconds(1700000000 + i));
    f.lastModificationDateAsString = "2023-11-14 22:13";
    f.languages = {"en", "de"};
    f.languagesDescription = "en-de";
    f.mediaFolderPath = "/media";
    f.mediaFolderUniqueID = "FOLDER-1";
    f.videoCodecDescription = "H.264";
    f.naturalSizeWidth = f.displaySizeWidth = 1920;
    f.naturalSizeHeight = f.displaySizeHeight = 1080;
    rows.push_back(std::make_shared<PlaylistItem>(std::move(f)));
  }
  document->setPlaylist(std::move(rows));
  document->setNodeAName("Studio A");
  document->setNodeAUniqueID("NODE-A");
  return document;
}

void BM_WritePlaylistDocument(benchmark::State& state) {
  auto document = makeDocument();
  std::size_t bytes = 0;
  for (auto _ : state) {
    platform::Result<std::string> data = document->dataOfType(nodes::kVideoPlaylistDocumentType);
    if (!data.ok()) {
      state.SkipWithError(data.error().localizedDescription.c_str());
      return;
    }
    bytes = data->size();
    benchmark::DoNotOptimize(data->data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
  state.SetItemsProcessed(state.iterations() * kClipCount);
  state.counters["fileBytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_WritePlaylistDocument)->Unit(benchmark::kMillisecond);

enum class FileForm { Whole = 1, CutInTheMiddle = 2, RepeatedRootKey = 3 };

void readBenchmark(benchmark::State& state, FileForm form) {
  QuietLog quiet;
  std::string data = *makeDocument()->dataOfType(nodes::kVideoPlaylistDocumentType);
  if (form == FileForm::CutInTheMiddle) data.resize(data.size() / 2);
  // One unknown root entry, twice: the row-by-row reader leaves such a file
  // to the general reader.
  if (form == FileForm::RepeatedRootKey) {
    data.insert(data.rfind("</dict>"), "\t<key>Extra</key>\n\t<integer>1</integer>\n\t<key>Extra</key>\n\t<integer>2</integer>\n");
  }
  std::size_t rows = 0;
  for (auto _ : state) {
    VideoPlaylistDocument document;
    platform::Status status = document.readFromData(data, nodes::kVideoPlaylistDocumentType);
    if (!status.ok()) {
      state.SkipWithError(status.error().localizedDescription.c_str());
      return;
    }
    rows = document.clipCount();
    benchmark::DoNotOptimize(rows);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * data.size()));
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * rows));
  state.counters["rowsRead"] = static_cast<double>(rows);
}

void BM_ReadPlaylistDocument(benchmark::State& state) { readBenchmark(state, FileForm::Whole); }
BENCHMARK(BM_ReadPlaylistDocument)->Unit(benchmark::kMillisecond);

void BM_ReadPlaylistDocumentCutShort(benchmark::State& state) { readBenchmark(state, FileForm::CutInTheMiddle); }
BENCHMARK(BM_ReadPlaylistDocumentCutShort)->Unit(benchmark::kMillisecond);

void BM_ReadPlaylistDocumentGeneralReader(benchmark::State& state) { readBenchmark(state, FileForm::RepeatedRootKey); }
BENCHMARK(BM_ReadPlaylistDocumentGeneralReader)->Unit(benchmark::kMillisecond);

void BM_PlaylistDocumentPugixmlLoadBuffer(benchmark::State& state) {
  const std::string data = *makeDocument()->dataOfType(nodes::kVideoPlaylistDocumentType);
  for (auto _ : state) {
    pugi::xml_document xml;
    benchmark::DoNotOptimize(static_cast<bool>(xml.load_buffer(data.data(), data.size())));
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * data.size()));
}
BENCHMARK(BM_PlaylistDocumentPugixmlLoadBuffer)->Unit(benchmark::kMillisecond);

}  // namespace
