#pragma once
// TriCasterInput: one input of a TriCaster switcher, with its tally-dictionary
// name, its switcher input number, its label and its tally flags; the input
// type table read from the tally name. Main thread (flags: connection queue).

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace control {

// Input type bits, from the tally column's name.
enum TriCasterInputType : std::uint64_t {
  kTriCasterInputTypeUnknown = 0,
  kTriCasterInputTypeInput = 2,
  kTriCasterInputTypeBuffer = 4,
  kTriCasterInputTypeGraphics = 16,
  kTriCasterInputTypeMixEffect = 32,
  kTriCasterInputTypePreview = 64,
  kTriCasterInputTypeMixEffectPreview = 128,
  kTriCasterInputTypeMixEffectFollow = 256,
  kTriCasterInputTypePreviz = 512,
  kTriCasterInputTypeWebFollow = 1024,
  kTriCasterInputTypeSound = 2048,
  kTriCasterInputTypeBlack = 4096,
};

struct TriCasterInput {
  // A missing tally name becomes "In <index>"; a missing input name or label
  // becomes the tally name; mix-effect labels read "M/E " for "V".
  TriCasterInput(std::uint64_t type, std::optional<std::string> tallyName, std::optional<std::string> inputName,
                 std::optional<std::string> isoLabel, std::int64_t switcherIndex);

  const std::string& identifier() const { return switcherInputName; }
  const std::string& displayName() const { return isoLabel; }

  std::string tallyName;
  std::string switcherInputName;
  std::string isoLabel;
  std::int64_t switcherIndex = 0;
  std::uint64_t index = 0;
  bool isSelectedInputOfProgram = false;
  bool isOnProgramTally = false;
  bool isSelectedInputOfPreview = false;
  bool isOnPreviewTally = false;
  std::uint64_t type = kTriCasterInputTypeUnknown;
};

std::uint64_t typeOfInputWithTallyName(const std::string& tallyName);

// ASCII names equal without regard to case (no copies: the feed compares per message).
bool equalsIgnoringCase(std::string_view a, std::string_view b);

}  // namespace control
