/* Outputs without hardware (device type 3): each virtual output pulls frame n
 * from the host at start + n x frame duration on the host's clock (or as fast
 * as the host answers when free-running) and asks for the audio the 48 kHz
 * cadence gives that frame. What it pulls can also be recorded to a file and
 * shown in a preview window (see OutputSink.h). */
#include <limits.h>
#include <pthread.h>
#include <stdio.h>
#include <string.h>
#include <time.h>

#include "pluginframework/CVNPluginABI.h"
#include "plugins/PluginDisplayMode.h"
#include "plugins/virtual-output/OutputSink.h"
#include "plugins/virtual-output/PreviewPlayer.h"

#define MAX_OUTPUTS 8
#define MAX_AUDIO 4096

static const PluginMode kModes[] = {
    {"PAL", 1, 25, 720, 576, 1},       {"NTSC", 1001, 30000, 720, 486, 1}, {"720p50", 1, 50, 1280, 720, 3},
    {"1080i50", 1, 25, 1920, 1080, 2}, {"1080p25", 1, 25, 1920, 1080, 3},  {"1080p2997", 1001, 30000, 1920, 1080, 3},
    {"1080p50", 1, 50, 1920, 1080, 3},
};
static const char* const kFormats[] = {"2vuy", "v210", "BGRA", "RGBA"};

struct CVNPluginOutput {
  char name[64];
  char uniqueID[64];
  int32_t hidden;
  pthread_mutex_t mutex; /* guards the settings against the pulling thread */
  const PluginMode* mode;
  uint32_t format;
  uint32_t channels;
  int32_t freeRunning;
  char recordingPath[PATH_MAX];
  SinkCodec recordingCodec;
  int32_t preview;
  char previewPlayer[256];
  /* Made before the pulling thread starts and closed after it ends. */
  OutputSink* recording;
  OutputSink* previewStream;
  PreviewPlayer player;
  int32_t running;
  int32_t cancelled; /* atomic */
  /* Frame 0 is due then: taken with the recording's start tag, before the sinks open. */
  int64_t startNanoseconds;
  pthread_t thread;
};

struct CVNPluginDevice {
  CVNPluginOutput output;
};

static const CVNPluginHostTable* host;
static CVNPluginDevice devices[MAX_OUTPUTS];
static size_t deviceCountValue;
static pthread_mutex_t devicesMutex = PTHREAD_MUTEX_INITIALIZER;
static int16_t audioScratch[MAX_OUTPUTS][MAX_AUDIO * 16];

static uint32_t fourcc(const char* text) {
  return ((uint32_t)(unsigned char)text[0] << 24) | ((uint32_t)(unsigned char)text[1] << 16) |
         ((uint32_t)(unsigned char)text[2] << 8) | (uint32_t)(unsigned char)text[3];
}

static int64_t cadence(int64_t frame, const PluginMode* mode) {
  /* Whole samples up to the start of `frame`, exact in integers. */
  return frame * 48000 * mode->frameDuration / mode->timeScale;
}

static void* pullLoop(void* argument) {
  CVNPluginOutput* output = argument;
  int16_t* audio = audioScratch[(CVNPluginDevice*)output - devices];
  const int64_t start = output->startNanoseconds;
  for (int64_t index = 0; !__atomic_load_n(&output->cancelled, __ATOMIC_ACQUIRE); ++index) {
    pthread_mutex_lock(&output->mutex);
    const PluginMode* mode = output->mode;
    const uint32_t channels = output->channels;
    const int freeRunning = output->freeRunning;
    pthread_mutex_unlock(&output->mutex);
    const int64_t due = start + index * 1000000000LL * mode->frameDuration / mode->timeScale;
    if (!freeRunning && host->waitUntilNanoseconds(host->context, due, &output->cancelled) != 0) break;
    CVNPluginOutputFrame frame;
    memset(&frame, 0, sizeof(frame));
    frame.size = sizeof(frame);
    frame.frameIndex = index;
    frame.dueNanoseconds = due;
    frame.audio = audio;
    frame.audioFrames = (uint32_t)(cadence(index + 1, mode) - cadence(index, mode));
    if (frame.audioFrames > MAX_AUDIO) frame.audioFrames = MAX_AUDIO;
    frame.audioChannels = channels;
    const int pulled = host->pullFrame(host->context, output, &frame) == 0;
    /* A slot without a frame is silent in the recording, not stale. */
    if (!pulled) memset(audio, 0, (size_t)frame.audioFrames * channels * sizeof(int16_t));
    CVNPluginPixelBuffer* picture = pulled ? frame.picture : NULL;
    outputSinkWrite(output->recording, picture, audio, frame.audioFrames);
    outputSinkWrite(output->previewStream, picture, audio, frame.audioFrames);
    if (picture) host->releasePixelBuffer(picture);
  }
  return NULL;
}

static const char* outputName(CVNPluginOutput* output) { return output->name; }
static const char* outputUniqueID(CVNPluginOutput* output) { return output->uniqueID; }
static int32_t outputIsRunning(CVNPluginOutput* output) { return __atomic_load_n(&output->running, __ATOMIC_ACQUIRE); }

static int32_t outputDisplayMode(CVNPluginOutput* output, CVNPluginDisplayMode* out) {
  pthread_mutex_lock(&output->mutex);
  const PluginMode* mode = output->mode;
  pthread_mutex_unlock(&output->mutex);
  pluginModeDescribe(mode, out);
  return 0;
}

static uint32_t outputBufferFormat(CVNPluginOutput* output) { return output->format; }
static uint32_t outputAudioChannels(CVNPluginOutput* output) { return output->channels; }

static int32_t outputSetSetting(CVNPluginOutput* output, const char* key, const char* value) {
  int32_t result = 1;
  pthread_mutex_lock(&output->mutex);
  if (strcmp(key, "displayModeName") == 0) {
    for (size_t i = 0; i < sizeof(kModes) / sizeof(kModes[0]); ++i) {
      if (strcmp(kModes[i].name, value) == 0) {
        output->mode = &kModes[i];
        result = 0;
      }
    }
  } else if (strcmp(key, "pixelFormat") == 0) {
    for (size_t i = 0; i < sizeof(kFormats) / sizeof(kFormats[0]); ++i) {
      if (strcmp(kFormats[i], value) == 0) {
        output->format = fourcc(value);
        result = 0;
      }
    }
  } else if (strcmp(key, "audioChannels") == 0) {
    if (strcmp(value, "2") == 0 || strcmp(value, "8") == 0 || strcmp(value, "16") == 0) {
      output->channels = (uint32_t)(value[0] == '2' ? 2 : value[0] == '8' ? 8 : 16);
      result = 0;
    }
  } else if (strcmp(key, "freeRunning") == 0) {
    output->freeRunning = strcmp(value, "0") != 0;
    result = 0;
  } else if (strcmp(key, "recordingPath") == 0 && strlen(value) < sizeof(output->recordingPath)) {
    snprintf(output->recordingPath, sizeof(output->recordingPath), "%s", value);
    result = 0;
  } else if (strcmp(key, "recordingCodec") == 0) {
    const SinkCodec codec = strcmp(value, "ffv1") == 0       ? kSinkCodecFFV1
                            : strcmp(value, "rawvideo") == 0 ? kSinkCodecRaw
                                                             : kSinkCodecInvalid;
    if (codec != kSinkCodecInvalid) {
      output->recordingCodec = codec;
      result = 0;
    }
  } else if (strcmp(key, "preview") == 0) {
    output->preview = strcmp(value, "0") != 0;
    result = 0;
  } else if (strcmp(key, "previewPlayer") == 0 && value[0] && strlen(value) < sizeof(output->previewPlayer)) {
    snprintf(output->previewPlayer, sizeof(output->previewPlayer), "%s", value);
    result = 0;
  }
  pthread_mutex_unlock(&output->mutex);
  return result;
}

static void closeSinks(CVNPluginOutput* output) {
  outputSinkClose(output->recording);
  output->recording = NULL;
  outputSinkClose(output->previewStream);
  output->previewStream = NULL;
  previewPlayerStop(&output->player);
}

/* The wall-clock time playback starts, for the recording's tag. */
static void startTimeText(char* text, size_t length) {
  struct timespec now;
  struct tm utc;
  clock_gettime(CLOCK_REALTIME, &now);
  gmtime_r(&now.tv_sec, &utc);
  char seconds[32];
  strftime(seconds, sizeof(seconds), "%Y-%m-%dT%H:%M:%S", &utc);
  snprintf(text, length, "%s.%06ldZ", seconds, now.tv_nsec / 1000);
}

static int openSinks(CVNPluginOutput* output, char* error, size_t length) {
  pthread_mutex_lock(&output->mutex);
  const PluginMode* mode = output->mode;
  const SinkFormat format = {mode->width,     mode->height,         output->format, mode->frameDuration,
                             mode->timeScale, mode->fieldDominance, output->channels};
  char path[PATH_MAX], player[256];
  snprintf(path, sizeof(path), "%s", output->recordingPath);
  snprintf(player, sizeof(player), "%s", output->previewPlayer);
  const SinkCodec codec = output->recordingCodec;
  const int preview = output->preview;
  pthread_mutex_unlock(&output->mutex);
  if (path[0]) {
    char start[64];
    startTimeText(start, sizeof(start));
    output->recording = outputSinkOpenFile(host, path, codec, &format, start, error, length);
    if (!output->recording) return 1;
  }
  if (preview) {
    const int fd = previewPlayerStart(&output->player, player, output->name, error, length);
    output->previewStream = fd < 0 ? NULL : outputSinkOpenStream(host, fd, &format, error, length);
    if (!output->previewStream) {
      closeSinks(output);
      return 1;
    }
  }
  return 0;
}

static int32_t outputStartPlayback(CVNPluginOutput* output, char* error, size_t length) {
  if (output->running) return 0;
  output->startNanoseconds = host->clockNanoseconds(host->context);
  if (openSinks(output, error, length) != 0) return 1;
  __atomic_store_n(&output->cancelled, 0, __ATOMIC_RELEASE);
  if (pthread_create(&output->thread, NULL, pullLoop, output) != 0) {
    snprintf(error, length, "Virtual output: the playback thread could not start");
    closeSinks(output);
    return 1;
  }
  __atomic_store_n(&output->running, 1, __ATOMIC_RELEASE);
  return 0;
}

static void outputStopPlayback(CVNPluginOutput* output, const char* reason) {
  (void)reason;
  if (!output->running) return;
  __atomic_store_n(&output->cancelled, 1, __ATOMIC_RELEASE);
  host->wakeWaiters(host->context);
  pthread_join(output->thread, NULL);
  closeSinks(output);
  __atomic_store_n(&output->running, 0, __ATOMIC_RELEASE);
}

static size_t noInputs(CVNPluginDevice* d) { (void)d; return 0; }
static CVNPluginInput* noInput(CVNPluginDevice* d, size_t i) { (void)d; (void)i; return NULL; }
static size_t oneOutput(CVNPluginDevice* d) { (void)d; return 1; }
static CVNPluginOutput* outputAt(CVNPluginDevice* d, size_t i) { return i == 0 ? &d->output : NULL; }

static const char* pluginName(void) { return "Virtual Output"; }
static const char* pluginVersion(void) { return "1.0"; }
static int32_t yes(void) { return 1; }
static int32_t deviceType(void) { return 3; }
static void nothing(void) {}

static size_t deviceCount(void) {
  pthread_mutex_lock(&devicesMutex);
  const size_t count = deviceCountValue;
  pthread_mutex_unlock(&devicesMutex);
  return count;
}

static CVNPluginDevice* deviceAt(size_t index) { return index < deviceCount() ? &devices[index] : NULL; }

static CVNPluginDevice* createVirtualOutput(const char* name, const char* uniqueID, int32_t hidden) {
  pthread_mutex_lock(&devicesMutex);
  if (deviceCountValue == MAX_OUTPUTS) {
    pthread_mutex_unlock(&devicesMutex);
    return NULL;
  }
  CVNPluginDevice* device = &devices[deviceCountValue];
  CVNPluginOutput* output = &device->output;
  memset(output, 0, sizeof(*output));
  pthread_mutex_init(&output->mutex, NULL);
  snprintf(output->name, sizeof(output->name), "%s", name ? name : "Virtual Output");
  snprintf(output->uniqueID, sizeof(output->uniqueID), "%s", uniqueID ? uniqueID : "Virtual Output");
  output->hidden = hidden;
  output->mode = &kModes[4];
  output->format = fourcc("2vuy");
  output->channels = 2;
  output->recordingCodec = kSinkCodecFFV1;
  snprintf(output->previewPlayer, sizeof(output->previewPlayer), "ffplay");
  ++deviceCountValue;
  pthread_mutex_unlock(&devicesMutex);
  host->deviceAppeared(host->context, device);
  return device;
}

static void shutdownPlugin(void) {
  for (size_t i = 0; i < deviceCount(); ++i) outputStopPlayback(&devices[i].output, "shutdown");
}

static const CVNPluginDeviceTable kDeviceTable = {sizeof(CVNPluginDeviceTable), noInputs, noInput, oneOutput, outputAt};
static const CVNPluginOutputTable kOutputTable = {
    sizeof(CVNPluginOutputTable), outputName,       outputUniqueID,      outputIsRunning,    outputDisplayMode,
    outputBufferFormat,           outputAudioChannels, outputSetSetting, outputStartPlayback, outputStopPlayback};
static const CVNPluginTable kTable = {sizeof(CVNPluginTable), CVN_PLUGIN_ABI_VERSION,
                                      pluginName, pluginVersion, pluginVersion, NULL, yes, yes, yes, yes, deviceType,
                                      nothing, nothing, deviceCount, deviceAt, createVirtualOutput, shutdownPlugin,
                                      &kDeviceTable, NULL, &kOutputTable};

__attribute__((visibility("default"))) const CVNPluginTable* CVNPluginEntry(const CVNPluginHostTable* table) {
  if (!table || table->version != CVN_PLUGIN_ABI_VERSION || table->size < sizeof(CVNPluginHostTable) ||
      !table->pixelBufferDescribe) {
    return NULL;
  }
  host = table;
  pthread_mutex_lock(&devicesMutex);
  deviceCountValue = 0;
  pthread_mutex_unlock(&devicesMutex);
  return &kTable;
}
