/* Where a virtual output's frames go besides the host: a Matroska recording
 * (FFV1 or uncompressed video, 16-bit PCM, the start time as a tag) or a NUT
 * stream to a preview player. The pulling thread copies each frame into a
 * short queue; a thread of the sink encodes and writes it, so encoding never
 * delays a pull. A recording keeps every frame (the puller waits for room
 * while the writer makes progress, and drops with a log only when it made
 * none for kSinkFullLimitMs); a preview drops at once.
 * Closing drains the queue and writes the trailer, so the file is complete. */
#ifndef PLUGINS_VIRTUAL_OUTPUT_OUTPUT_SINK_H
#define PLUGINS_VIRTUAL_OUTPUT_OUTPUT_SINK_H

#include <stddef.h>
#include <stdint.h>

#include "pluginframework/CVNPluginABI.h"

/* Long enough for a loaded machine's first encode, short of a stuck disk. */
#define kSinkFullLimitMs 10000

typedef enum SinkCodec { kSinkCodecInvalid = 0, kSinkCodecFFV1, kSinkCodecRaw } SinkCodec;

/* The output's format when the sink opens; frames of another size or pixel
 * format are left out (logged once). */
typedef struct SinkFormat {
  int32_t width;
  int32_t height;
  uint32_t fourCC; /* '2vuy', 'v210', 'BGRA' or 'RGBA' */
  int64_t frameDuration;
  int32_t timeScale;
  int32_t fieldDominance;
  uint32_t channels;
} SinkFormat;

typedef struct OutputSink OutputSink;

/* A recording at `path`; NULL with the reason in `error` when the file cannot
 * be made. `startTime` becomes the "START_TIME" tag. */
OutputSink* outputSinkOpenFile(const CVNPluginHostTable* host, const char* path, SinkCodec codec,
                               const SinkFormat* format, const char* startTime, char* error, size_t errorLength);
/* A NUT stream of uncompressed frames written to the socket `fd` (the sink
 * closes it). A peer that goes away ends the stream with one log line. */
OutputSink* outputSinkOpenStream(const CVNPluginHostTable* host, int fd, const SinkFormat* format, char* error,
                                 size_t errorLength);
/* One played frame: `picture` may be NULL (the last picture is repeated),
 * `audio` holds `audioFrames` interleaved frames of the sink's channels. */
void outputSinkWrite(OutputSink* sink, CVNPluginPixelBuffer* picture, const int16_t* audio, uint32_t audioFrames);
/* Writes what is queued and the trailer, stops the thread, frees the sink. */
void outputSinkClose(OutputSink* sink);

#endif
