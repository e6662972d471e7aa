#include "media/readers/io/PacketBuffer.h"

#include <cinttypes>

extern "C" {
#include <libavcodec/packet.h>
}

#include "foundation/CVNLogController.h"

namespace media {

void AVPacketFree::operator()(AVPacket* packet) const { av_packet_free(&packet); }

void PacketBuffer::bufferPacket(AVPacketPtr packet) {
  if (packet) packets_.push_back(std::move(packet));
}

AVPacketPtr PacketBuffer::nextBufferedPacket() {
  if (packets_.empty()) return nullptr;
  AVPacketPtr packet = std::move(packets_.front());
  packets_.pop_front();
  return packet;
}

AVPacketPtr PacketBuffer::nextBufferedVideoPacket(int streamIndex) {
  for (auto it = packets_.begin(); it != packets_.end(); ++it) {
    if ((*it)->stream_index != streamIndex) continue;
    AVPacketPtr packet = std::move(*it);
    packets_.erase(it);
    return packet;
  }
  return nullptr;
}

const AVPacket* PacketBuffer::bufferedPacketOfStream(int streamIndex, std::size_t ordinal) const {
  for (const auto& packet : packets_) {
    if (packet->stream_index != streamIndex) continue;
    if (ordinal == 0) return packet.get();
    --ordinal;
  }
  return nullptr;
}

AVPacket* PacketBuffer::bufferedPacketOfStream(int streamIndex, std::size_t ordinal) {
  return const_cast<AVPacket*>(static_cast<const PacketBuffer*>(this)->bufferedPacketOfStream(streamIndex, ordinal));
}

void PacketBuffer::pushFront(AVPacketPtr packet) {
  if (packet) packets_.push_front(std::move(packet));
}

void PacketBuffer::removePacketsIf(const std::function<bool(const AVPacket&)>& predicate) {
  std::erase_if(packets_, [&](const AVPacketPtr& packet) { return predicate(*packet); });
}

void PacketBuffer::clearPacketBuffer() { packets_.clear(); }

void PacketBuffer::logBufferedPacketList() const {
  auto& log = foundation::CVNLogController::sharedLogController();
  log.logMessageWithLevel(3, false, "MovieAssetReader: %zu buffered packet(s)", packets_.size());
  for (const auto& packet : packets_) {
    log.logMessageWithLevel(3, false,
                            "MovieAssetReader: buffered packet: stream %i pts %" PRId64 " dts %" PRId64
                            " size %i flags %i",
                            packet->stream_index, packet->pts, packet->dts, packet->size, packet->flags);
  }
}

}  // namespace media
