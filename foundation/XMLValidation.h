#pragma once
// Text that may be written into XML 1.0 documents (display names, titles).
// XML 1.0 allows tab, line feed, carriage return, U+0020-U+D7FF,
// U+E000-U+FFFD and U+10000-U+10FFFF; everything else (other control
// characters, U+FFFE, U+FFFF) makes a writer fail or a reader refuse the file.
//
// Stateless free functions; safe on any thread.

#include <string>
#include <string_view>

namespace foundation {

// True when every character is allowed in XML 1.0 and the text is well-formed UTF-8.
bool isValidXMLString(std::string_view text);

// The text with every character XML 1.0 does not allow deleted (a character
// outside the basic plane is deleted whole). An ill-formed UTF-8 sequence
// becomes U+FFFD, which XML allows, so the result is always well-formed.
// Text that needs no change comes back byte for byte.
std::string validXMLString(std::string_view text);

}  // namespace foundation
