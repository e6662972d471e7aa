#pragma once
// A live source: a named, persistent configuration of one device input (which
// input, its capture settings, whether it is enabled and whether SCTE-104
// packets arriving on it are announced). It binds the configuration to the
// input, starts and stops capture, keeps a description and warnings for
// display, checks the input's connection against the last one seen, and fans
// every captured frame out to the live input sessions that play it.
//
// Threads: frames arrive on the capture thread and are fanned out under the
// sessions lock; input and enabled changes are serialised by the source's
// lock; connection changes are handled on the main queue.

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/Observable.h"
#include "platform/Value.h"
#include "pluginframework/CVNVideoInput.h"

namespace media {

class CVNZiraInputSession;
class CVNZiraSource;

inline constexpr const char* kZiraSourceDidReceiveSCTEPacketNotification = "ZiraSourceDidReceiveSCTEPacket";

class CVNZiraSourceDelegate {
 public:
  virtual ~CVNZiraSourceDelegate() = default;
  virtual void ziraSourceDidUpdateLastKnownConnectionDescriptionTo(CVNZiraSource& source,
                                                                    const std::string& description) = 0;
};

class CVNZiraSource final : public pluginframework::CVNVideoInputDelegate,
                            public std::enable_shared_from_this<CVNZiraSource> {
 public:
  CVNZiraSource();
  // Keys of the wrong kind are ignored; "enabled" is applied last.
  static std::shared_ptr<CVNZiraSource> createWithDictionary(const platform::Dictionary& dictionary);
  static std::shared_ptr<CVNZiraSource> createWithJSONDictionary(const platform::Dictionary& json);
  ~CVNZiraSource() override;
  CVNZiraSource(const CVNZiraSource&) = delete;
  CVNZiraSource& operator=(const CVNZiraSource&) = delete;

  // Registers "ziraInputBufferSize" 5 and "actionWaitTimeout" 1.0.
  static void registerDefaults();
  // 12 … 15; none for other values.
  static std::optional<std::string> stringFromValidationErrorReason(std::int32_t reason);

  platform::Dictionary dictionaryRepresentation() const;
  platform::Dictionary JSONDictionary() const;
  void updateWithJSONDictionary(const platform::Dictionary& json);

  void setInput(std::shared_ptr<pluginframework::CVNVideoInput> input);
  std::shared_ptr<pluginframework::CVNVideoInput> input() const;
  void setIsEnabled(bool enabled);
  bool isEnabled() const;
  void restartCapture();
  bool startCapture();
  void stopCaptureWithReason(const std::string& reason);

  void addZiraSession(const std::shared_ptr<CVNZiraInputSession>& session);
  void removeZiraSession(const CVNZiraInputSession* session);

  // From the input, on the capture thread.
  void inputDidProduceFrame(const pluginframework::CVNInputFrame& frame) override;
  void inputFormatDidChange() override;

  std::optional<std::string> inputDeviceLogoImage() const;
  bool hasWarning() const;
  std::optional<std::string> warningToolTip() const;
  std::vector<std::string> warningMessages() const;
  void addWarning(const std::string& warning);
  void removeAllWarnings();
  void updateInputDescription();
  // Runs the connection check (also on each connection change of the input).
  void checkIfConnectionDescriptionChanged();
  void logMessage(const std::string& message, std::int32_t level, bool show);

  // Plain properties.
  std::string displayName() const;
  void setDisplayName(const std::string& name);
  std::string inputUniqueID() const;
  std::string inputDisplayName() const;
  void setInputDisplayName(const std::string& name);
  std::int32_t deviceType() const;
  void setDeviceType(std::int32_t type);
  platform::Dictionary settings() const;
  void setSettings(const platform::Dictionary& settings);
  bool shouldProcessVANCTriggers() const;
  void setShouldProcessVANCTriggers(bool value);
  std::string inputDescription() const;
  std::string lastKnownConnectionDescription() const;
  // Media-clock seconds of the last captured frame; 0 before any.
  double lastReceivedFrameTime() const;
  // Not owned; the registry outlives its sources or clears itself first.
  void setDelegate(CVNZiraSourceDelegate* delegate);

 private:
  // Field access under mutex_.
  template <typename T>
  T read(const T& field) const {
    std::lock_guard guard(mutex_);
    return field;
  }

  // Serialises input and enabled changes (the source's own lock). Never taken
  // on the capture thread, so a change may wait for capture to stop.
  std::recursive_mutex changeMutex_;
  // Guards the fields below; held only to read or write them, never across a call.
  mutable std::mutex mutex_;
  CVNZiraSourceDelegate* delegate_ = nullptr;                     // guarded by mutex_
  std::string displayName_;                                       // guarded by mutex_
  std::string inputUniqueID_;                                     // guarded by mutex_
  std::string inputDisplayName_;                                  // guarded by mutex_
  std::int32_t deviceType_ = 3;                                   // guarded by mutex_
  std::shared_ptr<pluginframework::CVNVideoInput> input_;         // guarded by mutex_
  platform::Dictionary settings_;                                 // guarded by mutex_
  bool isEnabled_ = false;                                        // guarded by mutex_
  std::vector<std::string> warningMessages_;                      // guarded by mutex_
  std::string inputDescription_;                                  // guarded by mutex_
  std::string lastKnownConnectionDescription_;                    // guarded by mutex_
  std::optional<platform::ObservationToken> connectionObservation_;  // guarded by mutex_

  std::mutex sessionsMutex_;
  std::vector<std::weak_ptr<CVNZiraInputSession>> inputSessions_;  // guarded by sessionsMutex_
  std::atomic<double> lastReceivedFrameTime_{0.0};
  std::atomic<bool> shouldProcessVANCTriggers_{false};
};

}  // namespace media
