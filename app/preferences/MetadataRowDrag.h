#pragma once
// The pasteboard form of a row drag in the metadata table (type
// "MyPrivateTableViewDataType"): a keyed archive of the dragged rows' index
// set. Reading refuses anything else, so a drop from another program cannot
// move rows that were never dragged.
//
// Pure functions; any thread.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Error.h"

namespace app::preferences {

platform::Result<std::string> archivedRowIndexes(const std::vector<std::size_t>& rows);
// Sorted, without repeats.
platform::Result<std::vector<std::size_t>> unarchivedRowIndexes(std::string_view bytes);

}  // namespace app::preferences
