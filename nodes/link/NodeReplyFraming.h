#pragma once
// Where a node's reply ends. The node sends no length and no identifier, so
// the reply's own text says when it is complete:
// - a plain reply (a word or a number) ends at its line end, the first LF,
//   however many reads it takes to arrive;
// - a property-list reply, one that begins with "<?xml ver" after any stale
//   line-end or blank bytes, ends at its first "</plist>" plus the CR and LF
//   bytes right after it that have already arrived. A reply to a command that
//   waits for a property list but begins otherwise (a refusal word such as
//   "LOCKED") is a plain reply.
// Bytes after the end belong to no command.
//
// Pure functions of the bytes; reentrant. The link calls them after every
// read with what it has so far.

#include <cstddef>
#include <optional>
#include <string_view>

namespace nodes {

// Longest plain reply: far beyond any word or number, yet a line that never
// ends cannot hold the link's memory.
inline constexpr std::size_t kMaxPlainReplyBytes = 1u * 1024u * 1024u;
// Longest property-list reply. A 9,000-clip playlist is about 18 MB; this
// leaves room for playlists and folder listings an order of magnitude larger
// while a reply that never ends still closes the link.
inline constexpr std::size_t kMaxPropertyListReplyBytes = 256u * 1024u * 1024u;

// One past the last byte of the reply at the start of `data`, or none while
// it is incomplete. `searchedBytes` is how much of `data` an earlier call
// already searched without finding the end (0 when unknown); it only saves
// searching again and never changes the answer.
std::optional<std::size_t> nodeReplyEnd(std::string_view data, bool requiresXMLResponse,
                                         std::size_t searchedBytes = 0);

// Whether the reply so far is (or may still become) a property list, which
// decides its length limit.
bool nodeReplyIsPropertyList(std::string_view data, bool requiresXMLResponse);

// The length limit for the reply so far.
std::size_t nodeReplyLimit(std::string_view data, bool requiresXMLResponse);

}  // namespace nodes
