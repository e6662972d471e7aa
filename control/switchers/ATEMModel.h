#pragma once
// The switcher model the ATEM controller keeps: inputs, outputs (program,
// preview and the aux buses) and downstream keyers. Plain values.

#include <cstdint>
#include <string>

#include "control/switchers/ATEMSwitcherAPI.h"

namespace control {

struct ATEMInput {
  ATEMInput(std::string name, atem::FourCharCode portType, std::int64_t identifier)
      : name(std::move(name)), identifier(identifier), portType(portType) {}
  bool isExternal() const { return portType == atem::kPortTypeExternal; }
  friend bool operator==(const ATEMInput&, const ATEMInput&) = default;

  std::string name;
  std::int64_t identifier;
  atem::FourCharCode portType;
};

inline constexpr std::int64_t kATEMProgramOutputIdentifier = -1;
inline constexpr std::int64_t kATEMPreviewOutputIdentifier = -2;
inline constexpr const char* kATEMProgramOutputName = "Program Output";
inline constexpr const char* kATEMPreviewOutputName = "Preview";

struct ATEMOutput {
  ATEMOutput(std::string name, std::int64_t identifier, bool isAux)
      : name(std::move(name)), identifier(identifier), isAux(isAux) {}
  friend bool operator==(const ATEMOutput&, const ATEMOutput&) = default;

  std::string name;
  std::int64_t identifier;
  std::int64_t selectedSource = 0;  // identifier of the input routed here
  bool isAux;
};

struct ATEMDownstreamKeyer {
  explicit ATEMDownstreamKeyer(std::string name) : name(std::move(name)) {}
  friend bool operator==(const ATEMDownstreamKeyer&, const ATEMDownstreamKeyer&) = default;
  std::string name;
};

}  // namespace control
