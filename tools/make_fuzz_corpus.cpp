// make-fuzz-corpus FOLDER: writes the seed inputs of the fuzz targets, one
// sub-folder per target (FOLDER/<target>/<seed>), made by the system's own
// writers: the stand-in node's replies to real commands, a playlist file, a
// settings file, a keychain store and a catalogue export; the decoder
// target's seeds are a few packets of tiny clips the ffmpeg program encodes
// (the system writes no compressed video). The seeds are checked in under
// fuzz/corpus/; run this again when a writer changes.
//
// Everything runs on a manual clock and fixed paths, so two runs write the
// same bytes.

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "foundation/AESCrypt.h"
#include "foundation/Base64Encoding.h"
#include "foundation/CVNJSONUtilities.h"
#include "node-standin/MediaLibrary.h"
#include "node-standin/NodeSession.h"
#include "node-standin/NodeState.h"
#include "nodes/catalogue/CatalogueExportFolder.h"
#include "nodes/catalogue/ClipCatalogueSchema.h"
#include "nodes/playlist/PlaylistDocumentFormat.h"
#include "nodes/playlist/PlaylistItem.h"
#include "platform/Clock.h"
#include "platform/Keychain.h"
#include "platform/PropertyList.h"
#include "platform/UserDefaults.h"

extern "C" {
#include <libavformat/avformat.h>
}

namespace {

namespace fs = std::filesystem;
using platform::Dictionary;
using platform::Value;

// A fixed scratch folder, so paths inside the seeds do not change between runs.
const fs::path kScratch = "/tmp/vz-fuzz-corpus-scratch";

class CorpusWriter {
 public:
  explicit CorpusWriter(fs::path root) : root_(std::move(root)) {}

  void write(const std::string& target, const std::string& name, std::string_view bytes) {
    fs::create_directories(root_ / target);
    std::ofstream(root_ / target / name, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }

  std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

 private:
  fs::path root_;
};

standin::MediaProbe probeByName(const fs::path& path) {
  standin::MediaProbe probe;
  probe.durationInSeconds = path.filename() == "intro.mov" ? 12.0 : 90.5;
  probe.framesPerSecond = 25;
  probe.width = 1920;
  probe.height = 1080;
  probe.languages = {"eng", "fra"};
  probe.metadata = Dictionary{{"title", Value(path.stem().string())}};
  return probe;
}

// The stand-in node's answers to the commands a client sends: property-list
// replies for the reply readers, every reply (with its framing flag) for
// the framing.
void writeNodeReplies(CorpusWriter& corpus) {
  fs::create_directories(kScratch / "media");
  for (const char* name : {"intro.mov", "news.mov"}) {
    std::ofstream(kScratch / "media" / name) << name;
    fs::last_write_time(kScratch / "media" / name,
                        fs::file_time_type::clock::from_sys(std::chrono::sys_seconds{
                            std::chrono::sys_days{std::chrono::year{2021} / 6 / 30}}));
  }
  standin::MediaLibrary::Options options;
  options.prober = probeByName;
  options.firstChangeNumber = 1700000000;
  standin::MediaLibrary library({kScratch / "media"}, options);
  standin::NodeState node({{"NODE-SEED", "Studio Seed"}, std::nullopt,
                           [](const fs::path&, double) -> platform::Result<platform::Data> {
                             return platform::Data{'I', 'I', '*', 0};
                           },
                           {},
                           {}},
                          library);
  standin::NodeSessionFactory sessions(node);
  const std::unique_ptr<standin::LineSession> session = sessions.newSession("seed");

  const std::string folder = library.folders().front().uniqueID();
  const std::string item = library.folders().front().items().begin()->first;
  const std::string clip = *platform::writePropertyList(Value(Dictionary{
      {"clipInfoPlaybackUniqueID", Value("PLAY-1")},
      {"clipInfoMediaFolderUniqueID", Value(folder)},
      {"clipInfoMediaItemUniqueID", Value(item)},
      {"clipInfoAttributes", Value(Dictionary{{nodes::kClipEndBehaviourAttribute, Value("Chain")}})},
      {"clipInfoHasInPoint", Value(true)},
      {"clipInfoInPointInSeconds", Value(1.5)},
  }));
  session->replyToLine("pladditem " + clip);
  session->replyToLine("pbinitialize");
  session->replyToLine("pbcueitem PLAY-1");

  const struct {
    const char* name;
    std::string command;
    bool propertyList;
  } commands[] = {
      {"version", "version", false},
      {"node-name", "nodename", false},
      {"refusal", "nosuchcommand", true},
      {"change-number", "fmlastchangenumber " + folder, false},
      {"folder-ids", "fmmediafoldersuniqueids", true},
      {"folder-info", "fmmediafolderinfo " + folder, true},
      {"item-ids", "fmmediaitemsuniqueids " + folder, true},
      {"item-info", "fmmediaiteminfo " + folder + " " + item, true},
      {"item-changes", "fmmediaitemschangessince " + folder + " 0i", true},
      {"thumbnail", "fmmediaitemthumbnail " + folder + " " + item + " 1.0", true},
      {"attribute-names", "atattributenames", true},
      {"attribute-info", "atattributeinfo Clip End Behaviour", true},
      {"playlist", "plplaylist", true},
      {"status", "pbstatus", true},
  };
  for (const auto& command : commands) {
    const std::string reply = session->replyToLine(command.command);
    corpus.write("NodeReplyFramingFuzzer", command.name, std::string(1, command.propertyList ? '\1' : '\0') + reply);
    if (command.propertyList && reply.starts_with("<?xml")) {
      corpus.write("NodeMediaRepliesFuzzer", std::string(command.name) + ".plist", reply);
    } else if (!command.propertyList) {
      corpus.write("NodeMediaRepliesFuzzer", command.name, reply.substr(0, reply.find('\r')));
    }
  }
  corpus.write("PropertyListFuzzer", "node-status.plist", session->replyToLine("pbstatus"));
  corpus.write("PropertyListFuzzer", "node-item-info.plist", session->replyToLine("fmmediaiteminfo " + folder + " " + item));
}

std::shared_ptr<nodes::PlaylistItem> playlistRow(const std::string& name, double seconds, const char* endBehaviour) {
  nodes::PlaylistItemFields f;
  f.displayName = name;
  f.mediaItemDurationInSeconds = seconds;
  f.framesPerSecond = 25.0;
  f.online = true;
  f.nodeName = "Studio Seed";
  f.nodeUniqueID = "NODE-SEED";
  f.mediaItemUniqueID = "MEDIA-" + name;
  f.uniqueID = "CLIP-" + name;
  f.playbackUniqueID = "PLAY-" + name;
  f.absolutePathToMediaItem = "/media/" + name + ".mov";
  f.relativePathToMediaItem = name + ".mov";
  f.mediaFolderPath = "/media";
  f.mediaFolderUniqueID = "FOLDER-1";
  f.attributes = Dictionary{{nodes::kClipEndBehaviourAttribute, Value(endBehaviour)}};
  return std::make_shared<nodes::PlaylistItem>(std::move(f));
}

void writePlaylists(CorpusWriter& corpus) {
  nodes::PlaylistDocumentSettings settings;
  settings.loop = true;
  settings.chain = true;
  settings.cueMode = false;
  settings.abRoll = false;
  settings.absoluteStartTime = 0;
  settings.windowFrame = nodes::WindowFrame{10, 20, 800, 600};
  settings.nodeAName = "Studio Seed";
  settings.nodeAUniqueID = "NODE-SEED";
  settings.playlistUniqueID = "PLAYLIST-SEED";
  const std::string rows = *nodes::writePlaylistFile(
      settings, {playlistRow("intro", 12, "Chain"), playlistRow("news", 90.5, "Stop At End")});
  corpus.write("PlaylistDocumentFuzzer", "two-rows.vzplaylist", rows);
  corpus.write("PlaylistDocumentFuzzer", "empty.vzplaylist", *nodes::writePlaylistFile(settings, {}));
  corpus.write("PropertyListFuzzer", "playlist.plist", rows);
}

// A settings file and a keychain store as the application leaves them.
void writeStores(CorpusWriter& corpus) {
  {
    platform::UserDefaults defaults(kScratch / "settings.plist");
    defaults.setObject(Value(true), "autoCue");
    defaults.setObject(Value(2.5), "autoCueDelay");
    defaults.setObject(Value(platform::Array{Value(Dictionary{{"name", Value("Studio Seed")},
                                                              {"uniqueID", Value("NODE-SEED")}})}),
                       "discoveredNodes");
  }
  corpus.write("PropertyListFuzzer", "settings.plist", corpus.readFile(kScratch / "settings.plist"));
  platform::Keychain keychain(kScratch / "keychain.plist");
  (void)keychain.setPassword("Studio Seed", "NODE-SEED", "secret");
  corpus.write("PropertyListFuzzer", "keychain.plist", corpus.readFile(kScratch / "keychain.plist"));
}

void writeCatalogueExport(CorpusWriter& corpus) {
  using namespace nodes::clipinfo;
  const platform::Date modified{std::chrono::sys_days{std::chrono::year{2021} / 6 / 30}};
  std::vector<Dictionary> rows;
  for (const char* id : {"CLIP-1", "CLIP-2"}) {
    rows.push_back({{kUniqueID, Value(id)},
                    {kNodeUniqueID, Value("NODE-SEED")},
                    {kDisplayName, Value(std::string("Clip ") + id)},
                    {kAbsolutePathToMediaItem, Value(std::string("/media/") + id + ".mov")},
                    {kValidationStatus, Value(2)},
                    {kOnline, Value(true)},
                    {kFramesPerSecond, Value(25.0)},
                    {kInPointInSeconds, Value(1.25)},
                    {kHasInPoint, Value(true)},
                    {kLastModificationDate, Value(modified)}});
  }
  const fs::path folder = kScratch / "export";
  if (!nodes::exportAllDataToFolder(folder, rows, modified).ok()) {
    std::cerr << "make-fuzz-corpus: the catalogue export failed\n";
    return;
  }
  corpus.write("CatalogueImportFuzzer", "clips.plist",
               corpus.readFile(folder / nodes::kExportClipsFolderName / nodes::kExportClipsFileName));
}

void writeTexts(CorpusWriter& corpus) {
  const std::string text = "Studio Seed: intro.mov, news.mov";
  const platform::Data key(16, 0x5A);  // the key the fuzzer decrypts with
  corpus.write("Base64DecodeFuzzer", "text",
               foundation::base64EncodeData({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()}));
  corpus.write("Base64DecodeFuzzer", "encrypted", *foundation::aesEncryptStringToBase64(text, key));

  const Value json(Dictionary{{"nodes", Value(platform::Array{Value("Studio Seed"), Value(2.5), Value(true)})}});
  corpus.write("StringUtilitiesFuzzer", "json", std::string(1, '\0') + *foundation::CVNJSONUtilities::JSONDataWithContainer(json));
  corpus.write("StringUtilitiesFuzzer", "paths", std::string(1, '\1') + "/media/news/intro.mov\n/media/clips");
  corpus.write("StringUtilitiesFuzzer", "xml-text", std::string(1, '\2') + "Intro <1> & \"news\"\x01");
  corpus.write("StringUtilitiesFuzzer", "ranges", std::string("\3\2\5\4") + "Caf\xC3\xA9 \xF0\x9F\x8E\xAC news");
}

// Packets of the clip's video in the decoder target's framing: a 16-bit
// big-endian length before each.
std::string framedPackets(const fs::path& clip) {
  std::string framed;
  AVFormatContext* input = nullptr;
  if (avformat_open_input(&input, clip.c_str(), nullptr, nullptr) < 0) return framed;
  AVPacket* packet = av_packet_alloc();
  while (av_read_frame(input, packet) >= 0) {
    if (packet->size < 0x10000) {
      framed += static_cast<char>(packet->size >> 8);
      framed += static_cast<char>(packet->size & 0xff);
      framed.append(reinterpret_cast<const char*>(packet->data), static_cast<std::size_t>(packet->size));
    }
    av_packet_unref(packet);
  }
  av_packet_free(&packet);
  avformat_close_input(&input);
  return framed;
}

// Three 64x64 frames per codec, in the target's codec order, packets as a
// reader without codec configuration hands them out (in-band headers). The
// first byte picks the codec, and with its high bit the VideoToolbox-rule
// decoder.
void writeDecoderPackets(CorpusWriter& corpus) {
  const char* const encodings[] = {"-c:v libx264 -pix_fmt yuv422p -bf 2 -f mpegts", "-c:v mpeg2video -pix_fmt yuv422p -f mpegts",
                                   "-c:v mpeg4 -f mpegts", "-c:v prores_ks -profile:v 3 -f mov"};
  fs::create_directories(kScratch);
  for (int codec = 0; codec < 4; ++codec) {
    const fs::path clip = kScratch / ("clip-" + std::to_string(codec));
    const std::string command = "ffmpeg -v error -y -f lavfi -i testsrc2=s=64x64:r=25 -frames:v 3 -threads 1 -bitexact " +
                                std::string(encodings[codec]) + " '" + clip.string() + "' < /dev/null";
    if (std::system(command.c_str()) != 0) {
      std::cerr << "make-fuzz-corpus: ffmpeg failed: " << command << "\n";
      continue;
    }
    const std::string packets = framedPackets(clip);
    const std::string name = "seed-" + std::to_string(codec);
    corpus.write("DecoderFuzzer", name + "-ff", std::string(1, static_cast<char>(codec)) + packets);
    corpus.write("DecoderFuzzer", name + "-vt", std::string(1, static_cast<char>(codec | 0x80)) + packets);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: make-fuzz-corpus FOLDER\n";
    return 2;
  }
  platform::ManualClock clock;
  platform::ScopedClockOverride override(clock);
  fs::remove_all(kScratch);
  CorpusWriter corpus(argv[1]);
  writeNodeReplies(corpus);
  writePlaylists(corpus);
  writeStores(corpus);
  writeCatalogueExport(corpus);
  writeTexts(corpus);
  writeDecoderPackets(corpus);
  fs::remove_all(kScratch);
  return 0;
}
