#pragma once
// PlayoutEngine: the engine calls the stand-in node makes while it plays its
// playlist through the engine, named as the engine names them. Each call
// returns without waiting for playback to follow (the engine moves its queue
// player on its own queue); an implementation that has to wait for the
// engine bounds the wait.
//
// startPlayoutEngine is the one seam to the engine: it makes the engine on
// the node's bundle ("PlugIns" holds the virtual output), sets its audio
// format (48 kHz stereo, 32-bit, interleaved), makes `delegate` its
// version-2 delegate, selects the virtual output with the mode, format,
// recording and preview asked, and starts it. A build without the engine
// refuses with the reason.
//
// Made and ended on the main thread; the transport calls run on the server
// thread.

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/Error.h"
#include "platform/Value.h"

namespace engine {
class CVNEngineDelegate;
}

namespace standin {

class PlayoutEngine {
 public:
  using UpdateCompletion = std::function<void(const std::optional<std::string>& error)>;

  virtual ~PlayoutEngine() = default;
  virtual bool startPlayback() = 0;
  virtual void pausePlayback(bool pause) = 0;
  virtual bool stopPlayback() = 0;
  virtual bool forceNextItem() = 0;
  // Asks the host again after it answered none.
  virtual void claimNextItem() = 0;
  virtual bool setCurrentItemTime(double seconds) = 0;
  // Every queued item whose "playlistItemUniqueID" is `uniqueID` takes the attributes.
  virtual void updateItemWithUniqueID(const std::string& uniqueID, const platform::Dictionary& attributes,
                                      UpdateCompletion completion) = 0;
};

inline constexpr const char* kPlayoutEngineErrorDomain = "PlayoutEngineErrorDomain";
enum class PlayoutEngineErrorCode { NotBuiltIn = 1, StartFailed = 2 };

struct PlayoutEngineSettings {
  std::filesystem::path bundle;          // the node's resources folder
  std::string displayModeName = "1080p25";
  std::string bufferFormat = "2vuy";     // "2vuy", "BGRA" or "RGBA"
  std::filesystem::path outputFile;      // empty: nothing is recorded
  bool preview = false;                  // a window showing the output
};

// A started engine; destroying it stops the engine, which closes the recording.
class RunningPlayoutEngine : public PlayoutEngine {};

// Whether this build holds the engine (else the node plays on its clock).
bool playoutEngineIsBuiltIn();

// delegate: not owned, outlives the engine.
platform::Result<std::unique_ptr<RunningPlayoutEngine>> startPlayoutEngine(const PlayoutEngineSettings& settings,
                                                                           engine::CVNEngineDelegate& delegate);

}  // namespace standin
