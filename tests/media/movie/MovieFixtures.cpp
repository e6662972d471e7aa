#include "tests/media/movie/MovieFixtures.h"

#include <mutex>
#include <sstream>

#include "tests/support/MediaFixtures.h"
#include "tests/support/TemporaryDirectory.h"

namespace movie_fixtures {

namespace {

const std::string kVideo = "-f lavfi -i testsrc2=size=64x48:rate=25:duration=1 ";
const std::string kAudio = "-f lavfi -i sine=frequency=440:sample_rate=48000:duration=1 ";

// name -> inputs and outputs (the file name is appended).
const std::map<std::string, std::string>& commands() {
  static const std::map<std::string, std::string> table{
      {"movie.mov", kVideo + kAudio + "-c:v mpeg4 -c:a pcm_s16le"},
      {"movie.mp4", kVideo + kAudio + "-c:v libx264 -pix_fmt yuv420p -c:a aac"},
      {"op1a.mxf", kVideo + kAudio + "-c:v mpeg2video -c:a pcm_s16le"},
      {"imx.mxf", "-f lavfi -i testsrc2=size=720x608:rate=25:duration=1 " + kAudio +
                      "-c:v mpeg2video -pix_fmt yuv422p -g 1 -b:v 50M -minrate 50M -maxrate 50M -bufsize 2000000 "
                      "-rc_init_occupancy 2000000 -flags +ildct+low_delay -top 1 -dc 10 -c:a pcm_s16le -ar 48000 "
                      "-f mxf_d10"},
      {"movie.ts", kVideo + kAudio + "-c:v mpeg2video -c:a mp2"},
      {"movie.m2ts", kVideo + kAudio + "-c:v mpeg2video -c:a mp2 -f mpegts -mpegts_m2ts_mode 1"},
      {"movie.dv", "-f lavfi -i testsrc2=size=720x576:rate=25:duration=1 " + kAudio + "-target pal-dv"},
      {"movie.avi", kVideo + kAudio + "-c:v mpeg4 -c:a pcm_s16le"},
      {"movie.mkv", kVideo + kAudio + "-c:v mpeg4 -c:a flac"},
      {"wide.ts", "-f lavfi -i testsrc2=size=720x576:rate=25:duration=1 -c:v mpeg2video -aspect 16:9"},
      {"dropframe.mov", "-f lavfi -i testsrc2=size=64x48:rate=30000/1001:duration=1 -c:v mpeg4 -timecode '10:00:00;00'"},
      {"nodrop.mkv",
       "-f lavfi -i testsrc2=size=64x48:rate=24000/1001:duration=1 -c:v mpeg4 -metadata 'timecode=10:00:00;00'"},
      {"cover.mp3", kAudio + "-f lavfi -i color=size=64x48:duration=0.04 -map 0 -map 1 -c:a libmp3lame -c:v png "
                              "-frames:v 1 -disposition:v attached_pic"},
      {"dnxhd.mov", "-f lavfi -i testsrc2=size=1280x720:rate=25:duration=0.2 -c:v dnxhd -profile:v dnxhr_lb "
                    "-pix_fmt yuv422p"},
      {"long.ts", "-f lavfi -i testsrc2=size=64x48:rate=25:duration=30 -c:v mpeg2video"},
      // Truncated later by the media-info tests: long enough that a cut loses frames.
      {"tessarine.mxf", "-f lavfi -i testsrc2=size=320x240:rate=25:duration=4 -c:v mpeg2video -b:v 4M "
                        "-metadata 'product_name=Tessarine 1'"},
      {"other.mxf", "-f lavfi -i testsrc2=size=320x240:rate=25:duration=4 -c:v mpeg2video -b:v 4M"},
      {"tessarine.mov", "-f lavfi -i testsrc2=size=320x240:rate=25:duration=4 -c:v mpeg4 -b:v 4M -movflags "
                        "+faststart+use_metadata_tags -metadata 'com.apple.quicktime.software=Tessarine 1'"},
      {"other.mov", "-f lavfi -i testsrc2=size=320x240:rate=25:duration=4 -c:v mpeg4 -b:v 4M -movflags "
                    "+faststart+use_metadata_tags -metadata 'com.apple.quicktime.software=Another Writer'"},
      {"truncate.mkv", "-f lavfi -i testsrc2=size=320x240:rate=25:duration=4 -c:v mpeg4 -b:v 4M "
                       "-metadata 'encoder=Tessarine 1'"},
      // Packet reading and seeking: long GOPs with B-frames, open GOPs, I-frame only, uncompressed.
      {"x264.mov", "-f lavfi -i testsrc2=size=64x48:rate=25:duration=2 " + kAudio +
                       "-c:v libx264 -pix_fmt yuv422p -bf 3 -g 12 -x264-params open-gop=1 -c:a pcm_s16le -t 2"},
      {"x264.mkv", "-f lavfi -i testsrc2=size=64x48:rate=25:duration=2 " + kAudio +
                       "-c:v libx264 -pix_fmt yuv422p -bf 3 -g 12 -x264-params open-gop=1 -c:a pcm_s16le -t 2"},
      {"mpeg2.ts", "-f lavfi -i testsrc2=size=64x48:rate=25:duration=2 " + kAudio +
                       "-c:v mpeg2video -pix_fmt yuv422p -bf 2 -g 12 -c:a aac -t 2"},
      {"prores.mov", "-f lavfi -i testsrc2=size=64x48:rate=25:duration=1 -c:v prores_ks -profile:v 2"},
      {"v210.mov", "-f lavfi -i testsrc2=size=64x48:rate=25:duration=0.4 -c:v v210 -movflags +faststart"},
      // Video far longer than its audio, with large frames: what is read past the out point outgrows the cap.
      {"shortaudio.mov", "-f lavfi -i testsrc2=size=1280x720:rate=25:duration=6 "
                         "-f lavfi -i sine=frequency=440:sample_rate=48000:duration=0.2 "
                         "-c:v mpeg4 -q:v 1 -g 25 -c:a pcm_s16le"},
      // Audio rows: one file each.
      {"a_pcm_s16le.mov", kVideo + kAudio + "-c:v mpeg4 -c:a pcm_s16le"},
      {"a_pcm_s24be.mov", kVideo + kAudio + "-c:v mpeg4 -c:a pcm_s24be"},
      {"a_pcm_f32le.mov", kVideo + kAudio + "-c:v mpeg4 -c:a pcm_f32le"},
      {"a_pcm_u8.mov", kVideo + kAudio + "-c:v mpeg4 -c:a pcm_u8"},
      {"a_pcm_mulaw.mov", kVideo + kAudio + "-c:v mpeg4 -c:a pcm_mulaw"},
      {"a_pcm_alaw.mov", kVideo + kAudio + "-c:v mpeg4 -c:a pcm_alaw"},
      {"a_adpcm_ima_qt.mov", kVideo + kAudio + "-c:v mpeg4 -c:a adpcm_ima_qt"},
      {"a_mp2.ts", kVideo + kAudio + "-c:v mpeg2video -c:a mp2"},
      {"a_libmp3lame.mov", kVideo + kAudio + "-c:v mpeg4 -c:a libmp3lame"},
      {"a_aac.mp4", kVideo + kAudio + "-c:v mpeg4 -c:a aac"},
      {"a_ac3.ts", kVideo + kAudio + "-c:v mpeg2video -c:a ac3 -b:a 192k"},
      {"a_flac.mkv", kVideo + kAudio + "-c:v mpeg4 -c:a flac"},
      {"a_alac.mov", kVideo + kAudio + "-c:v mpeg4 -c:a alac"},
      {"a_pcm_dvd.vob", kVideo + kAudio + "-c:v mpeg2video -c:a pcm_dvd -f vob"},
  };
  return table;
}

std::mutex fixturesMutex;

}  // namespace

const std::filesystem::path& fixtureFolder() {
  static testing_support::TemporaryDirectory* folder = new testing_support::TemporaryDirectory;  // for the binary's run
  return folder->path();
}

std::string fixtureCommand(const std::string& name) {
  const auto it = commands().find(name);
  return it == commands().end() ? std::string() : it->second;
}

std::filesystem::path fixture(const std::string& name) {
  std::lock_guard lock(fixturesMutex);
  const auto path = fixtureFolder() / name;
  if (std::filesystem::exists(path)) return path;
  const std::string command = "ffmpeg -nostdin -hide_banner -loglevel error -y " + fixtureCommand(name);
  if (fixtureCommand(name).empty() || !testing_support::makeFileOnce(command, path)) return {};
  return path;
}

std::map<std::string, std::string> probeStream(const std::filesystem::path& path, const std::string& selector) {
  const std::string output =
      testing_support::commandOutputOnce("ffprobe -v error -show_streams -select_streams " + selector, path);
  std::map<std::string, std::string> values;
  std::istringstream lines(output);
  for (std::string line; std::getline(lines, line);) {
    const auto equals = line.find('=');
    if (equals != std::string::npos) values.emplace(line.substr(0, equals), line.substr(equals + 1));
  }
  return values;
}

std::vector<ProbedPacket> probePackets(const std::filesystem::path& path, const std::string& selector) {
  const std::string extension = path.extension().string();
  const std::string editList = extension == ".mov" || extension == ".mp4" ? "-advanced_editlist 0 " : "";
  const std::string output = testing_support::commandOutputOnce(
      "ffprobe -v error " + editList + "-select_streams " + selector + " -show_entries packet=pts,dts,duration,flags -of csv=p=0",
      path);
  const auto number = [](const std::string& text) -> std::optional<std::int64_t> {
    if (text.empty() || text == "N/A") return std::nullopt;
    return std::stoll(text);
  };
  std::vector<ProbedPacket> packets;
  std::istringstream lines(output);
  for (std::string line; std::getline(lines, line);) {
    std::vector<std::string> fields;
    std::istringstream columns(line);
    for (std::string field; std::getline(columns, field, ',');) fields.push_back(field);
    if (fields.size() < 4) continue;
    packets.push_back({number(fields[0]), number(fields[1]), number(fields[2]), fields[3].find('K') != std::string::npos});
  }
  return packets;
}

}  // namespace movie_fixtures
