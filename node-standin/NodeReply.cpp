#include "node-standin/NodeReply.h"

#include "node-standin/CommandLine.h"
#include "platform/PropertyList.h"

namespace standin {

std::string_view replyWordFor(const platform::Error& error) {
  if (error.is(kNodeCommandErrorDomain, NodeCommandErrorCode::Locked)) return kLockedWord;
  return kErrorWord;
}

std::string plainReplyBytes(std::string_view word) { return std::string(word) + "\r\n"; }

platform::Result<std::string> replyBytes(const Reply& reply) {
  if (const std::string* word = std::get_if<std::string>(&reply.body)) return plainReplyBytes(*word);
  return platform::writePropertyList(std::get<platform::Value>(reply.body));
}

}  // namespace standin
