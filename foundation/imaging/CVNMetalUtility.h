#pragma once
// Display names of the GPU blending and sampling states, by their
// enumeration values, for logs. Class operations; any thread.

#include <cstdint>
#include <string>

namespace foundation {

class CVNMetalUtility {
 public:
  static std::string stringFromBlendFactor(std::uint64_t factor);          // 0 ... 18
  static std::string stringFromBlendOperation(std::uint64_t operation);    // 0 ... 4
  static std::string stringFromSamplerMinMagFilter(std::uint64_t filter);  // 0, 1
  static std::string stringFromSamplerMipFilter(std::uint64_t filter);     // 0 ... 2
};

}  // namespace foundation
