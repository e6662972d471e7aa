#pragma once
// NodeState: everything one stand-in node holds that all its clients share:
// its identity, the password that unlocks it, its media library, its
// playlist and transport, and its slave-mode flag. Per-client state (whether
// that client unlocked the node) lives in the client's session.
//
// Owned by main (or a test) next to the media library it borrows; used on the
// server thread only.

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "node-standin/LogRateLimiter.h"
#include "node-standin/MediaLibrary.h"
#include "node-standin/PlaybackModel.h"
#include "platform/Error.h"
#include "platform/Value.h"

namespace standin {

// What "version" answers; clients poll nodes below 201.
inline constexpr const char* kNodeProtocolVersion = "200";

struct NodeIdentity {
  std::string uniqueID;
  std::string name;
};

// The ID a node without --uid takes: derived from its name and media folders,
// so the same command line gives the same node ID every time.
std::string defaultNodeUniqueID(const std::string& name, const std::vector<std::filesystem::path>& mediaFolders);

using ThumbnailFunction =
    std::function<platform::Result<platform::Data>(const std::filesystem::path& path, double positionInSeconds)>;

class NodeState {
 public:
  struct Settings {
    NodeIdentity identity;
    std::optional<std::string> password;  // none: every client starts unlocked
    ThumbnailFunction thumbnail;          // empty: makeThumbnail
    LogFunction log;                      // empty: nothing is logged
    TransportFactory transport;           // empty: playback follows the clock
  };

  NodeState(Settings settings, MediaLibrary& library);  // library: not owned, outlives this

  const NodeIdentity& identity() const { return settings_.identity; }
  const std::optional<std::string>& password() const { return settings_.password; }
  MediaLibrary& library() { return library_; }
  PlaybackModel& playback() { return playback_; }
  bool slaveMode() const { return slaveMode_; }
  void setSlaveMode(bool on) { slaveMode_ = on; }

  platform::Result<platform::Data> thumbnail(const std::filesystem::path& path, double positionInSeconds) const;
  // Lines about clients, at a limited rate (LogRateLimiter).
  void log(const std::string& message);

 private:
  Settings settings_;
  LogRateLimiter logLimiter_;
  MediaLibrary& library_;
  PlaybackModel playback_;
  bool slaveMode_ = false;
};

}  // namespace standin
