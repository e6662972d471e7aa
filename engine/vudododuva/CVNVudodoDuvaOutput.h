#pragma once
// The VudodoDuva output: publishes every frame the engine pushes to other
// processes of the same user. Pictures travel as global pixel-buffer IDs
// (their memfd goes along the first time), audio and captions through two
// shared ring files, frame descriptions as keyed archives over each
// receiver's SEQPACKET port, discovery through bus notifications. See
// docs/VUDODODUVA.md for the receivers' side.
//
// Every engine holds one as an auxiliary output. Made with create(): posted
// tasks and notification observers hold it weakly.
//
// Lives on: control calls (start, stop, settings) from the engine's control
// thread; sendFrame on the engine's pull thread; port list changes, sends and
// answers on the serial "com.dirarovazovo.engine.machMessageQueue";
// notifications arrive on the bus thread and are posted to that queue.
// The shared files and their offsets are guarded by one mutex, never held
// across a send. A receiver never holds the others up: sends do not block,
// each receiver gets at most two frames unanswered, and a frame's picture is
// held at most 1 s (platform::Clock) per receiver.

#include <atomic>
#include <functional>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/DispatchQueue.h"
#include "platform/Value.h"
#include "pluginframework/CVNVideoOutput.h"

namespace platform {
class IoSource;
}

namespace engine::vudododuva {

class DistributedNotificationCenter;
class ReceiverPort;
class SharedRingFile;

class CVNVudodoDuvaOutput final : public pluginframework::CVNVideoOutput,
                                  public std::enable_shared_from_this<CVNVudodoDuvaOutput> {
 public:
  // Frame counts over the output's life, for the operator's log and tests.
  struct SendingCounts {
    std::uint64_t sent = 0;      // frame messages sent, all receivers together
    std::uint64_t skipped = 0;   // frames a receiver was skipped for
    std::uint64_t answered = 0;  // answers taken
  };

  // `name` is the server name (the application's bundle name in the app).
  static std::shared_ptr<CVNVudodoDuvaOutput> create(std::string name);
  ~CVNVudodoDuvaOutput() override;

  std::string name() const override { return name_; }
  std::string uniqueID() const override { return "VudodoDuva-" + name_; }
  bool outputConnectionAvailable() const override { return true; }
  bool isRunning() const override;

  std::shared_ptr<const pluginframework::CVNDisplayMode> selectedDisplayMode() const override;
  void setSelectedDisplayMode(std::shared_ptr<const pluginframework::CVNDisplayMode> mode) override;
  platform::media::FourCharCode bufferFormat() const override;
  void setBufferFormat(platform::media::FourCharCode format) override;
  std::int32_t videoCardBufferSize() const override { return 0; }
  platform::media::AudioStreamBasicDescription audioStreamBasicDescription() const override;
  std::int32_t keyModeAudioSource() const override { return 0; }
  void setKeyModeAudioSource(std::int32_t) override {}
  void setNumberOfChannels(std::uint32_t channels) override;
  void setBitsPerChannel(std::uint32_t bits) override;
  void setMainOutputAudioStreamBasicDescription(const platform::media::AudioStreamBasicDescription&) override {}
  void setDelegate(pluginframework::CVNVideoOutputDelegate* delegate) override;
  bool startPlayback(platform::Error* error) override;
  void stopPlayback() override;
  void stopPlaybackWithReason(const std::string&) override { stopPlayback(); }
  void setVANCOverride(bool) override {}
  double transferPerformanceRatio() const override { return 0; }

  void sendFrame(const std::shared_ptr<platform::media::PixelBuffer>& frame, const std::uint8_t* audioBuffer,
                 std::size_t audioBufferLength, const platform::media::SampleBufferRef& closedCaptionBuffer,
                 const platform::media::SampleBufferRef& timecodeSampleBuffer,
                 const pluginframework::VANCPackets& additionalVANCPackets,
                 const platform::media::AudioStreamBasicDescription& audioStreamBasicDescription) override;

  // Notification handlers: the notification's object and user information.
  // Called on the sending queue (the bus thread posts them there).
  void postServerAnnouncement(const std::string& object, const platform::Dictionary* userInfo);
  void startSending(const std::string& portName, const platform::Dictionary* userInfo);
  void stopSending(const std::string& portName, const platform::Dictionary* userInfo);

  platform::Dictionary serverInfo() const;
  void setServerInfo(platform::Dictionary info);

  // Connected port names in connection order (waits for the sending queue, bounded).
  std::vector<std::string> connectedPortNames() const;
  SendingCounts sendingCounts() const;
  // Pictures held by unanswered frames, all receivers together.
  std::size_t heldPictures() const;
  // The sending queue, for callers that must see its earlier tasks done.
  platform::DispatchQueue& machMessageQueue() const { return *machMessageQueue_; }

 private:
  struct Port;
  struct FrameWork;

  explicit CVNVudodoDuvaOutput(std::string name);
  using Handler = void (CVNVudodoDuvaOutput::*)(const std::string&, const platform::Dictionary*);
  // An observer that runs `handler` on the sending queue, holding this output weakly.
  std::function<void(const std::string&, const platform::Dictionary*)> queuedHandler(Handler handler);
  DistributedNotificationCenter* notificationCenter() const;

  void log(const std::string& message, std::int32_t level, bool show);
  platform::Dictionary makeServerInfo() const;
  void openSharedFiles();
  void writeAudio(const std::uint8_t* audio, std::size_t bytes, FrameWork& work);
  void writeCaptions(const platform::media::SampleBufferRef& captions, const pluginframework::VANCPackets& packets,
                     FrameWork& work);
  void connectPort(const std::string& portName);
  void disconnectPort(const std::string& portName);
  void sendToPorts(const FrameWork& work);
  void takeAnswers(const std::shared_ptr<Port>& port);

  const std::string name_;
  const std::shared_ptr<platform::DispatchQueue> machMessageQueue_;

  mutable std::mutex settingsMutex_;
  std::shared_ptr<const pluginframework::CVNDisplayMode> displayMode_;  // guarded by settingsMutex_
  platform::media::FourCharCode bufferFormat_ = 0;                     // guarded by settingsMutex_
  std::uint32_t numberOfChannels_ = 2;                                 // guarded by settingsMutex_
  std::uint32_t bitsPerChannel_ = 16;                                  // guarded by settingsMutex_
  pluginframework::CVNVideoOutputDelegate* delegate_ = nullptr;       // guarded by settingsMutex_; not owned
  platform::Dictionary serverInfo_;                                    // guarded by settingsMutex_
  std::unique_ptr<DistributedNotificationCenter> notifications_;      // guarded by settingsMutex_
  std::uint64_t stopSendingObserver_ = 0;                              // guarded by settingsMutex_

  // Both shared files, their write offsets and the running timestamps.
  mutable std::mutex mappedMemoryMutex_;
  std::unique_ptr<SharedRingFile> audioFile_;  // guarded by mappedMemoryMutex_
  std::unique_ptr<SharedRingFile> ccFile_;     // guarded by mappedMemoryMutex_
  std::uint64_t audioOffset_ = 0;              // guarded by mappedMemoryMutex_
  std::uint64_t ccOffset_ = 0;                 // guarded by mappedMemoryMutex_
  std::int64_t videoTimestamp_ = 0;            // guarded by mappedMemoryMutex_
  std::int64_t audioTimestamp_ = 0;            // guarded by mappedMemoryMutex_

  std::atomic<bool> running_{false};
  std::atomic<bool> sendIOSurface_{false};

  // On the sending queue only.
  std::vector<std::shared_ptr<Port>> remoteMessagePorts_;
  SendingCounts counts_;
  std::uint64_t skippedByGonePorts_ = 0;
};

}  // namespace engine::vudododuva
