#include "control/switchers/ATEMSwitcherDriver.h"

#include <dlfcn.h>

#include <map>
#include <mutex>
#include <string>

#include "control/switchers/SwitcherConsole.h"
#include "platform/UserDefaults.h"

namespace control {
namespace {

// Entry points by path; a null one remembers that the path gave none.
atem::GetDiscoveryInstanceFunction entryPointAt(const std::string& path) {
  static std::mutex mutex;
  static std::map<std::string, atem::GetDiscoveryInstanceFunction> entryPoints;  // guarded by mutex
  std::lock_guard guard(mutex);
  auto found = entryPoints.find(path);
  if (found != entryPoints.end()) return found->second;
  atem::GetDiscoveryInstanceFunction entryPoint = nullptr;
  if (!path.empty() && path.front() == '/') {
    // Kept open for the process: its objects may live as long.
    if (void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL)) {
      entryPoint = reinterpret_cast<atem::GetDiscoveryInstanceFunction>(dlsym(library, atem::kDiscoveryEntryPoint));
      if (!entryPoint) switcherConsoleLog("ATEMPlugin: %s has no %s", path.c_str(), atem::kDiscoveryEntryPoint);
    } else {
      switcherConsoleLog("ATEMPlugin: cannot load the switcher driver: %s", dlerror());
    }
  }
  entryPoints.emplace(path, entryPoint);
  return entryPoint;
}

}  // namespace

ComPtr<atem::IBMDSwitcherDiscovery> makeSwitcherDiscovery() {
  const std::string path = platform::UserDefaults::standard().stringForKey(kATEMSwitcherSDKPathKey).value_or("");
  atem::GetDiscoveryInstanceFunction entryPoint = entryPointAt(path);
  if (!entryPoint) return {};
  return ComPtr<atem::IBMDSwitcherDiscovery>::adopt(entryPoint());
}

}  // namespace control
