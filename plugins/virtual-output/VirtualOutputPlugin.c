/* Outputs without hardware (device type 3): each virtual output pulls frame n
 * from the host at start + n x frame duration on the host's clock (or as fast
 * as the host answers when free-running) and asks for the audio the 48 kHz
 * cadence gives that frame. */
#include <math.h>
#include <pthread.h>
#include <stdio.h>
#include <string.h>

#include "pluginframework/CVNPluginABI.h"
#include "plugins/PluginDisplayMode.h"

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
  int32_t running;
  int32_t cancelled; /* atomic */
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
  const int64_t start = host->clockNanoseconds(host->context);
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
    if (host->pullFrame(host->context, output, &frame) == 0 && frame.picture) host->releasePixelBuffer(frame.picture);
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
  }
  pthread_mutex_unlock(&output->mutex);
  return result;
}

static int32_t outputStartPlayback(CVNPluginOutput* output, char* error, size_t length) {
  if (output->running) return 0;
  __atomic_store_n(&output->cancelled, 0, __ATOMIC_RELEASE);
  if (pthread_create(&output->thread, NULL, pullLoop, output) != 0) {
    snprintf(error, length, "Virtual output: the playback thread could not start");
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
  if (!table || table->version != CVN_PLUGIN_ABI_VERSION || table->size < sizeof(CVNPluginHostTable)) return NULL;
  host = table;
  pthread_mutex_lock(&devicesMutex);
  deviceCountValue = 0;
  pthread_mutex_unlock(&devicesMutex);
  return &kTable;
}
