#include "node-standin/NodeState.h"

#include "node-standin/StableID.h"
#include "node-standin/Thumbnailer.h"

namespace standin {

std::string defaultNodeUniqueID(const std::string& name, const std::vector<std::filesystem::path>& mediaFolders) {
  std::string text = "node:" + name;
  for (const std::filesystem::path& folder : mediaFolders) text += "\n" + folder.string();
  return stableUniqueID(text);
}

namespace {

LogFunction withNodeName(const NodeState::Settings& settings) {
  if (!settings.log) return {};
  return [log = settings.log, prefix = "Node '" + settings.identity.name + "': "](const std::string& message) {
    log(prefix + message);
  };
}

}  // namespace

NodeState::NodeState(Settings settings, MediaLibrary& library)
    : settings_(std::move(settings)),
      logLimiter_(withNodeName(settings_)),
      library_(library),
      playback_(settings_.transport) {}

platform::Result<platform::Data> NodeState::thumbnail(const std::filesystem::path& path,
                                                      double positionInSeconds) const {
  if (settings_.thumbnail) return settings_.thumbnail(path, positionInSeconds);
  return makeThumbnail(path, positionInSeconds);
}

void NodeState::log(const std::string& message) { logLimiter_.log(message); }

}  // namespace standin
