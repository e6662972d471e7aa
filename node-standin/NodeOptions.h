#pragma once
// The command line of the node-standin program:
//   node-standin --listen ADDRESS:PORT --media FOLDER [--media FOLDER ...]
//                [--name NAME] [--password PASSWORD] [--uid ID] [--bonjour]
//                [--display-mode NAME] [--buffer-format 2vuy|BGRA|RGBA]
//                [--output FILE] [--preview] [--no-engine]
// ADDRESS is numeric: IPv4 ("127.0.0.1"), or IPv6 in brackets ("[::1]");
// PORT 0 takes a free port. Each --media adds one media folder.
//
// Stateless parsing; reentrant.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/Error.h"

namespace standin {

inline constexpr const char* kNodeOptionsErrorDomain = "NodeOptionsErrorDomain";
enum class NodeOptionsErrorCode { Invalid = 1 };

inline constexpr const char* kDefaultNodeName = "Stand-in Node";

struct NodeOptions {
  std::string listenAddress;  // without brackets
  std::uint16_t listenPort = 0;
  std::vector<std::filesystem::path> mediaFolders;
  std::string name = kDefaultNodeName;
  std::optional<std::string> password;
  std::optional<std::string> uniqueID;
  bool bonjour = false;
  bool help = false;
  // The engine's output; set only when asked for.
  std::optional<std::string> displayModeName;
  std::optional<std::string> bufferFormat;
  std::filesystem::path outputFile;  // empty: nothing is recorded
  bool preview = false;
  bool noEngine = false;  // plays on the clock, as a node without video

  // Whether an option that only the engine serves was given.
  bool asksForEngineOutput() const {
    return displayModeName || bufferFormat || !outputFile.empty() || preview;
  }
};

platform::Result<NodeOptions> parseNodeOptions(const std::vector<std::string>& arguments);

// The usage text for --help and errors.
std::string nodeOptionsUsage();

}  // namespace standin
