#include "foundation/CVNSystemUtilities.h"

#include <sys/utsname.h>

namespace foundation {

bool CVNSystemUtilities::isARMMachineName(std::string_view machine) {
  if (machine == "x86_64") return false;
  return machine.starts_with("arm") || machine.starts_with("aarch64");
}

bool CVNSystemUtilities::isRunningOnARM() {
  struct utsname name {};
  if (::uname(&name) != 0) return false;
  return isARMMachineName(name.machine);
}

bool CVNSystemUtilities::isRunningRosetta() {
  if (!isRunningOnARM()) return false;
  // The translation query of the desktop platform has no Linux counterpart;
  // "cannot be read" answers NO.
  return false;
}

}  // namespace foundation
