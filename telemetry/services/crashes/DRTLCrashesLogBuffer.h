#pragma once
// The crash log buffer: copies of the 60 newest logs whose enqueueing has not
// finished, written to 60 fixed files by the crash callback and replayed at
// the next start.
//
// Each slot's memory is allocated once at set-up with a fixed capacity (a
// larger log is not buffered) and carries a sequence number that is odd
// while the slot is changed. The crash-time writer copies nothing: it writes
// a slot's bytes straight to its file until every byte is out, and empties
// the file again when the sequence moved meanwhile, so a file holds one whole
// archive or nothing. Changes hold the service's lock; the writer takes none.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include <signal.h>

namespace telemetry::crashes {

inline constexpr std::size_t kDRTLCrashesBufferSlotCount = 60;
inline constexpr std::size_t kDRTLCrashesBufferSlotCapacity = 256 * 1024;
inline constexpr const char* kDRTLBufferFileExtension = "drcrasheslogbuffer";
inline constexpr const char* kDRTLTargetTokenFileExtension = "targettoken";

class DRTLCrashesLogBuffer {
 public:
  // Fixes the slot paths (once per process; later calls only empty the slots).
  static void setUp(const std::string& bufferDirectory);
  // Stores a log's archive in the first free slot, else over the oldest one.
  // False (nothing kept) when the archive is larger than a slot.
  static bool store(const std::string& archive, const std::string& encryptedToken, const std::string& internalId,
                    double timestamp);
  // Empties every slot holding `internalId`; true when one was found.
  static bool remove(const std::string& internalId);
  // The index of the slot holding `internalId`, for tests.
  static std::optional<std::size_t> slotOf(const std::string& internalId);
  static bool bufferWritten();

  // The crash callback: async-signal-safe, no lock, no allocation.
  static void writeAtCrashTime(siginfo_t* info, void* ucontext, void* context);
};

}  // namespace telemetry::crashes
