#include "plugins/fake-input/TestSignal.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <libavfilter/avfilter.h>
#include <libavfilter/buffersink.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/error.h>
#include <libavutil/frame.h>

typedef struct Graph {
  AVFilterGraph* graph;
  AVFilterContext* sink;
} Graph;

struct TestSignal {
  Graph video;
  const PluginMode* videoMode; /* the mode `video` was made for */
  Graph audio;
  int32_t audioRate; /* the rate `audio` was made for */
  AVAudioFifo* pending; /* tone made but not yet handed out */
  AVFrame* frame;
};

static void graphFree(Graph* graph) {
  avfilter_graph_free(&graph->graph);
  graph->sink = NULL;
}

static int reason(int status, const char* what, char* error, size_t errorLength) {
  char text[128];
  av_strerror(status, text, sizeof(text));
  snprintf(error, errorLength, "Fake input: the %s graph failed: %s", what, text);
  return 1;
}

/* `description` ends in an open output that feeds the graph's sink. */
static int graphMake(Graph* graph, const char* description, int audio, char* error, size_t errorLength) {
  graphFree(graph);
  graph->graph = avfilter_graph_alloc();
  if (!graph->graph) return reason(AVERROR(ENOMEM), audio ? "tone" : "picture", error, errorLength);
  /* One thread: the capture thread is already one per input. */
  graph->graph->nb_threads = 1;
  int status = avfilter_graph_create_filter(&graph->sink, avfilter_get_by_name(audio ? "abuffersink" : "buffersink"),
                                            "out", NULL, NULL, graph->graph);
  AVFilterInOut* end = status >= 0 ? avfilter_inout_alloc() : NULL;
  if (end) {
    end->name = av_strdup("out");
    end->filter_ctx = graph->sink;
    end->pad_idx = 0;
    end->next = NULL;
    status = avfilter_graph_parse_ptr(graph->graph, description, &end, NULL, NULL);
    avfilter_inout_free(&end);
    if (status >= 0) status = avfilter_graph_config(graph->graph, NULL);
  } else if (status >= 0) {
    status = AVERROR(ENOMEM);
  }
  if (status < 0) {
    graphFree(graph);
    return reason(status, audio ? "tone" : "picture", error, errorLength);
  }
  return 0;
}

TestSignal* testSignalCreate(void) {
  TestSignal* signal = calloc(1, sizeof(*signal));
  if (signal && !(signal->frame = av_frame_alloc())) {
    free(signal);
    return NULL;
  }
  return signal;
}

void testSignalFree(TestSignal* signal) {
  if (!signal) return;
  graphFree(&signal->video);
  graphFree(&signal->audio);
  if (signal->pending) av_audio_fifo_free(signal->pending);
  av_frame_free(&signal->frame);
  free(signal);
}

int testSignalPicture(TestSignal* signal, const PluginMode* mode, uint8_t* base, size_t bytesPerRow, char* error,
                      size_t errorLength) {
  if (signal->videoMode != mode || !signal->video.graph) {
    char description[160];
    snprintf(description, sizeof(description), "testsrc2=size=%dx%d:rate=%d/%lld,format=uyvy422", mode->width,
             mode->height, mode->timeScale, (long long)mode->frameDuration);
    signal->videoMode = NULL;
    if (graphMake(&signal->video, description, 0, error, errorLength) != 0) return 1;
    signal->videoMode = mode;
  }
  const int status = av_buffersink_get_frame(signal->video.sink, signal->frame);
  if (status < 0) return reason(status, "picture", error, errorLength);
  const size_t rowBytes = (size_t)mode->width * 2;
  for (int32_t y = 0; y < mode->height && y < signal->frame->height; ++y) {
    memcpy(base + (size_t)y * bytesPerRow, signal->frame->data[0] + (size_t)y * (size_t)signal->frame->linesize[0],
           rowBytes);
  }
  av_frame_unref(signal->frame);
  return 0;
}

int testSignalSound(TestSignal* signal, int32_t rate, int16_t* samples, uint32_t count, char* error,
                    size_t errorLength) {
  if (signal->audioRate != rate || !signal->audio.graph) {
    char description[128];
    snprintf(description, sizeof(description), "sine=frequency=1000:sample_rate=%d,aformat=sample_fmts=s16", rate);
    signal->audioRate = 0;
    if (signal->pending) av_audio_fifo_reset(signal->pending);
    if (graphMake(&signal->audio, description, 1, error, errorLength) != 0) return 1;
    signal->audioRate = rate;
  }
  if (!signal->pending && !(signal->pending = av_audio_fifo_alloc(AV_SAMPLE_FMT_S16, 1, 4096))) {
    return reason(AVERROR(ENOMEM), "tone", error, errorLength);
  }
  while ((uint32_t)av_audio_fifo_size(signal->pending) < count) {
    int status = av_buffersink_get_frame(signal->audio.sink, signal->frame);
    if (status >= 0) {
      status = av_audio_fifo_write(signal->pending, (void**)signal->frame->extended_data, signal->frame->nb_samples);
    }
    av_frame_unref(signal->frame);
    if (status < 0) return reason(status, "tone", error, errorLength);
  }
  void* into[1] = {samples};
  return av_audio_fifo_read(signal->pending, into, (int)count) == (int)count ? 0 : 1;
}
