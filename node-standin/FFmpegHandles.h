#pragma once
// Owners for the FFmpeg objects the node's media code opens. Included only by
// the node's .cpp files (MediaProbe, Thumbnailer); no public header names
// FFmpeg.

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/avutil.h>
}

#include <filesystem>
#include <memory>
#include <string>

namespace standin::detail {

struct FormatContextCloser {
  void operator()(AVFormatContext* context) const { avformat_close_input(&context); }
};
using FormatContextHandle = std::unique_ptr<AVFormatContext, FormatContextCloser>;

struct CodecContextFreer {
  void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
};
using CodecContextHandle = std::unique_ptr<AVCodecContext, CodecContextFreer>;

struct FrameFreer {
  void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
using FrameHandle = std::unique_ptr<AVFrame, FrameFreer>;

struct PacketFreer {
  void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
using PacketHandle = std::unique_ptr<AVPacket, PacketFreer>;

// Keeps FFmpeg's own console messages off standard error: the node reports
// unreadable files through its own log. Safe to call from any thread, any
// number of times.
void silenceFFmpegLog();

// Opens the file and reads its stream information; an empty handle and the
// FFmpeg error text in `problem` when either step fails.
FormatContextHandle openMediaFile(const std::filesystem::path& path, std::string& problem);

std::string ffmpegErrorText(int code);

}  // namespace standin::detail
