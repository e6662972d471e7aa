#pragma once
// ClipExportRecord: the clip dictionary of a catalogue export ("clips.plist")
// and its mapping to and from a `Clip` row (nodes/catalogue/ClipCatalogueSchema.h). An
// export dictionary has the row's keys and values.
//
// Free functions; safe on any thread.
//
// Import is strict: every value is checked against its attribute's kind and
// range before anything is stored, so a number, flag or date attribute never
// receives text. A key that is missing takes the attribute's empty value (the
// empty string, 0 or NO; none for the date and the codec code); keys that
// are not attributes of a clip are ignored.

#include <string_view>

#include "nodes/catalogue/ClipCatalogueSchema.h"
#include "platform/Error.h"
#include "platform/Value.h"

namespace nodes {

// The export dictionary of a row: its attribute values unchanged, none values
// left out; an empty or missing "clipInfoLastModificationDateString" is the
// row's modification date as text (PlaylistItem::dateToString) when it has one.
platform::Dictionary exportDictionaryFromClipRow(const CatalogueRow& row);

// A value checked against its attribute: the value in the attribute's stored
// form (a whole real in an integer attribute becomes an integer, an integer in
// a real one a real), or an ImportValueWrongType error naming the key.
platform::Result<platform::Value> checkedClipValue(const catalogue::ClipAttribute& attribute,
                                                   const platform::Value& value);

// The row an export dictionary stands for: all 35 attributes, every value
// checked (none for an absent date or codec code). "clipInfoUniqueID" must be
// non-empty text.
platform::Result<CatalogueRow> clipRowFromExportDictionary(const platform::Dictionary& clip);

}  // namespace nodes
