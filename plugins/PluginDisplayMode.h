/* A display mode as the plug-ins here describe theirs, and its form across
 * the plug-in interface. Header only: the plug-ins link no project library. */
#ifndef PLUGINS_PLUGIN_DISPLAY_MODE_H
#define PLUGINS_PLUGIN_DISPLAY_MODE_H

#include <stdio.h>
#include <string.h>

#include "pluginframework/CVNPluginABI.h"

typedef struct PluginMode {
  const char* name;
  int64_t frameDuration;
  int32_t timeScale;
  int32_t width;
  int32_t height;
  int32_t fieldDominance;
} PluginMode;

static inline void pluginModeDescribe(const PluginMode* mode, CVNPluginDisplayMode* out) {
  memset(out, 0, sizeof(*out));
  snprintf(out->name, sizeof(out->name), "%s", mode->name);
  out->frameDuration = mode->frameDuration;
  out->timeScale = mode->timeScale;
  out->width = mode->width;
  out->height = mode->height;
  out->fieldDominance = mode->fieldDominance;
}

#endif
