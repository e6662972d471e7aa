// A/53 extraction over every packet of an H.264 movie, against reading the
// same packets with av_read_frame alone. The movie (10 s of 1080p, made with
// ffmpeg when the benchmark starts) stands in for a longer one.

#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "captions/CVNCCUtilities.h"

extern "C" {
#include <libavformat/avformat.h>
}

namespace {

char folderToRemove[64] = {};

const std::string& movie() {
  static const std::string path = [] {
    char pattern[] = "/tmp/a53-bench-XXXXXX";
    const char* folder = ::mkdtemp(pattern);
    std::string file = std::string(folder ? folder : "/tmp") + "/movie.mp4";
    const std::string command = "ffmpeg -v error -y -f lavfi -i testsrc2=s=1920x1080:r=25 -t 10 -c:v libx264 -preset "
                                "ultrafast -a53cc 1 '" + file + "' < /dev/null";
    if (std::system(command.c_str()) != 0) file.clear();
    // The movie goes with the process.
    if (folder) {
      std::snprintf(folderToRemove, sizeof folderToRemove, "%s", folder);
      std::atexit([] {
        std::error_code ignored;
        std::filesystem::remove_all(folderToRemove, ignored);
      });
    }
    return file;
  }();
  return path;
}

void readPackets(benchmark::State& state, bool extract) {
  if (movie().empty()) {
    state.SkipWithError("cannot make the movie");
    return;
  }
  for (auto _ : state) {
    AVFormatContext* input = nullptr;
    if (avformat_open_input(&input, movie().c_str(), nullptr, nullptr) != 0) {
      state.SkipWithError("cannot open the movie");
      return;
    }
    AVPacket* packet = av_packet_alloc();
    std::size_t found = 0;
    while (av_read_frame(input, packet) >= 0) {
      if (extract) {
        found += captions::CVNCCUtilities::extractCCDataFromH264Packet(
                     {packet->data, static_cast<std::size_t>(packet->size)}, platform::media::MediaTime::zero())
                     .has_value();
      }
      av_packet_unref(packet);
    }
    benchmark::DoNotOptimize(found);
    av_packet_free(&packet);
    avformat_close_input(&input);
  }
}

void BM_A53Extraction(benchmark::State& state) { readPackets(state, true); }
void BM_A53PeerReadFrameAlone(benchmark::State& state) { readPackets(state, false); }
BENCHMARK(BM_A53Extraction)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_A53PeerReadFrameAlone)->Unit(benchmark::kMillisecond);

}  // namespace
