/* The pictures and sound of one fake input, made by filter graphs: a test
 * pattern (testsrc2) at the input's size and rate in '2vuy', and a 1 kHz sine
 * tone. Graphs are made on first use and again when the mode or sample rate
 * changes. Used by one capture thread. */
#ifndef PLUGINS_FAKE_INPUT_TEST_SIGNAL_H
#define PLUGINS_FAKE_INPUT_TEST_SIGNAL_H

#include <stddef.h>
#include <stdint.h>

#include "plugins/PluginDisplayMode.h"

typedef struct TestSignal TestSignal;

TestSignal* testSignalCreate(void);
void testSignalFree(TestSignal* signal);
/* The next picture of `mode` into rows of '2vuy'; answers 0, or 1 with the
 * reason in `error` (the rows are left as they were). */
int testSignalPicture(TestSignal* signal, const PluginMode* mode, uint8_t* base, size_t bytesPerRow, char* error,
                      size_t errorLength);
/* The next `count` samples of the tone at `rate`, 16-bit mono. */
int testSignalSound(TestSignal* signal, int32_t rate, int16_t* samples, uint32_t count, char* error,
                    size_t errorLength);

#endif
