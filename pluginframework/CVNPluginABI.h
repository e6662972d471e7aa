/* The binary interface between the host and a device plug-in (a shared object
 * in the "PlugIns" folder). Plain C: no C++ type or exception crosses, and a
 * plug-in links no library of the host. The plug-in exports one entry,
 * CVNPluginEntry, which takes the host's table and answers its own; both
 * tables start with their size and version, and the host refuses a plug-in
 * whose version differs or whose table is shorter than it needs.
 *
 * Handles (devices, inputs, outputs, pixel buffers) are opaque pointers owned
 * by the side that made them. Pixel buffers are the host's memfd-backed
 * buffers: the plug-in asks the host for one, writes it, and hands it back
 * with a frame (the host then owns it).
 *
 * A plug-in runs in the host's process: a plug-in that crashes takes the host
 * down with it. Nothing here can contain that; install only trusted plug-ins.
 *
 * Threads: the host calls the plug-in from any thread, one call at a time per
 * input or output; the plug-in calls the host's table from its own threads. */
#ifndef CVN_PLUGIN_ABI_H
#define CVN_PLUGIN_ABI_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define CVN_PLUGIN_ABI_VERSION 1u
#define CVN_PLUGIN_ENTRY_SYMBOL "CVNPluginEntry"

typedef struct CVNPluginDevice CVNPluginDevice;
typedef struct CVNPluginInput CVNPluginInput;
typedef struct CVNPluginOutput CVNPluginOutput;
typedef struct CVNPluginPixelBuffer CVNPluginPixelBuffer;

/* A video format: frame duration over a time scale, field dominance 0 unknown,
 * 1 bottom first, 2 top first, 3 progressive. */
typedef struct CVNPluginDisplayMode {
  char name[64];
  int64_t frameDuration;
  int32_t timeScale;
  int32_t width;
  int32_t height;
  int32_t fieldDominance;
} CVNPluginDisplayMode;

/* One ancillary packet of a frame's vertical blanking. */
typedef struct CVNPluginVANCPacket {
  uint16_t lineNumber;
  uint8_t did;
  uint8_t sdid;
  uint8_t length;
  const uint8_t* data;
} CVNPluginVANCPacket;

/* One captured frame. The picture's ownership passes to the host; every other
 * pointer is only read during the call. */
typedef struct CVNPluginInputFrame {
  uint32_t size; /* sizeof(CVNPluginInputFrame) */
  CVNPluginPixelBuffer* picture;
  int64_t frameIndex;
  int64_t frameDuration; /* over timeScale */
  int32_t timeScale;
  const int16_t* audio; /* interleaved signed 16-bit, or NULL */
  uint32_t audioFrames;
  uint32_t audioChannels;
  double audioSampleRate;
  const uint8_t* captions; /* cc_data triplets (3 bytes each), or NULL */
  uint32_t captionsLength;
  const CVNPluginVANCPacket* vanc; /* or NULL */
  uint32_t vancCount;
} CVNPluginInputFrame;

/* One frame an output pulls from the host: the plug-in fills in the index,
 * its due time and the audio it wants; the host gives the picture (released
 * by the plug-in) and writes the audio (interleaved signed 16-bit). */
typedef struct CVNPluginOutputFrame {
  uint32_t size;
  int64_t frameIndex;
  int64_t dueNanoseconds;
  CVNPluginPixelBuffer* picture;
  int16_t* audio;
  uint32_t audioFrames;
  uint32_t audioChannels;
} CVNPluginOutputFrame;

typedef struct CVNPluginHostTable {
  uint32_t size;
  uint32_t version;
  void* context;
  void (*log)(void* context, const char* message, int32_t level, int32_t show);
  void (*deviceAppeared)(void* context, CVNPluginDevice* device);
  void (*deviceDisappeared)(void* context, CVNPluginDevice* device);
  void (*deviceConfigurationWillChange)(void* context, int32_t forcingStreamToStop);
  void (*deviceConfigurationChanged)(void* context);
  /* Monotonic time of the host's clock, nanoseconds. */
  int64_t (*clockNanoseconds)(void* context);
  /* Blocks until the host's clock reaches the time or *cancelled becomes
   * non-zero (read atomically); answers 0 when the time was reached. A thread
   * that sets the flag calls wakeWaiters so the wait sees it. */
  int32_t (*waitUntilNanoseconds)(void* context, int64_t deadline, const int32_t* cancelled);
  void (*wakeWaiters)(void* context);
  CVNPluginPixelBuffer* (*createPixelBuffer)(void* context, uint32_t width, uint32_t height, uint32_t fourCC);
  uint8_t* (*pixelBufferBaseAddress)(CVNPluginPixelBuffer* buffer);
  size_t (*pixelBufferBytesPerRow)(CVNPluginPixelBuffer* buffer);
  void (*releasePixelBuffer)(CVNPluginPixelBuffer* buffer);
  /* Captured frames: `input` is the handle the plug-in gave out. */
  void (*inputDidProduceFrame)(void* context, CVNPluginInput* input, const CVNPluginInputFrame* frame);
  void (*inputFormatDidChange)(void* context, CVNPluginInput* input);
  void (*inputConnectionDidChange)(void* context, CVNPluginInput* input);
  /* An output asks for its next frame; answers 0 when one was given. */
  int32_t (*pullFrame)(void* context, CVNPluginOutput* output, CVNPluginOutputFrame* frame);
  /* A buffer's size and pixel format; answers 0 when the handle is a buffer. */
  int32_t (*pixelBufferDescribe)(CVNPluginPixelBuffer* buffer, uint32_t* width, uint32_t* height, uint32_t* fourCC);
} CVNPluginHostTable;

typedef struct CVNPluginDeviceTable {
  uint32_t size;
  size_t (*inputCount)(CVNPluginDevice* device);
  CVNPluginInput* (*inputAt)(CVNPluginDevice* device, size_t index);
  size_t (*outputCount)(CVNPluginDevice* device);
  CVNPluginOutput* (*outputAt)(CVNPluginDevice* device, size_t index);
} CVNPluginDeviceTable;

/* Strings answered by a plug-in stay valid until the handle goes away. */
typedef struct CVNPluginInputTable {
  uint32_t size;
  const char* (*name)(CVNPluginInput* input);
  const char* (*uniqueID)(CVNPluginInput* input);
  int32_t (*isRunning)(CVNPluginInput* input);
  int32_t (*displayMode)(CVNPluginInput* input, CVNPluginDisplayMode* mode);
  const char* (*connectionDescription)(CVNPluginInput* input);
  uint32_t (*audioChannels)(CVNPluginInput* input);
  uint32_t (*bufferFormat)(CVNPluginInput* input);
  /* Settings as key and value texts; answers 0 when the key is known. */
  int32_t (*setSetting)(CVNPluginInput* input, const char* key, const char* value);
  /* Answers 0 when started, else writes the reason into `error`. */
  int32_t (*startCapture)(CVNPluginInput* input, char* error, size_t errorLength);
  void (*stopCapture)(CVNPluginInput* input, const char* reason);
  void (*setIgnoreLogs)(CVNPluginInput* input, int32_t ignore);
} CVNPluginInputTable;

typedef struct CVNPluginOutputTable {
  uint32_t size;
  const char* (*name)(CVNPluginOutput* output);
  const char* (*uniqueID)(CVNPluginOutput* output);
  int32_t (*isRunning)(CVNPluginOutput* output);
  int32_t (*displayMode)(CVNPluginOutput* output, CVNPluginDisplayMode* mode);
  uint32_t (*bufferFormat)(CVNPluginOutput* output);
  uint32_t (*audioChannels)(CVNPluginOutput* output);
  int32_t (*setSetting)(CVNPluginOutput* output, const char* key, const char* value);
  int32_t (*startPlayback)(CVNPluginOutput* output, char* error, size_t errorLength);
  void (*stopPlayback)(CVNPluginOutput* output, const char* reason);
} CVNPluginOutputTable;

typedef struct CVNPluginTable {
  uint32_t size;
  uint32_t version;
  const char* (*pluginName)(void);
  const char* (*pluginVersionString)(void);
  const char* (*apiVersionString)(void);
  const char* (*SDKVersionString)(void); /* may be NULL */
  int32_t (*driversSupportsARM64)(void);
  int32_t (*driverIsInstalled)(void);
  int32_t (*driverVersionSupported)(void);
  int32_t (*driverIsUpToDate)(void);
  int32_t (*deviceType)(void);
  void (*searchCards)(void);
  void (*stopSearchingCards)(void);
  size_t (*deviceCount)(void);
  CVNPluginDevice* (*deviceAt)(size_t index);
  /* Virtual-output families only (type 3); NULL otherwise. */
  CVNPluginDevice* (*createVirtualOutput)(const char* name, const char* uniqueID, int32_t hidden);
  /* Stops every thread of the plug-in; the host calls it before unloading. */
  void (*shutdown)(void);
  const CVNPluginDeviceTable* device;
  const CVNPluginInputTable* input;
  const CVNPluginOutputTable* output;
} CVNPluginTable;

typedef const CVNPluginTable* (*CVNPluginEntryFunction)(const CVNPluginHostTable* host);

#ifdef __cplusplus
}
#endif

#endif
