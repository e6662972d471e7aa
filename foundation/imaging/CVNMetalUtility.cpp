#include "foundation/imaging/CVNMetalUtility.h"

#include <array>

namespace foundation {
namespace {

template <std::size_t N>
std::string lookUp(const std::array<const char*, N>& names, std::uint64_t value, const char* otherwise) {
  return value < N ? names[value] : otherwise;
}

constexpr std::array<const char*, 19> kBlendFactors = {
    "Zero", "One", "Source Color", "One Minus Source Color", "Source Alpha", "One Minus Source Alpha",
    "Destination Color", "One Minus Destination Color", "Destination Alpha", "One Minus Destination Alpha",
    "Source Alpha Saturated", "Blend Color", "One Minus Blend Color", "Blend Alpha", "One Minus Blend Alpha",
    "Source 1 Color", "One Minus Source 1 Color", "Source 1 Alpha", "One Minus Source 1 Alpha"};
constexpr std::array<const char*, 5> kBlendOperations = {"Add", "Substract", "Reverse Substract", "Min", "Max"};
constexpr std::array<const char*, 2> kMinMagFilters = {"Nearest", "Linear"};
constexpr std::array<const char*, 3> kMipFilters = {"Not MipMapped", "Mip Nearest", "Mip Linear"};

}  // namespace

std::string CVNMetalUtility::stringFromBlendFactor(std::uint64_t factor) {
  return lookUp(kBlendFactors, factor, "Invalid Blend Factor");
}
std::string CVNMetalUtility::stringFromBlendOperation(std::uint64_t operation) {
  return lookUp(kBlendOperations, operation, "Invalid Blend Opeartion");
}
std::string CVNMetalUtility::stringFromSamplerMinMagFilter(std::uint64_t filter) {
  return lookUp(kMinMagFilters, filter, "Invalid Sampler Min Mag Filter");
}
std::string CVNMetalUtility::stringFromSamplerMipFilter(std::uint64_t filter) {
  return lookUp(kMipFilters, filter, "Invalid Mip Filter");
}

}  // namespace foundation
