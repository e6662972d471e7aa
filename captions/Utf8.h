#pragma once
// Code points of UTF-8 text; a malformed sequence gives U+FFFD and moves on.

#include <string>
#include <vector>

namespace captions {

std::vector<char32_t> utf8CodePoints(const std::string& text);
void appendUtf8(std::string& out, char32_t codePoint);

}  // namespace captions
