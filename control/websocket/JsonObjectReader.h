#pragma once
// JsonObjectReader: reads a message that must hold one JSON object into a
// nlohmann::json tree. Whole texts go through a vectorised parser first (the
// tree builder's own lexer spent half a big message's time); a text that
// parser refuses is read again by nlohmann's, which alone decides what is
// valid. The tree is the one nlohmann's parse gives, number types included,
// except that an integer written "-0" comes back as an unsigned 0.
//
// Keeps the first parser's buffers between messages: one reader per queue
// (it is not safe from two threads at once).

#include <memory>
#include <optional>
#include <string_view>

#include <nlohmann/json.hpp>

namespace control {

class JsonObjectReader {
 public:
  JsonObjectReader();
  ~JsonObjectReader();
  JsonObjectReader(const JsonObjectReader&) = delete;
  JsonObjectReader& operator=(const JsonObjectReader&) = delete;

  // The object, or nullopt for anything else (invalid text, an array, a number...).
  std::optional<nlohmann::json> readObject(std::string_view text);

 private:
  struct Parser;
  std::unique_ptr<Parser> parser_;
};

}  // namespace control
