#pragma once
// Facts about the machine the process runs on: whether the processor is ARM
// and whether the process runs under a binary translation layer. Class
// operations only; reentrant.

#include <string_view>

namespace foundation {

class CVNSystemUtilities {
 public:
  CVNSystemUtilities() = delete;

  // From uname's machine name; NO when it cannot be read.
  static bool isRunningOnARM();
  // Linux has no translation layer that this process could run under, so this
  // is NO on every machine (and always NO off ARM).
  static bool isRunningRosetta();

  // Whether a uname machine name names an ARM processor: "arm…" (32-bit and
  // the desktop platform's "arm64") and "aarch64" (Linux on 64-bit ARM).
  static bool isARMMachineName(std::string_view machine);
};

}  // namespace foundation
