#include "foundation/ManagedObjectNNV.h"

#include <array>

#include "platform/Clock.h"

namespace foundation {
namespace {

constexpr std::array<std::string_view, 4> kFlagKeys = {"clipInfoOnline", "clipInfoHasInPoint", "clipInfoHasOutPoint",
                                                       "clipInfoDropFrame"};

}  // namespace

platform::Value catalogueValueForNone(std::string_view key) {
  for (std::string_view flag : kFlagKeys) {
    if (key == flag) return platform::Value(false);
  }
  if (key == "clipInfoLastModificationDate")
    return platform::Value(std::chrono::floor<std::chrono::microseconds>(platform::Clock::current().wallNow()));
  if (key == "eventInfoColor") return platform::Value();
  return platform::Value(std::string());
}

void setNoNillCatalogueValue(platform::Dictionary& attributes, std::string key, platform::Value value) {
  if (value.isNone()) value = catalogueValueForNone(key);
  if (value.isNone()) {
    attributes.erase(key);
    return;
  }
  attributes.insert_or_assign(std::move(key), std::move(value));
}

}  // namespace foundation
