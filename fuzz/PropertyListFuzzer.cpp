// Feeds arbitrary bytes to the property-list reader. Whatever it accepts must
// survive a write and a second read unchanged (dates lose their fraction of a
// second, NaN stays NaN), and the written layout must be a fixed point. Only
// values the writer refuses outright are let through. Whatever the one-pass
// XML reader takes, the tree reader must read to the same value.

#include <chrono>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "platform/PropertyList.h"
#include "platform/PropertyListDetail.h"

namespace {

using platform::Value;

// `written` as the writer stores `original` (dates in whole seconds when
// `wholeSeconds`, else unchanged).
bool sameAfterWriting(const Value& original, const Value& written, bool wholeSeconds = true) {
  if (original.isReal() && written.isReal() && std::isnan(*original.real())) return std::isnan(*written.real());
  if (original.isDate() && written.isDate() && wholeSeconds) {
    return std::chrono::floor<std::chrono::seconds>(*original.date()) == *written.date();
  }
  if (original.type() != written.type()) return false;
  if (const platform::Array* array = original.array()) {
    const platform::Array& other = *written.array();
    if (array->size() != other.size()) return false;
    for (std::size_t i = 0; i < array->size(); ++i) {
      if (!sameAfterWriting((*array)[i], other[i], wholeSeconds)) return false;
    }
    return true;
  }
  if (const platform::Dictionary* dictionary = original.dictionary()) {
    const platform::Dictionary& other = *written.dictionary();
    if (dictionary->size() != other.size()) return false;
    for (auto i = dictionary->begin(), j = other.begin(); i != dictionary->end(); ++i, ++j) {
      if (i->first != j->first || !sameAfterWriting(i->second, j->second, wholeSeconds)) return false;
    }
    return true;
  }
  return original == written;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  if (std::optional<Value> onePass = platform::detail::readPlainXmlPropertyList(input)) {
    platform::Result<Value> tree = platform::detail::readXmlPropertyList(input);
    if (!tree.ok() || !sameAfterWriting(*onePass, *tree, false)) __builtin_trap();
  }
  platform::Result<Value> first = platform::readPropertyList(input);
  if (!first.ok()) return 0;

  platform::Result<std::string> written = platform::writePropertyList(*first);
  if (!written.ok()) {
    if (!written.error().is(platform::kPropertyListErrorDomain, platform::PropertyListErrorCode::UnsupportedValue)) {
      __builtin_trap();
    }
    return 0;
  }
  platform::Result<Value> second = platform::readPropertyList(*written);
  if (!second.ok() || !sameAfterWriting(*first, *second)) __builtin_trap();

  platform::Result<std::string> rewritten = platform::writePropertyList(*second);
  if (!rewritten.ok() || *rewritten != *written) __builtin_trap();
  return 0;
}
