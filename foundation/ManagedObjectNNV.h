#pragma once
// No-nil writes of catalogue attributes. A catalogue record never stores
// "nothing": a none value is replaced by a default that depends on the
// attribute (NO for the clip flags, the current time for the modification
// date, "" for text). Only the event colour may be cleared.
//
// Stateless free functions on a record's attributes, which the catalogue owns
// and guards; the clock read is platform::Clock::current().

#include <string>
#include <string_view>

#include "platform/Value.h"

namespace foundation {

// What a none value of `key` is stored as; a none result means the
// attribute is cleared.
platform::Value catalogueValueForNone(std::string_view key);

// Stores `value` under `key`, or catalogueValueForNone(key) when the value is
// none (removing the entry when that is none too).
void setNoNillCatalogueValue(platform::Dictionary& attributes, std::string key, platform::Value value);

}  // namespace foundation
