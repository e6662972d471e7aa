#pragma once
// What a server and its receivers agree on: notification names and their bus
// address, the keys of the announcement and of each frame message, the sizes
// of the shared files, and the limits the server holds receivers to. See
// docs/VUDODODUVA.md for the whole exchange.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "platform/Error.h"

namespace engine::vudododuva {

// Notification names; on the bus, each travels as the signal named by its
// last dotted part.
inline constexpr const char* kServerAnnouncementNotification = "com.dirarovazovo.serverAnnouncement";
inline constexpr const char* kPostServerAnnouncementNotification = "com.dirarovazovo.postServerAnnouncement";
inline constexpr const char* kStartSendingNotification = "com.dirarovazovo.startSending";
inline constexpr const char* kStopSendingNotification = "com.dirarovazovo.stopSending";
inline constexpr const char* kServerDisappearedNotification = "com.dirarovazovo.serverDisappeared";

inline constexpr const char* kBusInterface = "com.dirarovazovo.VudodoDuva";
inline constexpr const char* kBusObjectPath = "/com/dirarovazovo/VudodoDuva";

inline constexpr const char* kMachMessageQueueLabel = "com.dirarovazovo.engine.machMessageQueue";

// Server information keys besides the six display-mode keys.
inline constexpr const char* kServerNameKey = "serverName";
inline constexpr const char* kForce169Key = "force169";
inline constexpr const char* kDisplayModeKey = "displayMode";
inline constexpr const char* kBufferFormatKey = "bufferFormat";
inline constexpr const char* kBitsPerAudioChannelKey = "bitsPerAudioChannel";
inline constexpr const char* kNumberOfAudioChannelsKey = "numberOfAudioChannels";
inline constexpr const char* kMappedMemoryPathKey = "mappedMemoryPath";
inline constexpr const char* kCCMappedMemoryPathKey = "ccMappedMemoryPath";
inline constexpr const char* kProtocolVersionKey = "protocolVersion";
inline constexpr const char* kPidKey = "pid";
inline constexpr std::int64_t kProtocolVersion = 1;

// Frame message keys.
inline constexpr const char* kFrameNumberKey = "number";
inline constexpr const char* kFrameOffsetKey = "offset";
inline constexpr const char* kFrameSamplesKey = "samples";
inline constexpr const char* kFrameCCOffsetKey = "ccOffset";
inline constexpr const char* kFrameVPTSKey = "vpts";
inline constexpr const char* kFrameAPTSKey = "apts";
inline constexpr const char* kFrameTimecodeKey = "timecode";
// "ccOffset" of a frame without a caption record: all 64 bits set.
inline constexpr std::uint64_t kNoCaptionOffset = ~std::uint64_t{0};

inline constexpr std::size_t kAudioRingFrames = 1440000;
inline constexpr std::size_t kCaptionRingSize = 365400;
inline constexpr std::size_t kCaptionRecordHeaderSize = 8;
inline constexpr std::uint32_t kVANCRecordType = 0x56414e43;  // 'VANC'
inline constexpr std::uint32_t kCdatRecordType = 0x63646174;  // 'cdat'
inline constexpr std::uint32_t kOP47RecordType = 0x6f703437;  // 'op47'

// Limits on what receivers send.
inline constexpr std::size_t kMaxPortNameLength = 64;
inline constexpr std::size_t kMaxUserInfoSize = 64 * 1024;
// A receiver is answered at most this many frames ahead; later frames skip it.
inline constexpr int kMaxUnansweredFrames = 2;
// A frame a receiver has not answered by then no longer holds its buffer.
inline constexpr std::chrono::milliseconds kAnswerLimit{1000};
// The one byte a receiver answers a frame with.
inline constexpr std::uint8_t kFrameAnswer = 1;
// Largest frame message a receiver need accept.
inline constexpr std::size_t kMaxFrameMessageSize = 4096;

// A plain file name of at most 64 bytes: no "/", no leading ".", no NUL.
bool isValidPortName(std::string_view name);

// "$XDG_RUNTIME_DIR/vudododuva"; an error when the variable is unset or not absolute.
platform::Result<std::filesystem::path> runtimeFolder();
// The runtime folder, created mode 0700 when missing; refused when it is a
// symbolic link, not a folder, not ours or open to others.
platform::Result<std::filesystem::path> openPrivateFolder();

}  // namespace engine::vudododuva
