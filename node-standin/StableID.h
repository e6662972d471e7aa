#pragma once
// Name-based unique IDs: the same text always gives the same ID, in the
// 36-character upper-case 8-4-4-4-12 form of the system's unique IDs. The node
// derives its own ID, its media folder IDs and its media item IDs this way, so
// they survive a restart of the node as long as names and paths stay the same.
//
// Stateless and reentrant.

#include <string>
#include <string_view>

namespace standin {

// The SHA-1 of `text`, laid out as a version-5 style UUID string.
std::string stableUniqueID(std::string_view text);

}  // namespace standin
