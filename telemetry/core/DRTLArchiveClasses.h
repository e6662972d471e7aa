#pragma once
// Registers the decoders of the telemetry core's archivable classes.

#include "platform/KeyedArchive.h"

namespace telemetry::core {

void registerCoreArchiveClasses(platform::KeyedArchiveRegistry& registry);

// A decoder that makes a T and lets it read its keys.
template <typename T>
platform::KeyedArchiveRegistry::Decoder decoderOf() {
  return [](const platform::KeyedArchiveDecoder& decoder) -> platform::Result<std::shared_ptr<platform::Archivable>> {
    auto object = std::make_shared<T>();
    object->decode(decoder);
    return std::shared_ptr<platform::Archivable>(std::move(object));
  };
}

}  // namespace telemetry::core
