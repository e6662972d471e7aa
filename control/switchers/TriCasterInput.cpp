#include "control/switchers/TriCasterInput.h"

#include <algorithm>
#include <cctype>

namespace control {

namespace {

std::string lowercased(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

}  // namespace

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](unsigned char x, unsigned char y) {
    return std::tolower(x) == std::tolower(y);
  });
}

TriCasterInput::TriCasterInput(std::uint64_t type, std::optional<std::string> tallyName,
                               std::optional<std::string> inputName, std::optional<std::string> label,
                               std::int64_t index)
    : switcherIndex(index), type(type) {
  this->tallyName = tallyName ? *tallyName : "In " + std::to_string(index);
  switcherInputName = inputName ? *inputName : this->tallyName;
  isoLabel = label ? *label : this->tallyName;
  if (type == kTriCasterInputTypeMixEffect) {
    std::string renamed;
    for (char c : isoLabel) renamed += c == 'V' ? std::string("M/E ") : std::string(1, c);
    isoLabel = renamed;
  }
}

std::uint64_t typeOfInputWithTallyName(const std::string& tallyName) {
  const std::string name = lowercased(tallyName);
  static const std::pair<const char*, std::uint64_t> prefixes[] = {
      {"input", kTriCasterInputTypeInput},
      {"bfr", kTriCasterInputTypeBuffer},
      {"gfx", kTriCasterInputTypeGraphics},
      {"preview", kTriCasterInputTypePreview},
      {"me_preview", kTriCasterInputTypeMixEffectPreview},
      {"me_follow", kTriCasterInputTypeMixEffectFollow},
      {"previz", kTriCasterInputTypePreviz},
      {"web_follow", kTriCasterInputTypeWebFollow},
      {"sound", kTriCasterInputTypeSound},
      {"black", kTriCasterInputTypeBlack},
  };
  for (const auto& [prefix, type] : prefixes) {
    if (name.rfind(prefix, 0) == 0) return type;
  }
  if (!name.empty() && name[0] == 'v') {
    for (int i = 1; i <= 10; ++i) {
      if (name.rfind("v" + std::to_string(i), 0) == 0) return kTriCasterInputTypeMixEffect;
    }
  }
  return kTriCasterInputTypeUnknown;
}

}  // namespace control
