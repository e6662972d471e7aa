#include "plugins/virtual-output/OutputSink.h"

#include <errno.h>
#include <pthread.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/error.h>
#include <libswscale/swscale.h>

#define SINK_QUEUE 4
#define SINK_MAX_AUDIO 4096
#define SINK_IO_BUFFER 65536

typedef struct SinkEntry {
  uint8_t* picture; /* rows of rowBytes, no padding */
  int hasPicture;
  int16_t* audio;
  uint32_t audioFrames;
} SinkEntry;

struct OutputSink {
  const CVNPluginHostTable* host;
  SinkFormat format;
  const char* kind;
  int waitWhenFull;
  int fd; /* the preview's socket, or -1 */
  AVFormatContext* muxer;
  AVStream* video;
  AVStream* audio;
  AVRational videoTimeBase;
  AVCodecContext* encoder;  /* FFV1; NULL when pictures are stored as they come */
  AVCodecContext* unpacker; /* v210 rows into planes for FFV1 */
  struct SwsContext* scaler;
  AVFrame* frame;
  AVPacket* packet;
  AVPacket* lastPicture; /* repeated when a pull brings none */
  enum AVPixelFormat packedFormat;
  size_t rowBytes;
  int64_t videoIndex;
  int64_t audioIndex;
  int headerWritten;
  pthread_mutex_t mutex;
  pthread_cond_t changed;
  SinkEntry entries[SINK_QUEUE]; /* slot head .. head+count-1 belong to the writer */
  size_t head, count;            /* guarded by mutex */
  uint64_t written;              /* guarded by mutex; entries the writer has finished */
  int closing;                   /* guarded by mutex */
  int failed;                    /* guarded by mutex */
  int threadStarted;
  pthread_t thread;
  int loggedMismatch; /* puller only */
  int loggedDrop;     /* puller only */
};

static void sinkLog(OutputSink* sink, int32_t level, const char* format, ...) {
  char line[512];
  va_list arguments;
  va_start(arguments, format);
  vsnprintf(line, sizeof(line), format, arguments);
  va_end(arguments);
  sink->host->log(sink->host->context, line, level, 0);
}

static int fail(char* error, size_t length, const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  vsnprintf(error, length, format, arguments);
  va_end(arguments);
  return 1;
}

static const char* avText(int status, char* buffer, size_t length) {
  av_strerror(status, buffer, length);
  return buffer;
}

static int packedLayout(uint32_t fourCC, int32_t width, enum AVPixelFormat* packed, size_t* rowBytes) {
  switch (fourCC) {
    case MKBETAG('2', 'v', 'u', 'y'):
      *packed = AV_PIX_FMT_UYVY422;
      *rowBytes = (size_t)width * 2;
      return 0;
    case MKBETAG('B', 'G', 'R', 'A'):
      *packed = AV_PIX_FMT_BGRA;
      *rowBytes = (size_t)width * 4;
      return 0;
    case MKBETAG('R', 'G', 'B', 'A'):
      *packed = AV_PIX_FMT_RGBA;
      *rowBytes = (size_t)width * 4;
      return 0;
    case MKBETAG('v', '2', '1', '0'):
      *packed = AV_PIX_FMT_NONE; /* not a pixel format of the libraries: a codec of its own */
      *rowBytes = (size_t)(width + 47) / 48 * 128;
      return 0;
    default:
      return 1;
  }
}

static enum AVFieldOrder fieldOrder(int32_t fieldDominance) {
  switch (fieldDominance) {
    case 1: return AV_FIELD_BB;
    case 2: return AV_FIELD_TT;
    case 3: return AV_FIELD_PROGRESSIVE;
    default: return AV_FIELD_UNKNOWN;
  }
}

static void sinkFree(OutputSink* sink) {
  if (sink->muxer) {
    if (sink->fd >= 0) {
      if (sink->muxer->pb) av_free(sink->muxer->pb->buffer);
      avio_context_free(&sink->muxer->pb);
    } else {
      avio_closep(&sink->muxer->pb);
    }
    avformat_free_context(sink->muxer);
  }
  if (sink->fd >= 0) close(sink->fd);
  avcodec_free_context(&sink->encoder);
  avcodec_free_context(&sink->unpacker);
  sws_freeContext(sink->scaler);
  av_frame_free(&sink->frame);
  av_packet_free(&sink->packet);
  av_packet_free(&sink->lastPicture);
  for (size_t i = 0; i < SINK_QUEUE; ++i) {
    free(sink->entries[i].picture);
    free(sink->entries[i].audio);
  }
  pthread_cond_destroy(&sink->changed);
  pthread_mutex_destroy(&sink->mutex);
  free(sink);
}

static OutputSink* sinkCreate(const CVNPluginHostTable* host, const SinkFormat* format, const char* kind,
                              int waitWhenFull, int fd, char* error, size_t errorLength) {
  enum AVPixelFormat packed;
  size_t rowBytes;
  if (packedLayout(format->fourCC, format->width, &packed, &rowBytes) != 0 || format->width <= 0 ||
      format->height <= 0 || format->timeScale <= 0 || format->frameDuration <= 0 || format->channels == 0) {
    fail(error, errorLength, "Virtual output: the %s cannot take this output's format", kind);
    if (fd >= 0) close(fd);
    return NULL;
  }
  OutputSink* sink = calloc(1, sizeof(*sink));
  if (!sink) {
    if (fd >= 0) close(fd);
    return NULL;
  }
  sink->host = host;
  sink->format = *format;
  sink->kind = kind;
  sink->waitWhenFull = waitWhenFull;
  sink->fd = fd;
  sink->packedFormat = packed;
  sink->rowBytes = rowBytes;
  sink->videoTimeBase = (AVRational){(int)format->frameDuration, format->timeScale};
  pthread_mutex_init(&sink->mutex, NULL);
  pthread_condattr_t attributes;
  pthread_condattr_init(&attributes);
  pthread_condattr_setclock(&attributes, CLOCK_MONOTONIC);
  pthread_cond_init(&sink->changed, &attributes);
  pthread_condattr_destroy(&attributes);
  int ok = (sink->packet = av_packet_alloc()) && (sink->lastPicture = av_packet_alloc());
  for (size_t i = 0; ok && i < SINK_QUEUE; ++i) {
    sink->entries[i].picture = malloc(rowBytes * (size_t)format->height);
    sink->entries[i].audio = malloc(SINK_MAX_AUDIO * format->channels * sizeof(int16_t));
    ok = sink->entries[i].picture && sink->entries[i].audio;
  }
  if (!ok) {
    fail(error, errorLength, "Virtual output: no memory for the %s", kind);
    sinkFree(sink);
    return NULL;
  }
  return sink;
}

static int openEncoder(OutputSink* sink, char* error, size_t errorLength) {
  const SinkFormat* format = &sink->format;
  const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_FFV1);
  if (!codec || !(sink->encoder = avcodec_alloc_context3(codec))) {
    return fail(error, errorLength, "Virtual output: no FFV1 encoder for the %s", sink->kind);
  }
  AVCodecContext* encoder = sink->encoder;
  encoder->width = format->width;
  encoder->height = format->height;
  encoder->time_base = sink->videoTimeBase;
  encoder->field_order = fieldOrder(format->fieldDominance);
  encoder->level = 3; /* slices, so the encoder uses every core */
  encoder->gop_size = 1; /* each packet stands alone: a missing frame repeats the last one */
  encoder->thread_count = 0;
  switch (sink->packedFormat) {
    case AV_PIX_FMT_UYVY422: encoder->pix_fmt = AV_PIX_FMT_YUV422P; break;
    case AV_PIX_FMT_NONE: encoder->pix_fmt = AV_PIX_FMT_YUV422P10LE; break;
    default: encoder->pix_fmt = AV_PIX_FMT_BGRA; break;
  }
  if (sink->muxer->oformat->flags & AVFMT_GLOBALHEADER) encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  char reason[128];
  int status = avcodec_open2(encoder, codec, NULL);
  if (status < 0) {
    return fail(error, errorLength, "Virtual output: the %s's encoder did not open: %s", sink->kind,
                avText(status, reason, sizeof(reason)));
  }
  if (sink->packedFormat == AV_PIX_FMT_NONE) {
    const AVCodec* v210 = avcodec_find_decoder(AV_CODEC_ID_V210);
    if (!v210 || !(sink->unpacker = avcodec_alloc_context3(v210))) {
      return fail(error, errorLength, "Virtual output: no v210 unpacker for the %s", sink->kind);
    }
    sink->unpacker->width = format->width;
    sink->unpacker->height = format->height;
    if ((status = avcodec_open2(sink->unpacker, v210, NULL)) < 0) {
      return fail(error, errorLength, "Virtual output: the v210 unpacker did not open: %s",
                  avText(status, reason, sizeof(reason)));
    }
  } else {
    sink->scaler = sws_getContext(format->width, format->height, sink->packedFormat, format->width, format->height,
                                  encoder->pix_fmt, SWS_POINT, NULL, NULL, NULL);
    if (!sink->scaler) return fail(error, errorLength, "Virtual output: no converter for the %s", sink->kind);
  }
  if (!(sink->frame = av_frame_alloc())) return fail(error, errorLength, "Virtual output: no memory");
  sink->frame->format = encoder->pix_fmt;
  sink->frame->width = format->width;
  sink->frame->height = format->height;
  if (av_frame_get_buffer(sink->frame, 0) < 0) return fail(error, errorLength, "Virtual output: no memory");
  return 0;
}

static int addStreams(OutputSink* sink, SinkCodec codec, char* error, size_t errorLength) {
  const SinkFormat* format = &sink->format;
  sink->video = avformat_new_stream(sink->muxer, NULL);
  sink->audio = avformat_new_stream(sink->muxer, NULL);
  if (!sink->video || !sink->audio) return fail(error, errorLength, "Virtual output: no memory");
  AVCodecParameters* video = sink->video->codecpar;
  if (codec == kSinkCodecFFV1) {
    if (openEncoder(sink, error, errorLength) != 0) return 1;
    if (avcodec_parameters_from_context(video, sink->encoder) < 0) {
      return fail(error, errorLength, "Virtual output: no memory");
    }
  } else {
    video->codec_type = AVMEDIA_TYPE_VIDEO;
    video->width = format->width;
    video->height = format->height;
    video->field_order = fieldOrder(format->fieldDominance);
    if (sink->packedFormat == AV_PIX_FMT_NONE) {
      video->codec_id = AV_CODEC_ID_V210;
      video->format = AV_PIX_FMT_YUV422P10LE;
    } else {
      video->codec_id = AV_CODEC_ID_RAWVIDEO;
      video->format = sink->packedFormat;
      video->codec_tag = avcodec_pix_fmt_to_codec_tag(sink->packedFormat);
      video->bits_per_coded_sample = (int)(sink->rowBytes * 8 / (size_t)format->width);
    }
  }
  sink->video->time_base = sink->videoTimeBase;
  AVCodecParameters* audio = sink->audio->codecpar;
  audio->codec_type = AVMEDIA_TYPE_AUDIO;
  audio->codec_id = AV_CODEC_ID_PCM_S16LE;
  audio->sample_rate = 48000;
  av_channel_layout_default(&audio->ch_layout, (int)format->channels);
  audio->bits_per_coded_sample = 16;
  audio->block_align = 2 * (int)format->channels;
  audio->bit_rate = 48000LL * 16 * format->channels;
  sink->audio->time_base = (AVRational){1, 48000};
  return 0;
}

static int writePacket(OutputSink* sink, AVPacket* packet, AVStream* stream, AVRational timeBase) {
  packet->stream_index = stream->index;
  av_packet_rescale_ts(packet, timeBase, stream->time_base);
  const int status = av_interleaved_write_frame(sink->muxer, packet);
  if (status < 0) return status;
  return sink->muxer->pb && sink->muxer->pb->error < 0 ? sink->muxer->pb->error : 0;
}

/* The picture as the stream stores it, into sink->packet. */
static int pictureIntoPacket(OutputSink* sink, const SinkEntry* entry) {
  const size_t size = sink->rowBytes * (size_t)sink->format.height;
  if (!sink->encoder) {
    int status = av_new_packet(sink->packet, (int)size);
    if (status < 0) return status;
    memcpy(sink->packet->data, entry->picture, size);
    sink->packet->flags |= AV_PKT_FLAG_KEY;
    return 0;
  }
  AVFrame* source = sink->frame;
  AVFrame* unpacked = NULL;
  int status;
  if (sink->unpacker) {
    AVPacket rows = {0};
    rows.data = entry->picture;
    rows.size = (int)size;
    if (!(unpacked = av_frame_alloc())) return AVERROR(ENOMEM);
    status = avcodec_send_packet(sink->unpacker, &rows);
    if (status >= 0) status = avcodec_receive_frame(sink->unpacker, unpacked);
    source = unpacked;
  } else {
    status = av_frame_make_writable(sink->frame);
    if (status >= 0) {
      const uint8_t* planes[1] = {entry->picture};
      const int strides[1] = {(int)sink->rowBytes};
      sws_scale(sink->scaler, planes, strides, 0, sink->format.height, sink->frame->data, sink->frame->linesize);
    }
  }
  if (status >= 0) {
    source->pts = sink->videoIndex;
    status = avcodec_send_frame(sink->encoder, source);
  }
  av_frame_free(&unpacked);
  /* FFV1 is intra-only without delay: one frame in, one packet out. */
  return status < 0 ? status : avcodec_receive_packet(sink->encoder, sink->packet);
}

static int writeEntry(OutputSink* sink, const SinkEntry* entry) {
  int status = 0;
  if (entry->hasPicture) {
    status = pictureIntoPacket(sink, entry);
    if (status >= 0) {
      av_packet_unref(sink->lastPicture);
      status = av_packet_ref(sink->lastPicture, sink->packet);
    }
  } else if (sink->lastPicture->size > 0) {
    status = av_packet_ref(sink->packet, sink->lastPicture);
  }
  if (status >= 0 && sink->packet->size > 0) {
    sink->packet->pts = sink->packet->dts = sink->videoIndex;
    sink->packet->duration = 1;
    status = writePacket(sink, sink->packet, sink->video, sink->videoTimeBase);
  }
  av_packet_unref(sink->packet);
  ++sink->videoIndex; /* a slot without a picture still takes its time */
  if (status < 0 || entry->audioFrames == 0) return status;
  const size_t bytes = (size_t)entry->audioFrames * sink->format.channels * sizeof(int16_t);
  if ((status = av_new_packet(sink->packet, (int)bytes)) < 0) return status;
  memcpy(sink->packet->data, entry->audio, bytes);
  sink->packet->pts = sink->packet->dts = sink->audioIndex;
  sink->packet->duration = entry->audioFrames;
  sink->audioIndex += entry->audioFrames;
  status = writePacket(sink, sink->packet, sink->audio, (AVRational){1, 48000});
  av_packet_unref(sink->packet);
  return status;
}

static struct timespec monotonicIn(int64_t milliseconds) {
  struct timespec at;
  clock_gettime(CLOCK_MONOTONIC, &at);
  at.tv_sec += milliseconds / 1000;
  at.tv_nsec += (milliseconds % 1000) * 1000000L;
  if (at.tv_nsec >= 1000000000L) {
    at.tv_sec += 1;
    at.tv_nsec -= 1000000000L;
  }
  return at;
}

static void* writerLoop(void* argument) {
  OutputSink* sink = argument;
  for (;;) {
    pthread_mutex_lock(&sink->mutex);
    while (sink->count == 0 && !sink->closing) {
      const struct timespec at = monotonicIn(1000);
      pthread_cond_timedwait(&sink->changed, &sink->mutex, &at);
    }
    if (sink->count == 0) {
      pthread_mutex_unlock(&sink->mutex);
      return NULL;
    }
    const SinkEntry* entry = &sink->entries[sink->head];
    const int failed = sink->failed;
    pthread_mutex_unlock(&sink->mutex);
    const int status = failed ? 0 : writeEntry(sink, entry);
    pthread_mutex_lock(&sink->mutex);
    if (status < 0) sink->failed = 1;
    sink->head = (sink->head + 1) % SINK_QUEUE;
    --sink->count;
    ++sink->written;
    pthread_cond_broadcast(&sink->changed);
    pthread_mutex_unlock(&sink->mutex);
    if (status < 0) {
      char reason[128];
      sinkLog(sink, 1, "Virtual output: the %s stopped: %s", sink->kind, avText(status, reason, sizeof(reason)));
    }
  }
}

static OutputSink* sinkStart(OutputSink* sink, AVDictionary** options, char* error, size_t errorLength) {
  char reason[128];
  const int status = avformat_write_header(sink->muxer, options);
  if (status < 0) {
    fail(error, errorLength, "Virtual output: the %s could not begin: %s", sink->kind,
         avText(status, reason, sizeof(reason)));
    sinkFree(sink);
    return NULL;
  }
  sink->headerWritten = 1;
  if (pthread_create(&sink->thread, NULL, writerLoop, sink) != 0) {
    fail(error, errorLength, "Virtual output: the %s's thread could not start", sink->kind);
    av_write_trailer(sink->muxer);
    sinkFree(sink);
    return NULL;
  }
  sink->threadStarted = 1;
  return sink;
}

OutputSink* outputSinkOpenFile(const CVNPluginHostTable* host, const char* path, SinkCodec codec,
                               const SinkFormat* format, const char* startTime, char* error, size_t errorLength) {
  if (codec == kSinkCodecInvalid || !path || !*path) {
    fail(error, errorLength, "Virtual output: no recording codec or path");
    return NULL;
  }
  OutputSink* sink = sinkCreate(host, format, "recording", 1, -1, error, errorLength);
  if (!sink) return NULL;
  char reason[128];
  int status = avformat_alloc_output_context2(&sink->muxer, NULL, "matroska", path);
  if (status < 0 || addStreams(sink, codec, error, errorLength) != 0) {
    if (status < 0) fail(error, errorLength, "Virtual output: no Matroska writer: %s", avText(status, reason, sizeof(reason)));
    sinkFree(sink);
    return NULL;
  }
  if (startTime) av_dict_set(&sink->muxer->metadata, "START_TIME", startTime, 0);
  if ((status = avio_open(&sink->muxer->pb, path, AVIO_FLAG_WRITE)) < 0) {
    fail(error, errorLength, "Virtual output: cannot create the recording %s: %s", path,
         avText(status, reason, sizeof(reason)));
    sinkFree(sink);
    return NULL;
  }
  AVDictionary* options = NULL;
  /* Packed BGRA has no native Matroska form; it is stored the older way. */
  av_dict_set(&options, "allow_raw_vfw", "1", 0);
  sink = sinkStart(sink, &options, error, errorLength);
  av_dict_free(&options);
  return sink;
}

static int writeToSocket(void* opaque, uint8_t* data, int size) {
  OutputSink* sink = opaque;
  int written = 0;
  while (written < size) {
    /* No SIGPIPE when the player has gone: the host would die of it. */
    const ssize_t sent = send(sink->fd, data + written, (size_t)(size - written), MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    if (sent <= 0) return AVERROR(sent < 0 ? errno : EPIPE);
    written += (int)sent;
  }
  return size;
}

OutputSink* outputSinkOpenStream(const CVNPluginHostTable* host, int fd, const SinkFormat* format, char* error,
                                 size_t errorLength) {
  OutputSink* sink = sinkCreate(host, format, "preview", 0, fd, error, errorLength);
  if (!sink) return NULL;
  /* A player that stops reading ends the preview instead of holding the writer. */
  const struct timeval limit = {2, 0};
  setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof(limit));
  if (avformat_alloc_output_context2(&sink->muxer, NULL, "nut", NULL) < 0) {
    fail(error, errorLength, "Virtual output: no NUT writer for the preview");
    sinkFree(sink);
    return NULL;
  }
  uint8_t* buffer = av_malloc(SINK_IO_BUFFER);
  sink->muxer->pb = buffer ? avio_alloc_context(buffer, SINK_IO_BUFFER, 1, sink, NULL, writeToSocket, NULL) : NULL;
  if (!sink->muxer->pb) {
    av_free(buffer);
    fail(error, errorLength, "Virtual output: no memory");
    sinkFree(sink);
    return NULL;
  }
  sink->muxer->flags |= AVFMT_FLAG_CUSTOM_IO;
  if (addStreams(sink, kSinkCodecRaw, error, errorLength) != 0) {
    sinkFree(sink);
    return NULL;
  }
  return sinkStart(sink, NULL, error, errorLength);
}

/* Copies the picture's rows when it is of the sink's size and format. */
static int copyPicture(OutputSink* sink, CVNPluginPixelBuffer* picture, uint8_t* into) {
  const CVNPluginHostTable* host = sink->host;
  uint32_t width = 0, height = 0, fourCC = 0;
  if (!picture || host->pixelBufferDescribe(picture, &width, &height, &fourCC) != 0) return 0;
  const uint8_t* base = host->pixelBufferBaseAddress(picture);
  const size_t stride = host->pixelBufferBytesPerRow(picture);
  if ((int32_t)width != sink->format.width || (int32_t)height != sink->format.height ||
      fourCC != sink->format.fourCC || !base || stride < sink->rowBytes) {
    if (!sink->loggedMismatch) {
      sinkLog(sink, 1, "Virtual output: pictures of another size or format than the %s's are left out of it",
              sink->kind);
      sink->loggedMismatch = 1;
    }
    return 0;
  }
  for (int32_t y = 0; y < sink->format.height; ++y) {
    memcpy(into + (size_t)y * sink->rowBytes, base + (size_t)y * stride, sink->rowBytes);
  }
  return 1;
}

void outputSinkWrite(OutputSink* sink, CVNPluginPixelBuffer* picture, const int16_t* audio, uint32_t audioFrames) {
  if (!sink) return;
  pthread_mutex_lock(&sink->mutex);
  /* A slow writer holds the puller back; only one that makes no progress
   * for the whole limit (a stalled disk) loses frames. */
  struct timespec limit = monotonicIn(kSinkFullLimitMs);
  uint64_t progress = sink->written;
  while (sink->waitWhenFull && sink->count == SINK_QUEUE && !sink->failed) {
    if (pthread_cond_timedwait(&sink->changed, &sink->mutex, &limit) != ETIMEDOUT) continue;
    if (sink->written == progress) break;
    progress = sink->written;
    limit = monotonicIn(kSinkFullLimitMs);
  }
  const int full = sink->count == SINK_QUEUE;
  const int failed = sink->failed;
  SinkEntry* entry = &sink->entries[(sink->head + sink->count) % SINK_QUEUE];
  pthread_mutex_unlock(&sink->mutex);
  if (failed) return;
  if (full) {
    if (!sink->loggedDrop) {
      sinkLog(sink, 1, "Virtual output: the %s cannot keep up; frames are left out", sink->kind);
      sink->loggedDrop = 1;
    }
    return;
  }
  /* The slot past the queue's end is the puller's until it is counted in. */
  entry->hasPicture = copyPicture(sink, picture, entry->picture);
  entry->audioFrames = audioFrames > SINK_MAX_AUDIO ? SINK_MAX_AUDIO : audioFrames;
  const size_t samples = (size_t)entry->audioFrames * sink->format.channels;
  if (audio) memcpy(entry->audio, audio, samples * sizeof(int16_t));
  else memset(entry->audio, 0, samples * sizeof(int16_t));
  pthread_mutex_lock(&sink->mutex);
  ++sink->count;
  pthread_cond_broadcast(&sink->changed);
  pthread_mutex_unlock(&sink->mutex);
}

void outputSinkClose(OutputSink* sink) {
  if (!sink) return;
  pthread_mutex_lock(&sink->mutex);
  sink->closing = 1;
  pthread_cond_broadcast(&sink->changed);
  pthread_mutex_unlock(&sink->mutex);
  if (sink->threadStarted) pthread_join(sink->thread, NULL);
  if (sink->headerWritten) {
    const int status = av_write_trailer(sink->muxer);
    if (status < 0) {
      char reason[128];
      sinkLog(sink, 1, "Virtual output: the %s did not end cleanly: %s", sink->kind,
              avText(status, reason, sizeof(reason)));
    }
  }
  sinkFree(sink);
}
