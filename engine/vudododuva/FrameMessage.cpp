#include "engine/vudododuva/FrameMessage.h"


#include "engine/vudododuva/VudodoDuvaProtocol.h"
#include "platform/KeyedArchive.h"

namespace engine::vudododuva {
namespace {

inline constexpr const char* kDictionaryClassName = "Dictionary";

// A dictionary as the top object of a keyed archive: each entry a value.
class ArchivedDictionary final : public platform::Archivable {
 public:
  explicit ArchivedDictionary(platform::Dictionary entries) : entries_(std::move(entries)) {}
  std::string className() const override { return kDictionaryClassName; }
  void encode(platform::KeyedArchiveEncoder& encoder) const override {
    for (const auto& [key, value] : entries_) encoder.encodeValue(key, value);
  }
  const platform::Dictionary& entries() const { return entries_; }

 private:
  platform::Dictionary entries_;
};

const platform::KeyedArchiveRegistry& frameMessageRegistry() {
  static const auto* registry = [] {
    auto* made = new platform::KeyedArchiveRegistry;
    made->registerClass(kDictionaryClassName,
                        [](const platform::KeyedArchiveDecoder& decoder)
                            -> platform::Result<std::shared_ptr<platform::Archivable>> {
                          platform::Dictionary entries;
                          for (const char* key : {kFrameNumberKey, kFrameOffsetKey, kFrameSamplesKey, kFrameCCOffsetKey,
                                                  kFrameVPTSKey, kFrameAPTSKey, kFrameTimecodeKey}) {
                            auto value = decoder.requireValue(key, platform::Value::Type::Integer);
                            if (!value.ok()) return value.error();
                            entries[key] = *value;
                          }
                          return std::shared_ptr<platform::Archivable>(std::make_shared<ArchivedDictionary>(std::move(entries)));
                        });
    return made;
  }();
  return *registry;
}

// Unsigned values travel as their 64 bits; all ones reads back as -1.
std::int64_t bits(std::uint64_t value) { return static_cast<std::int64_t>(value); }

}  // namespace

platform::Result<std::string> archivedFrameMessage(const FrameMessage& message) {
  return platform::archivedData(ArchivedDictionary({
      {kFrameNumberKey, platform::Value(std::int64_t{message.number})},
      {kFrameOffsetKey, platform::Value(bits(message.offset))},
      {kFrameSamplesKey, platform::Value(bits(message.samples))},
      {kFrameCCOffsetKey, platform::Value(bits(message.ccOffset))},
      {kFrameVPTSKey, platform::Value(message.vpts)},
      {kFrameAPTSKey, platform::Value(message.apts)},
      {kFrameTimecodeKey, platform::Value(std::int64_t{message.timecode})},
  }));
}

platform::Result<FrameMessage> unarchiveFrameMessage(std::string_view bytes) {
  auto object = platform::unarchiveAs<ArchivedDictionary>(bytes, frameMessageRegistry());
  if (!object.ok()) return object.error();
  const platform::Dictionary& entries = (*object)->entries();
  auto integer = [&](const char* key) { return *entries.at(key).integer(); };
  FrameMessage message;
  message.number = static_cast<std::uint32_t>(integer(kFrameNumberKey));
  message.offset = static_cast<std::uint64_t>(integer(kFrameOffsetKey));
  message.samples = static_cast<std::uint64_t>(integer(kFrameSamplesKey));
  message.ccOffset = static_cast<std::uint64_t>(integer(kFrameCCOffsetKey));
  message.vpts = integer(kFrameVPTSKey);
  message.apts = integer(kFrameAPTSKey);
  message.timecode = static_cast<std::uint32_t>(integer(kFrameTimecodeKey));
  return message;
}

}  // namespace engine::vudododuva
