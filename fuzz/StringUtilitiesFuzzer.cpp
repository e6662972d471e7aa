// Fuzzes the text parsers of the string helpers: JSON reading and writing,
// path resolution, XML-safe text and UTF-16 ranges. The first byte picks the
// helper; the rest is its input. Each helper must not crash and must keep the
// property checked after it.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "foundation/CVNJSONUtilities.h"
#include "foundation/CharacterSet.h"
#include "foundation/PathUtilities.h"
#include "foundation/StringReplacing.h"
#include "foundation/StringSearch.h"
#include "foundation/Utf16.h"
#include "foundation/XMLValidation.h"

namespace {

using namespace foundation;

void check(bool condition) {
  if (!condition) std::abort();
}

// Reading then writing then reading again gives the same value.
void fuzzJSON(std::string_view data) {
  std::optional<platform::Error> error;
  const platform::Value parsed = CVNJSONUtilities::containerWithJSONData(data, &error);
  check(parsed.isNone() == error.has_value());
  if (parsed.isNone()) return;
  const std::optional<std::string> written = CVNJSONUtilities::JSONDataWithContainer(parsed, &error);
  check(written.has_value());
  check(CVNJSONUtilities::containerWithJSONData(*written) == parsed);
}

// For absolute paths without "." or ".." components, the relative form
// resolves back to the path.
void fuzzPaths(std::string_view data) {
  const std::size_t split = data.find('\n');
  if (split == std::string_view::npos) return;
  const std::string_view path = data.substr(0, split);
  const std::string_view base = data.substr(split + 1);
  (void)absolutePathFromBaseDirPath(path, base);
  const std::string relative = relativePathFromBaseDirPath(path, base);

  const auto plainAbsolute = [](std::string_view p) {
    if (p.empty() || p.front() != '/') return false;
    for (const std::string& component : pathComponents(p)) {
      if (component == "." || component == "..") return false;
    }
    return true;
  };
  if (plainAbsolute(path) && plainAbsolute(base))
    check(absolutePathFromBaseDirPath(relative, base) == pathWithComponents(pathComponents(path)));
}

void fuzzXML(std::string_view data) {
  const std::string valid = validXMLString(data);
  check(isValidXMLString(valid));
  check(validXMLString(valid) == valid);
  check(isValidXMLString(data) == (valid == data));
}

// Ranges taken from the input's own bytes stay inside the text.
void fuzzRanges(std::string_view data) {
  if (data.size() < 3) return;
  const Range range{static_cast<unsigned char>(data[0]), static_cast<unsigned char>(data[1])};
  const auto options = static_cast<StringSearchOptions>(data[2] & 0x0C);
  const std::string_view text = data.substr(3);

  const std::u16string units = toUtf16(text);
  check(utf16Length(text) == units.size());
  check(toUtf16(toUtf8(units)) == units);
  const std::optional<std::string> substring = substringWithRange(text, range);
  check(substring.has_value() == (range.end() <= units.size()));

  const CharacterSet set = CharacterSet::withCharactersInString(text.substr(0, 2));
  const Range run = rangeOfCharactersFromSet(text, set, options, range);
  if (!run.isNotFound()) check(run.length > 0 && run.location >= range.location && run.end() <= range.end());
  for (const Range& found : rangesOfString(text, text.substr(0, 1))) check(found.end() <= units.size());
  const std::string replaced = stringByReplacingCharactersFromSet(text, set, "xy");
  check(utf16Length(replaced) == units.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  if (size == 0) return 0;
  const std::string_view data(reinterpret_cast<const char*>(bytes) + 1, size - 1);
  switch (bytes[0] % 4) {
    case 0: fuzzJSON(data); break;
    case 1: fuzzPaths(data); break;
    case 2: fuzzXML(data); break;
    case 3: fuzzRanges(data); break;
  }
  return 0;
}
