/* A plug-in whose answers come from compile definitions, so one source gives
 * every case of the loading table: driver installed, supported, up to date,
 * no entry, another interface version, a short table. Its one device has
 * the inputs named by TEST_INPUTS. */
#include <stddef.h>
#include <string.h>

#include "pluginframework/CVNPluginABI.h"

#ifndef TEST_NAME
#define TEST_NAME "Test"
#endif
#ifndef TEST_INSTALLED
#define TEST_INSTALLED 1
#endif
#ifndef TEST_SUPPORTED
#define TEST_SUPPORTED 1
#endif
#ifndef TEST_UP_TO_DATE
#define TEST_UP_TO_DATE 1
#endif
#ifndef TEST_ABI_VERSION
#define TEST_ABI_VERSION CVN_PLUGIN_ABI_VERSION
#endif
#ifndef TEST_TABLE_SIZE
#define TEST_TABLE_SIZE sizeof(CVNPluginTable)
#endif
#ifndef TEST_DRIVER_VERSION
#define TEST_DRIVER_VERSION "7.1"
#endif

struct CVNPluginInput {
  const char* name;
};
struct CVNPluginDevice {
  CVNPluginInput inputs[2];
};

static CVNPluginDevice device = {{{TEST_NAME " In 1"}, {TEST_NAME " In 2"}}};

static const char* name(void) { return TEST_NAME; }
static const char* version(void) { return "2.0"; }
static const char* api(void) { return TEST_DRIVER_VERSION; }
static const char* sdk(void) { return "12.4"; }
static int32_t yes(void) { return 1; }
static int32_t installed(void) { return TEST_INSTALLED; }
static int32_t supported(void) { return TEST_SUPPORTED; }
static int32_t upToDate(void) { return TEST_UP_TO_DATE; }
static int32_t type(void) { return 1; }
static void nothing(void) {}
static size_t deviceCount(void) { return 1; }
static CVNPluginDevice* deviceAt(size_t i) { return i == 0 ? &device : NULL; }
static size_t inputCount(CVNPluginDevice* d) { (void)d; return 2; }
static CVNPluginInput* inputAt(CVNPluginDevice* d, size_t i) { return i < 2 ? &d->inputs[i] : NULL; }
static size_t none(CVNPluginDevice* d) { (void)d; return 0; }
static CVNPluginOutput* noOutput(CVNPluginDevice* d, size_t i) { (void)d; (void)i; return NULL; }
static const char* inputName(CVNPluginInput* input) { return input->name; }
static int32_t notRunning(CVNPluginInput* input) { (void)input; return 0; }
static int32_t noMode(CVNPluginInput* input, CVNPluginDisplayMode* mode) { (void)input; (void)mode; return 1; }
static const char* noConnection(CVNPluginInput* input) { (void)input; return ""; }
static uint32_t stereo(CVNPluginInput* input) { (void)input; return 2; }
static uint32_t format(CVNPluginInput* input) { (void)input; return 0x32767579; }
static int32_t unknownSetting(CVNPluginInput* input, const char* key, const char* value) {
  (void)input; (void)key; (void)value; return 1;
}
static int32_t refuseStart(CVNPluginInput* input, char* error, size_t length) {
  (void)input;
  strncpy(error, "no hardware", length);
  return 1;
}
static void stop(CVNPluginInput* input, const char* reason) { (void)input; (void)reason; }
static void ignore(CVNPluginInput* input, int32_t value) { (void)input; (void)value; }

static const CVNPluginDeviceTable deviceTable = {sizeof(CVNPluginDeviceTable), inputCount, inputAt, none, noOutput};
static const CVNPluginInputTable inputTable = {sizeof(CVNPluginInputTable), inputName, inputName, notRunning, noMode,
                                               noConnection, stereo, format, unknownSetting, refuseStart, stop, ignore};
static const CVNPluginTable table __attribute__((unused)) = {TEST_TABLE_SIZE, TEST_ABI_VERSION, name, version, api, sdk, yes, installed,
                                     supported, upToDate, type, nothing, nothing, deviceCount, deviceAt, NULL, nothing,
                                     &deviceTable, &inputTable, NULL};

#ifndef TEST_NO_ENTRY
__attribute__((visibility("default"))) const CVNPluginTable* CVNPluginEntry(const CVNPluginHostTable* host) {
  (void)host;
  return &table;
}
#endif
