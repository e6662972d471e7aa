#include "node-standin/NodeState.h"

#include "node-standin/StableID.h"
#include "node-standin/Thumbnailer.h"

namespace standin {

std::string defaultNodeUniqueID(const std::string& name, const std::vector<std::filesystem::path>& mediaFolders) {
  std::string text = "node:" + name;
  for (const std::filesystem::path& folder : mediaFolders) text += "\n" + folder.string();
  return stableUniqueID(text);
}

NodeState::NodeState(Settings settings, MediaLibrary& library) : settings_(std::move(settings)), library_(library) {}

platform::Result<platform::Data> NodeState::thumbnail(const std::filesystem::path& path,
                                                      double positionInSeconds) const {
  if (settings_.thumbnail) return settings_.thumbnail(path, positionInSeconds);
  return makeThumbnail(path, positionInSeconds);
}

void NodeState::log(const std::string& message) const {
  if (settings_.log) settings_.log("Node '" + settings_.identity.name + "': " + message);
}

}  // namespace standin
