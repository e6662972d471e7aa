#pragma once
// The crash service's folders below the SDK directory, each created once per
// process on first use.

#include <string>

namespace telemetry::crashes {

class DRTLCrashesUtil {
 public:
  static std::string crashesDir();               // "crashes"
  static std::string logBufferDir();             // "crasheslogbuffer"
  static std::string wrapperExceptionsDir();     // "crasheswrapperexceptions"
};

}  // namespace telemetry::crashes
