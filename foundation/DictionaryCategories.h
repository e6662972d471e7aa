#pragma once
// No-nil dictionary helpers: every property-list and catalogue write goes
// through them, so "nothing" is never stored. A none value either leaves the
// dictionary as it was (setNoNillObject) or is stored as the empty string
// (setNoNillValue); the getters answer "" instead of none.
//
// Stateless free functions on values the caller owns; thread-safe as far as
// the caller's dictionary is.

#include <optional>
#include <string>
#include <string_view>

#include "platform/Value.h"

namespace foundation {

// Stores `object` under `key`; a none object leaves the dictionary unchanged
// (an existing entry stays).
void setNoNillObject(platform::Dictionary& dictionary, std::string key, platform::Value object);
// Stores `value` under `key`, or "" when the value is none.
void setNoNillValue(platform::Dictionary& dictionary, std::string key, platform::Value value);

// The value for `key`, or "" when there is none (no entry, or a none value).
// A Value that is not a dictionary has no entries.
const platform::Value& noNillObjectForKey(const platform::Dictionary& dictionary, std::string_view key);
const platform::Value& noNillObjectForKey(const platform::Value& dictionary, std::string_view key);
// The same as noNillObjectForKey (keys are plain keys, not key paths).
const platform::Value& noNillValueForKey(const platform::Dictionary& dictionary, std::string_view key);
const platform::Value& noNillValueForKey(const platform::Value& dictionary, std::string_view key);

// None when both are none; one of them when the other is none; otherwise
// every entry of master plus the entries of other whose keys master lacks
// (master wins on shared keys).
std::optional<platform::Dictionary> mergedDictWithMasterDict(const std::optional<platform::Dictionary>& master,
                                                             const std::optional<platform::Dictionary>& other);

}  // namespace foundation
