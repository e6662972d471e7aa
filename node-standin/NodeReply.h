#pragma once
// Replies of the node text protocol and their bytes on the wire.
//
// A plain reply is a short word or number followed by CR LF, sent in one
// write (clients take a plain reply as complete after their first read). A
// property-list reply is the XML text as the platform writer lays it out,
// ending in "</plist>\n", the end clients wait for.
//
// Refusals: the one table mapping errors to replies is replyWordFor(). Every
// refusal is shorter than ten bytes with its line end, so a client that
// waits for a property list still takes it as the complete answer.
//
// Stateless helpers; reentrant.

#include <string>
#include <string_view>
#include <variant>

#include "platform/Error.h"
#include "platform/Value.h"

namespace standin {

inline constexpr std::string_view kOkWord = "OK";
inline constexpr std::string_view kErrorWord = "ERROR";
inline constexpr std::string_view kLockedWord = "LOCKED";

struct Reply {
  std::variant<std::string, platform::Value> body;

  static Reply ok() { return {std::string(kOkWord)}; }
  static Reply text(std::string word) { return {std::move(word)}; }
  static Reply propertyList(platform::Value value) { return {std::move(value)}; }
};

// "LOCKED" for a client that has not unlocked the node, "ERROR" for anything else.
std::string_view replyWordFor(const platform::Error& error);

// The bytes of a plain reply.
std::string plainReplyBytes(std::string_view word);

// The bytes to send; an Error when a property list cannot be written.
platform::Result<std::string> replyBytes(const Reply& reply);

}  // namespace standin
