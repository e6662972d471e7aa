#include "telemetry/services/crashes/DRTLCrashesLogBuffer.h"

#include <fcntl.h>
#include <limits.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>

namespace telemetry::crashes {
namespace {

constexpr std::size_t kMaxTokenLength = 4096;

// What every store and removal visits is kept apart from the paths and token
// text, which span hundreds of kilobytes: walking those cost the enqueueing
// thread a cache miss per slot.
struct Slot {
  std::atomic<std::size_t> bufferLength{0};
  std::atomic<std::size_t> targetTokenLength{0};
  std::atomic<std::uint64_t> sequence{0};  // odd while the slot changes
  double timestamp = 0;
  std::string internalId;          // never read at crash time
  std::unique_ptr<char[]> buffer;  // kDRTLCrashesBufferSlotCapacity bytes
};

// A slot's file paths and token text, the same index in slotFiles.
struct Files {
  char bufferPath[PATH_MAX] = {};
  char targetTokenPath[PATH_MAX] = {};
  char targetToken[kMaxTokenLength] = {};
};

Slot slots[kDRTLCrashesBufferSlotCount];
Files slotFiles[kDRTLCrashesBufferSlotCount];

Files& filesOf(const Slot& slot) { return slotFiles[&slot - slots]; }

std::atomic<bool> slotsReady{false};
std::atomic<bool> written{false};
std::mutex slotsMutex;  // taken inside the service's lock, never the other way round

void copyPath(char* target, const std::string& path) {
  const std::size_t length = std::min(path.size(), static_cast<std::size_t>(PATH_MAX - 1));
  std::memcpy(target, path.data(), length);
  target[length] = '\0';
}

void empty(Slot& slot) {
  slot.sequence.fetch_add(1, std::memory_order_acq_rel);
  slot.bufferLength.store(0, std::memory_order_release);
  slot.targetTokenLength.store(0, std::memory_order_release);
  slot.internalId.clear();
  slot.timestamp = 0;
  slot.sequence.fetch_add(1, std::memory_order_acq_rel);
}

// Writes every byte (short writes and EINTR go on); false on any other error.
bool writeAll(int fd, const char* bytes, std::size_t length) {
  while (length > 0) {
    const ssize_t n = ::write(fd, bytes, length);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes += n;
    length -= static_cast<std::size_t>(n);
  }
  return true;
}

// One file of one slot; emptied again when the slot changed while written.
void writeFile(const char* path, const char* bytes, const std::atomic<std::size_t>& length,
               const std::atomic<std::uint64_t>& sequence) {
  const std::uint64_t before = sequence.load(std::memory_order_acquire);
  const int fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return;
  if ((before & 1) == 0) {
    const bool complete = writeAll(fd, bytes, length.load(std::memory_order_acquire));
    if (!complete || sequence.load(std::memory_order_acquire) != before) (void)::ftruncate(fd, 0);
  }
  ::close(fd);
}

}  // namespace

void DRTLCrashesLogBuffer::setUp(const std::string& bufferDirectory) {
  std::lock_guard lock(slotsMutex);
  for (std::size_t i = 0; i < kDRTLCrashesBufferSlotCount; ++i) {
    Slot& slot = slots[i];
    if (!slotsReady.load()) {
      const std::string base = bufferDirectory + "/" + std::to_string(i) + ".";
      copyPath(filesOf(slot).bufferPath, base + kDRTLBufferFileExtension);
      copyPath(filesOf(slot).targetTokenPath, base + kDRTLTargetTokenFileExtension);
      slot.buffer.reset(new char[kDRTLCrashesBufferSlotCapacity]);
    }
    empty(slot);
  }
  slotsReady.store(true, std::memory_order_release);
}

bool DRTLCrashesLogBuffer::store(const std::string& archive, const std::string& encryptedToken,
                                 const std::string& internalId, double timestamp) {
  if (archive.size() > kDRTLCrashesBufferSlotCapacity || encryptedToken.size() > kMaxTokenLength) return false;
  std::lock_guard lock(slotsMutex);
  if (!slotsReady.load()) return false;
  Slot* taken = nullptr;
  Slot* oldest = nullptr;
  double oldestTime = std::numeric_limits<double>::max();
  for (Slot& slot : slots) {
    if (slot.bufferLength.load() == 0) {
      taken = &slot;
      break;
    }
    if (slot.timestamp < oldestTime) {
      oldestTime = slot.timestamp;
      oldest = &slot;
    }
  }
  if (taken == nullptr) taken = oldest;
  taken->sequence.fetch_add(1, std::memory_order_acq_rel);
  std::memcpy(taken->buffer.get(), archive.data(), archive.size());
  taken->bufferLength.store(archive.size(), std::memory_order_release);
  std::memcpy(filesOf(*taken).targetToken, encryptedToken.data(), encryptedToken.size());
  taken->targetTokenLength.store(encryptedToken.size(), std::memory_order_release);
  taken->internalId = internalId;
  taken->timestamp = timestamp;
  taken->sequence.fetch_add(1, std::memory_order_acq_rel);
  return true;
}

bool DRTLCrashesLogBuffer::remove(const std::string& internalId) {
  if (internalId.empty()) return false;
  std::lock_guard lock(slotsMutex);
  bool found = false;
  for (Slot& slot : slots) {
    if (slot.internalId != internalId) continue;
    found = true;
    empty(slot);
    if (written.load()) ::unlink(filesOf(slot).bufferPath);
  }
  return found;
}

std::optional<std::size_t> DRTLCrashesLogBuffer::slotOf(const std::string& internalId) {
  std::lock_guard lock(slotsMutex);
  for (std::size_t i = 0; i < kDRTLCrashesBufferSlotCount; ++i) {
    if (!internalId.empty() && slots[i].internalId == internalId) return i;
  }
  return std::nullopt;
}

bool DRTLCrashesLogBuffer::bufferWritten() { return written.load(); }

void DRTLCrashesLogBuffer::writeAtCrashTime(siginfo_t*, void*, void*) {
  written.store(true);
  if (!slotsReady.load(std::memory_order_acquire)) return;
  for (Slot& slot : slots) {
    Files& files = filesOf(slot);
    writeFile(files.bufferPath, slot.buffer.get(), slot.bufferLength, slot.sequence);
    if (slot.targetTokenLength.load(std::memory_order_acquire) > 0) {
      writeFile(files.targetTokenPath, files.targetToken, slot.targetTokenLength, slot.sequence);
    } else {
      // A stale token of an earlier crash must not ride with this slot's log.
      ::unlink(files.targetTokenPath);
    }
  }
}

}  // namespace telemetry::crashes
