#pragma once
// The reader's read-ahead packets: what probing, the start of reading and
// seeking read before they are needed, served first by packet reading.
// Each packet owns its data reference. One queue at a time (the reader's).

#include <cstddef>
#include <deque>
#include <functional>
#include <memory>

struct AVPacket;

namespace media {

struct AVPacketFree {
  void operator()(AVPacket* packet) const;
};
using AVPacketPtr = std::unique_ptr<AVPacket, AVPacketFree>;

class PacketBuffer {
 public:
  // Appends at the tail.
  void bufferPacket(AVPacketPtr packet);
  // Takes the head; none when empty.
  AVPacketPtr nextBufferedPacket();
  // Takes the first packet of the stream, leaving the others in order.
  AVPacketPtr nextBufferedVideoPacket(int streamIndex);
  // The `ordinal`-th buffered packet of the stream (0 the first), left in place.
  const AVPacket* bufferedPacketOfStream(int streamIndex, std::size_t ordinal) const;
  AVPacket* bufferedPacketOfStream(int streamIndex, std::size_t ordinal);
  // Puts a packet back in front of the others.
  void pushFront(AVPacketPtr packet);
  // Drops the packets the predicate picks, keeping the others in order.
  void removePacketsIf(const std::function<bool(const AVPacket&)>& predicate);
  void clearPacketBuffer();
  // One line per packet at level 3: stream, times, size, flags.
  void logBufferedPacketList() const;
  std::size_t size() const { return packets_.size(); }
  bool empty() const { return packets_.empty(); }

 private:
  std::deque<AVPacketPtr> packets_;
};

}  // namespace media
