#include "foundation/NameComparison.h"

#include "foundation/PathUtilities.h"
#include "platform/NumberFormatter.h"

namespace foundation {
namespace {

constexpr std::string_view kRootLocale = "root";

}  // namespace

int localizedStandardCompareWithoutPathExt(std::string_view name, std::string_view other) {
  return platform::localizedStandardCompare(stringByDeletingPathExtension(name), stringByDeletingPathExtension(other));
}

int caseInsensitiveCompareWithNumber(std::string_view name, std::string_view other) {
  return platform::localizedStandardCompare(stringByDeletingPathExtension(name), stringByDeletingPathExtension(other),
                                            kRootLocale);
}

}  // namespace foundation
