#pragma once
// Parsing of one command line of the node text protocol: the command word and
// its arguments, and readers for the argument forms the commands use.
//
// Leniencies and limits: the command word is matched as written (commands are
// lower case); words are separated by one or more blanks; numbers are plain
// decimal ("%lu" of a change number may carry a trailing "i"); seconds are
// finite and not negative. A line must be valid UTF-8 without NUL bytes.
//
// Free functions and a small value reader; reentrant.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/Error.h"

namespace standin {

inline constexpr const char* kNodeCommandErrorDomain = "NodeCommandErrorDomain";
enum class NodeCommandErrorCode {
  InvalidText = 1,     // not UTF-8, or holds a NUL byte
  UnknownCommand = 2,
  BadArguments = 3,    // wrong count or form
  UnknownObject = 4,   // a folder, media item, clip or attribute the node does not have
  Refused = 5,         // the node cannot do it now (not initialised, empty playlist ...)
  Locked = 6,          // the client has not unlocked the node
  LineTooLong = 7,
};

struct NodeCommand {
  std::string name;       // the command word, e.g. "pbplayitem"
  std::string arguments;  // the rest of the line, trimmed; may span several lines
  // The rest of the line after the one blank that ends the command word,
  // blanks kept (a password is taken as sent).
  std::string verbatimArguments;
};

platform::Result<NodeCommand> parseNodeCommand(std::string_view line);

// Reads blank-separated words off the front of an argument text.
class ArgumentReader {
 public:
  explicit ArgumentReader(std::string_view arguments) : remaining_(arguments) {}

  // The next word; none at the end.
  std::optional<std::string_view> word();
  // Everything not read yet, trimmed (an XML text, a password, a path).
  std::string_view rest();
  bool atEnd();

 private:
  void skipBlanks();
  std::string_view remaining_;
};

std::optional<std::uint64_t> parseUnsigned(std::string_view text);
// A change number as clients write it ("%lui"): decimal, optionally followed by "i".
std::optional<std::uint64_t> parseChangeNumber(std::string_view text);
// "%f" or "%lu" seconds: finite, not negative.
std::optional<double> parseSeconds(std::string_view text);
// "1" or "0".
std::optional<bool> parseFlag(std::string_view text);

platform::Error commandError(NodeCommandErrorCode code, std::string description);

}  // namespace standin
