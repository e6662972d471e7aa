#pragma once
// Replacing several strings at once, replacing the characters of a set and
// joining components with a separator. Lengths count UTF-16 code units (see
// Utf16.h); ill-formed UTF-8 reads as U+FFFD and the replacing functions
// always give well-formed UTF-8.
//
// Stateless free functions; safe on any thread.

#include <string>
#include <string_view>
#include <vector>

#include "foundation/CharacterSet.h"
#include "platform/Value.h"

namespace foundation {

// For each i in order, every occurrence of targets[i] in the result of the
// step before is replaced by replacements[i]. Empty targets are skipped. The
// two lists must have the same count; when they do not, the fault is reported
// as a diagnostic and the text comes back unchanged.
std::string stringByReplacingOccurrencesOfStrings(std::string_view text, const std::vector<std::string>& targets,
                                                  const std::vector<std::string>& replacements);

// Every character of `set` is replaced by `replacement` cut or repeated to that
// character's UTF-16 length (1, or 2 outside the basic plane), so the result
// is as long as the text. A cut that splits a surrogate pair of the
// replacement leaves U+FFFD. An empty replacement deletes the characters
// (there is nothing to pad with).
std::string stringByReplacingCharactersFromSet(std::string_view text, const CharacterSet& set,
                                               std::string_view replacement);

// Each component's description with `separator` between consecutive ones;
// empty for no components. A string describes as itself, a number in its
// shortest decimal form, a boolean as 1 or 0, anything else as Value::describe().
// (Components and separator are joined byte for byte, unchecked.)
std::string stringFromComponents(const platform::Array& components, std::string_view separator);
std::string stringFromComponents(const std::vector<std::string>& components, std::string_view separator);

}  // namespace foundation
