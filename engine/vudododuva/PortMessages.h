#pragma once
// One message on a VudodoDuva port (a SEQPACKET socket), with at most one
// descriptor beside it, both ways; and the SHA-256 text receivers report for
// pictures and audio. Free functions; any thread.

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace engine::vudododuva {

// sendmsg of `bytes` with `descriptor` (none when -1) as SCM_RIGHTS; `flags`
// go to sendmsg (MSG_NOSIGNAL is always added). Answers sendmsg's result.
ssize_t sendPortMessage(int socket, std::string_view bytes, int descriptor, int flags);
// recvmsg of one message into `buffer`; a descriptor that came with it goes
// to `*descriptor` (owned by the caller), any further ones are closed.
ssize_t receivePortMessage(int socket, std::span<char> buffer, std::optional<int>* descriptor);

// A SEQPACKET socket listening at `path` (a stale socket there is removed
// first); -1 with errno set on failure.
int listenOnPort(const std::string& path);

// Lower-case hex SHA-256 of the bytes.
std::string sha256Text(std::span<const std::uint8_t> bytes);

}  // namespace engine::vudododuva
