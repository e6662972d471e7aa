#pragma once
// Salvage of a damaged XML property list whose root is a dictionary: the
// entries of the root that are whole and readable, when the file as a whole
// does not parse (it was cut short, or one entry holds something the reader
// refuses). Used by the playlist document reader so that a damaged playlist
// opens with what is left of it instead of not at all.
//
// A pure function; any thread.
//
// How it reads, and its limits:
// - Only UTF-8 (or ASCII) XML text; a UTF-16 or binary property list is not
//   salvaged.
// - The text is scanned for the root <dict> and then, entry by entry, for a
//   <key> element followed by one whole value element. Nesting is followed by
//   counting start and end tags (comments, CDATA sections, processing
//   instructions and quoted attribute values are skipped); tag names are not
//   matched against each other, since the property-list reader checks every
//   kept entry afterwards.
// - The scan stops at the end of the root, at the end of the text, or at the
//   first place where no whole entry follows; what lies beyond is lost and
//   said so.
// - Every whole entry is read again with the property-list reader (all at
//   once, or one by one when that fails); an entry the reader refuses is left
//   out and named.

#include <string>
#include <string_view>
#include <vector>

#include "platform/Error.h"
#include "platform/Value.h"

namespace nodes::detail {

struct SalvagedDictionary {
  platform::Dictionary entries;       // the whole, readable entries
  std::vector<std::string> problems;  // what was left out, one line each
};

// Fails when the text has no root dictionary or not one whole entry.
platform::Result<SalvagedDictionary> salvagePropertyListDictionary(std::string_view xml);

}  // namespace nodes::detail
