// make-sample-playlist: writes a playlist document holding every media item
// of a running node, for trying the operator application with a node.
//
//   make-sample-playlist --node HOST:PORT --output FILE [--wait SECONDS]
//
// HOST is a numeric address or a host name; an IPv6 address goes in brackets
// ([::1]:5250). Waits at most --wait seconds (default 30) for the node to list
// its media. Exit status: 0 written, 1 the node or the file failed, 2 usage.

#include <charconv>
#include <chrono>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "nodes/playlist/PlaylistDocumentFormat.h"
#include "platform/Diagnostics.h"
#include "platform/UserDefaults.h"
#include "tools/SamplePlaylist.h"

namespace {

constexpr std::chrono::seconds kDefaultWait{30};

struct Options {
  std::string host;
  int port = 0;
  std::filesystem::path output;
  std::chrono::seconds wait = kDefaultWait;
};

const char* const kUsage = "usage: make-sample-playlist --node HOST:PORT --output FILE [--wait SECONDS]\n";

std::optional<int> positiveNumber(std::string_view text, int max) {
  int value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value < 1 || value > max) return std::nullopt;
  return value;
}

// "HOST:PORT" or "[IPV6]:PORT".
bool parseNode(std::string_view text, Options& options) {
  const auto colon = text.rfind(':');
  if (colon == std::string_view::npos || colon == 0) return false;
  std::string_view host = text.substr(0, colon);
  if (host.front() == '[') {
    if (host.size() < 3 || host.back() != ']') return false;
    host = host.substr(1, host.size() - 2);
  }
  const auto port = positiveNumber(text.substr(colon + 1), 65535);
  if (!port) return false;
  options.host = std::string(host);
  options.port = *port;
  return true;
}

std::optional<Options> parseOptions(const std::vector<std::string_view>& arguments) {
  Options options;
  bool hasNode = false;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string_view name = arguments[i];
    if (i + 1 >= arguments.size()) return std::nullopt;
    const std::string_view value = arguments[++i];
    if (name == "--node") {
      if (!parseNode(value, options)) return std::nullopt;
      hasNode = true;
    } else if (name == "--output") {
      options.output = std::filesystem::path(value);
    } else if (name == "--wait") {
      const auto seconds = positiveNumber(value, 3600);
      if (!seconds) return std::nullopt;
      options.wait = std::chrono::seconds(*seconds);
    } else {
      return std::nullopt;
    }
  }
  if (!hasNode || options.output.empty()) return std::nullopt;
  return options;
}

}  // namespace

int main(int argc, char** argv) {
  const auto options = parseOptions(std::vector<std::string_view>(argv + 1, argv + argc));
  if (!options) {
    std::cerr << kUsage;
    return 2;
  }
  // Defaults of its own (the technical log reads them); nothing is written.
  platform::UserDefaults::configureStandard("make-sample-playlist", std::vector<std::string>{});
  // The link's own progress lines are not this program's business.
  platform::setDiagnosticHandler([](platform::DiagnosticLevel level, const std::string& message) {
    if (level != platform::DiagnosticLevel::Info) std::cerr << "make-sample-playlist: " << message << '\n';
  });

  const auto media = tools::fetchNodeMedia(options->host, options->port, options->wait);
  if (!media.ok()) {
    std::cerr << "make-sample-playlist: " << media.error().localizedDescription << '\n';
    return 1;
  }
  const auto document = tools::makeSamplePlaylistDocument(*media);
  const platform::Status written = document->writeToURL(options->output, nodes::kVideoPlaylistDocumentType,
                                                        nodes::VideoPlaylistDocument::SaveOperation::Save);
  if (!written.ok()) {
    std::cerr << "make-sample-playlist: " << written.error().localizedDescription << '\n';
    return 1;
  }
  std::cout << "wrote " << document->clipCount() << " clips of node \"" << media->nodeName << "\" to "
            << options->output.string() << std::endl;
  return 0;
}
