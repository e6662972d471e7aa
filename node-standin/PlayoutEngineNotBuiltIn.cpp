// The seam to the engine in a build that does not hold it yet: the node
// plays on its clock, and asking for the engine says why it cannot.
#include "node-standin/PlayoutEngine.h"

namespace standin {

bool playoutEngineIsBuiltIn() { return false; }

platform::Result<std::unique_ptr<RunningPlayoutEngine>> startPlayoutEngine(const PlayoutEngineSettings&,
                                                                           engine::CVNEngineDelegate&) {
  return platform::Error(kPlayoutEngineErrorDomain, PlayoutEngineErrorCode::NotBuiltIn,
                         "this build of the node has no playout engine: --output, --preview, --display-mode and "
                         "--buffer-format need it; run without them (or with --no-engine)");
}

}  // namespace standin
