/* A capture card without hardware: one device whose inputs produce a test
 * pattern and a 1 kHz tone from filter graphs (TestSignal.h), paced by the
 * host's clock on a capture thread of each input. Settings script what a real card does:
 * outages, format and connection changes, captions and SCTE-104 packets on
 * chosen frames, and pictures in another format than the input declares. */
#include <math.h>
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "pluginframework/CVNPluginABI.h"
#include "plugins/PluginDisplayMode.h"
#include "plugins/fake-input/TestSignal.h"

#define FAKE_INPUT_COUNT 2
#define FAKE_MAX_AUDIO 4096
#define FAKE_MAX_CHANNELS 16

static const PluginMode kModes[] = {
    {"PAL", 1, 25, 720, 576, 1},          {"NTSC", 1001, 30000, 720, 486, 1},
    {"720p50", 1, 50, 1280, 720, 3},      {"1080i50", 1, 25, 1920, 1080, 2},
    {"1080p25", 1, 25, 1920, 1080, 3},    {"1080p2997", 1001, 30000, 1920, 1080, 3},
    {"1080p50", 1, 50, 1920, 1080, 3},    {"1080p5994", 1001, 60000, 1920, 1080, 3},
};

struct CVNPluginInput {
  char name[32];
  char uniqueID[32];
  pthread_mutex_t mutex; /* guards the settings below against the capture thread */
  const PluginMode* mode;
  const PluginMode* changeToMode;
  int64_t changeAtFrame;
  int64_t outageStart, outageLength;
  int64_t scteFrame;
  int32_t captions;
  int32_t freeRunning;
  uint32_t audioChannels;
  double audioSampleRate;
  uint32_t pictureFormat;
  char connection[64];
  int32_t ignoreLogs;
  TestSignal* signal; /* the capture thread's own, like the audio below */
  int16_t audio[FAKE_MAX_AUDIO * FAKE_MAX_CHANNELS];
  int32_t loggedSignalError;
  int32_t running;
  int32_t cancelled; /* atomic */
  pthread_t thread;
};

struct CVNPluginDevice {
  CVNPluginInput inputs[FAKE_INPUT_COUNT];
};

static const CVNPluginHostTable* host;
static CVNPluginDevice device;
static int searched;

static uint32_t fourcc(const char* text) {
  return ((uint32_t)(unsigned char)text[0] << 24) | ((uint32_t)(unsigned char)text[1] << 16) |
         ((uint32_t)(unsigned char)text[2] << 8) | (uint32_t)(unsigned char)text[3];
}

static const PluginMode* modeNamed(const char* name) {
  for (size_t i = 0; i < sizeof(kModes) / sizeof(kModes[0]); ++i) {
    if (strcmp(kModes[i].name, name) == 0) return &kModes[i];
  }
  return NULL;
}

static void logLine(CVNPluginInput* input, const char* text, int32_t level) {
  if (!input->ignoreLogs) host->log(host->context, text, level, 0);
}

static int64_t cadence(int64_t frame, const PluginMode* mode, double rate) {
  return (int64_t)floor((double)frame * rate * (double)mode->frameDuration / mode->timeScale + 1e-9);
}

static void produceFrame(CVNPluginInput* input, int64_t index) {
  pthread_mutex_lock(&input->mutex);
  if (input->changeToMode && index == input->changeAtFrame) {
    input->mode = input->changeToMode;
    input->changeToMode = NULL;
    pthread_mutex_unlock(&input->mutex);
    host->inputFormatDidChange(host->context, input);
    pthread_mutex_lock(&input->mutex);
  }
  const PluginMode* mode = input->mode;
  const int out = index >= input->outageStart && index < input->outageStart + input->outageLength;
  const uint32_t format = input->pictureFormat;
  const uint32_t channels = input->audioChannels;
  const double rate = input->audioSampleRate;
  const int captions = input->captions;
  const int scte = index == input->scteFrame;
  pthread_mutex_unlock(&input->mutex);
  if (out) return;

  CVNPluginPixelBuffer* picture = host->createPixelBuffer(host->context, (uint32_t)mode->width,
                                                          (uint32_t)mode->height, format);
  if (!picture) {
    logLine(input, "Fake input: no picture buffer", 1);
    return;
  }
  char error[192] = "";
  int signalFailed = 0;
  /* Pictures in another format than declared stay blank: the host drops them. */
  if (format == fourcc("2vuy")) {
    signalFailed = testSignalPicture(input->signal, mode, host->pixelBufferBaseAddress(picture),
                                     host->pixelBufferBytesPerRow(picture), error, sizeof(error));
  }
  int16_t tone[FAKE_MAX_AUDIO];
  int16_t* audio = input->audio;
  int64_t frames = cadence(index + 1, mode, rate) - cadence(index, mode, rate);
  if (frames > FAKE_MAX_AUDIO) frames = FAKE_MAX_AUDIO;
  if (!signalFailed && frames > 0) {
    signalFailed = testSignalSound(input->signal, (int32_t)rate, tone, (uint32_t)frames, error, sizeof(error));
  }
  if (signalFailed) {
    memset(tone, 0, sizeof(tone));
    if (!input->loggedSignalError) logLine(input, error, 1);
    input->loggedSignalError = 1;
  }
  for (int64_t i = 0; i < frames; ++i) {
    for (uint32_t c = 0; c < channels; ++c) audio[i * channels + c] = tone[i];
  }
  static const uint8_t cc[6] = {0xfc, 0x94, 0x20, 0xfd, 0x80, 0x80};
  static const uint8_t splice[8] = {0xff, 0xff, 0x00, 0x08, 0x00, 0x00, 0x01, 0x01};
  static const uint8_t other[4] = {0x01, 0x02, 0x03, 0x04};
  const CVNPluginVANCPacket packets[3] = {{9, 0x41, 0x07, sizeof(splice), splice},
                                          {10, 0x41, 0x07, sizeof(splice), splice},
                                          {11, 0x43, 0x02, sizeof(other), other}};
  CVNPluginInputFrame frame;
  memset(&frame, 0, sizeof(frame));
  frame.size = sizeof(frame);
  frame.picture = picture;
  frame.frameIndex = index;
  frame.frameDuration = mode->frameDuration;
  frame.timeScale = mode->timeScale;
  frame.audio = channels ? audio : NULL;
  frame.audioFrames = (uint32_t)frames;
  frame.audioChannels = channels;
  frame.audioSampleRate = rate;
  frame.captions = captions ? cc : NULL;
  frame.captionsLength = captions ? sizeof(cc) : 0;
  frame.vanc = scte ? packets : NULL;
  frame.vancCount = scte ? 3 : 0;
  host->inputDidProduceFrame(host->context, input, &frame);
}

static void* captureLoop(void* argument) {
  CVNPluginInput* input = argument;
  input->signal = testSignalCreate();
  input->loggedSignalError = 0;
  const int64_t start = host->clockNanoseconds(host->context);
  for (int64_t index = 0; !__atomic_load_n(&input->cancelled, __ATOMIC_ACQUIRE); ++index) {
    pthread_mutex_lock(&input->mutex);
    const PluginMode* mode = input->mode;
    const int freeRunning = input->freeRunning;
    pthread_mutex_unlock(&input->mutex);
    if (!freeRunning) {
      const int64_t due = start + (int64_t)((double)index * 1e9 * (double)mode->frameDuration / mode->timeScale);
      if (host->waitUntilNanoseconds(host->context, due, &input->cancelled) != 0) continue;
    }
    if (input->signal) produceFrame(input, index);
  }
  testSignalFree(input->signal);
  input->signal = NULL;
  return NULL;
}

static const char* inputName(CVNPluginInput* input) { return input->name; }
static const char* inputUniqueID(CVNPluginInput* input) { return input->uniqueID; }
static int32_t inputIsRunning(CVNPluginInput* input) { return __atomic_load_n(&input->running, __ATOMIC_ACQUIRE); }

static int32_t inputDisplayMode(CVNPluginInput* input, CVNPluginDisplayMode* out) {
  pthread_mutex_lock(&input->mutex);
  const PluginMode* mode = input->mode;
  pthread_mutex_unlock(&input->mutex);
  pluginModeDescribe(mode, out);
  return 0;
}

static const char* inputConnection(CVNPluginInput* input) { return input->connection; }
static uint32_t inputAudioChannels(CVNPluginInput* input) { return input->audioChannels; }
static uint32_t inputBufferFormat(CVNPluginInput* input) { (void)input; return fourcc("2vuy"); }

static int32_t inputSetSetting(CVNPluginInput* input, const char* key, const char* value) {
  int32_t known = 0;
  int connectionChanged = 0;
  pthread_mutex_lock(&input->mutex);
  if (strcmp(key, "displayModeName") == 0 && modeNamed(value)) {
    input->mode = modeNamed(value);
  } else if (strcmp(key, "changeToDisplayMode") == 0 && modeNamed(value)) {
    input->changeToMode = modeNamed(value);
  } else if (strcmp(key, "changeAtFrame") == 0) {
    input->changeAtFrame = atoll(value);
  } else if (strcmp(key, "outageStart") == 0) {
    input->outageStart = atoll(value);
  } else if (strcmp(key, "outageLength") == 0) {
    input->outageLength = atoll(value);
  } else if (strcmp(key, "scte104Frame") == 0) {
    input->scteFrame = atoll(value);
  } else if (strcmp(key, "captions") == 0) {
    input->captions = atoi(value) != 0;
  } else if (strcmp(key, "freeRunning") == 0) {
    input->freeRunning = atoi(value) != 0;
  } else if (strcmp(key, "audioChannels") == 0 && atoi(value) >= 0 && atoi(value) <= FAKE_MAX_CHANNELS) {
    input->audioChannels = (uint32_t)atoi(value);
  } else if (strcmp(key, "audioSampleRate") == 0 && atof(value) >= 8000 && atof(value) <= 192000) {
    input->audioSampleRate = atof(value);
  } else if (strcmp(key, "pictureFormat") == 0 && strlen(value) == 4) {
    input->pictureFormat = fourcc(value);
  } else if (strcmp(key, "connection") == 0) {
    snprintf(input->connection, sizeof(input->connection), "%s", value);
    connectionChanged = 1;
  } else {
    known = 1;
  }
  pthread_mutex_unlock(&input->mutex);
  if (connectionChanged) host->inputConnectionDidChange(host->context, input);
  return known;
}

static int32_t inputStartCapture(CVNPluginInput* input, char* error, size_t errorLength) {
  if (input->running) return 0;
  __atomic_store_n(&input->cancelled, 0, __ATOMIC_RELEASE);
  if (pthread_create(&input->thread, NULL, captureLoop, input) != 0) {
    snprintf(error, errorLength, "Fake input: the capture thread could not start");
    return 1;
  }
  __atomic_store_n(&input->running, 1, __ATOMIC_RELEASE);
  logLine(input, "Fake input: capture started", 2);
  return 0;
}

static void inputStopCapture(CVNPluginInput* input, const char* reason) {
  (void)reason;
  if (!input->running) return;
  __atomic_store_n(&input->cancelled, 1, __ATOMIC_RELEASE);
  host->wakeWaiters(host->context);
  pthread_join(input->thread, NULL);
  __atomic_store_n(&input->running, 0, __ATOMIC_RELEASE);
  logLine(input, "Fake input: capture stopped", 2);
}

static void inputSetIgnoreLogs(CVNPluginInput* input, int32_t ignore) { input->ignoreLogs = ignore; }

static size_t deviceInputCount(CVNPluginDevice* d) { (void)d; return FAKE_INPUT_COUNT; }
static CVNPluginInput* deviceInputAt(CVNPluginDevice* d, size_t i) { return i < FAKE_INPUT_COUNT ? &d->inputs[i] : NULL; }
static size_t deviceOutputCount(CVNPluginDevice* d) { (void)d; return 0; }
static CVNPluginOutput* deviceOutputAt(CVNPluginDevice* d, size_t i) { (void)d; (void)i; return NULL; }

static const char* pluginName(void) { return "Fake Input"; }
static const char* pluginVersion(void) { return "1.0"; }
static const char* apiVersion(void) { return "1.0"; }
static int32_t yes(void) { return 1; }
static int32_t deviceType(void) { return 4; }
static void searchCards(void) { searched = 1; }
static void stopSearchingCards(void) { searched = 0; }
static size_t deviceCount(void) { return searched ? 1 : 0; }
static CVNPluginDevice* deviceAt(size_t index) { return searched && index == 0 ? &device : NULL; }

static void shutdownPlugin(void) {
  for (size_t i = 0; i < FAKE_INPUT_COUNT; ++i) inputStopCapture(&device.inputs[i], "shutdown");
}

static const CVNPluginDeviceTable kDeviceTable = {sizeof(CVNPluginDeviceTable), deviceInputCount, deviceInputAt,
                                                  deviceOutputCount, deviceOutputAt};
static const CVNPluginInputTable kInputTable = {
    sizeof(CVNPluginInputTable), inputName,          inputUniqueID,      inputIsRunning,   inputDisplayMode,
    inputConnection,             inputAudioChannels, inputBufferFormat,  inputSetSetting,  inputStartCapture,
    inputStopCapture,            inputSetIgnoreLogs};
static const CVNPluginTable kTable = {sizeof(CVNPluginTable), CVN_PLUGIN_ABI_VERSION,
                                      pluginName, pluginVersion, apiVersion, NULL, yes, yes, yes, yes, deviceType,
                                      searchCards, stopSearchingCards, deviceCount, deviceAt, NULL, shutdownPlugin,
                                      &kDeviceTable, &kInputTable, NULL};

__attribute__((visibility("default"))) const CVNPluginTable* CVNPluginEntry(const CVNPluginHostTable* table) {
  if (!table || table->version != CVN_PLUGIN_ABI_VERSION || table->size < sizeof(CVNPluginHostTable)) return NULL;
  host = table;
  for (size_t i = 0; i < FAKE_INPUT_COUNT; ++i) {
    CVNPluginInput* input = &device.inputs[i];
    memset(input, 0, sizeof(*input));
    pthread_mutex_init(&input->mutex, NULL);
    snprintf(input->name, sizeof(input->name), "Fake Input %zu", i + 1);
    snprintf(input->uniqueID, sizeof(input->uniqueID), "fake-input-%zu", i + 1);
    input->mode = modeNamed("1080p50");
    input->changeAtFrame = -1;
    input->outageStart = -1;
    input->scteFrame = -1;
    input->audioChannels = 2;
    input->audioSampleRate = 48000.0;
    input->pictureFormat = fourcc("2vuy");
  }
  return &kTable;
}
