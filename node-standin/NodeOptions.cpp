#include "node-standin/NodeOptions.h"

#include "foundation/TextEncoding.h"
#include "node-standin/CommandLine.h"

namespace standin {
namespace {

platform::Error invalid(std::string description) {
  return platform::Error(kNodeOptionsErrorDomain, NodeOptionsErrorCode::Invalid, std::move(description));
}

// "127.0.0.1:5000", "[::1]:0".
platform::Status parseListen(const std::string& text, NodeOptions& options) {
  const std::size_t colon = text.rfind(':');
  if (colon == std::string::npos || colon == 0) return invalid("--listen wants ADDRESS:PORT, not '" + text + "'");
  std::string host = text.substr(0, colon);
  if (host.front() == '[') {
    if (host.size() < 3 || host.back() != ']') return invalid("--listen: unbalanced brackets in '" + text + "'");
    host = host.substr(1, host.size() - 2);
  } else if (host.find(':') != std::string::npos) {
    return invalid("--listen: put an IPv6 address in brackets, as [::1]:PORT");
  }
  const std::optional<std::uint64_t> port = parseUnsigned(std::string_view(text).substr(colon + 1));
  if (!port || *port > 65535) return invalid("--listen: '" + text.substr(colon + 1) + "' is not a port");
  options.listenAddress = std::move(host);
  options.listenPort = static_cast<std::uint16_t>(*port);
  return platform::Status::success();
}

bool isProtocolText(const std::string& value, bool oneWord) {
  if (value.empty() || value.find_first_of("\r\n") != std::string::npos) return false;
  if (!foundation::isValidUTF8(value)) return false;
  if (oneWord) return value.find_first_of(" \t") == std::string::npos;
  return value.front() != ' ' && value.front() != '\t' && value.back() != ' ' && value.back() != '\t';
}

}  // namespace

platform::Result<NodeOptions> parseNodeOptions(const std::vector<std::string>& arguments) {
  NodeOptions options;
  bool listenGiven = false;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (argument == "--help" || argument == "-h") {
      options.help = true;
      return options;
    }
    if (argument == "--bonjour" || argument == "--preview" || argument == "--no-engine") {
      (argument == "--bonjour" ? options.bonjour : argument == "--preview" ? options.preview : options.noEngine) = true;
      continue;
    }
    if (argument != "--listen" && argument != "--media" && argument != "--name" && argument != "--password" &&
        argument != "--uid" && argument != "--display-mode" && argument != "--buffer-format" &&
        argument != "--output") {
      return invalid("unknown option '" + argument + "'");
    }
    if (i + 1 >= arguments.size()) return invalid(argument + " wants a value");
    const std::string& value = arguments[++i];
    if (argument == "--listen") {
      if (platform::Status parsed = parseListen(value, options); !parsed) return parsed.error();
      listenGiven = true;
    } else if (argument == "--media") {
      options.mediaFolders.emplace_back(value);
    } else if (argument == "--output") {
      if (value.empty()) return invalid("--output wants a file");
      options.outputFile = value;
    } else if (argument == "--display-mode") {
      if (value.empty()) return invalid("--display-mode wants a mode name, as 1080p25");
      options.displayModeName = value;
    } else if (argument == "--buffer-format") {
      if (value != "2vuy" && value != "BGRA" && value != "RGBA") {
        return invalid("--buffer-format is 2vuy, BGRA or RGBA, not '" + value + "'");
      }
      options.bufferFormat = value;
    } else if (!isProtocolText(value, argument == "--uid")) {
      // Names and passwords travel as (the end of) a protocol line, IDs as one word.
      return invalid(argument + (argument == "--uid" ? " wants one word" : " wants text without line ends or "
                                                                           "surrounding blanks"));
    } else if (argument == "--name") {
      options.name = value;
    } else if (argument == "--password") {
      options.password = value;
    } else {
      options.uniqueID = value;
    }
  }
  if (!listenGiven) return invalid("--listen ADDRESS:PORT is required");
  if (options.mediaFolders.empty()) return invalid("at least one --media FOLDER is required");
  if (options.noEngine && options.asksForEngineOutput()) {
    return invalid("--no-engine plays no video: --display-mode, --buffer-format, --output and --preview need the engine");
  }
  return options;
}

std::string nodeOptionsUsage() {
  return "usage: node-standin --listen ADDRESS:PORT --media FOLDER [--media FOLDER ...]\n"
         "                    [--name NAME] [--password PASSWORD] [--uid ID] [--bonjour]\n"
         "                    [--display-mode NAME] [--buffer-format 2vuy|BGRA|RGBA] [--output FILE]\n"
         "                    [--preview] [--no-engine]\n"
         "  --listen    numeric address and port to listen on; port 0 takes a free one\n"
         "  --media     a folder whose files the node offers as media (repeatable)\n"
         "  --name      node name (default \"Stand-in Node\")\n"
         "  --password  password clients must give to control the node (default: none)\n"
         "  --uid       node unique ID (default: derived from name and media folders)\n"
         "  --bonjour   announce the node as _ruzizevuzazo._tcp. through the mDNS daemon\n"
         "  --display-mode   the output's display mode (default 1080p25)\n"
         "  --buffer-format  the output's pixel format (default 2vuy)\n"
         "  --output    record what the output plays into FILE (Matroska)\n"
         "  --preview   show the output in a window\n"
         "  --no-engine play nothing: the transport follows the clock\n";
}

}  // namespace standin
