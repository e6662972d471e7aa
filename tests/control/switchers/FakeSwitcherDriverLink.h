#pragma once
// The test's handle on the fake switcher driver: the script object of the
// same loaded library the controller opens.

#include <dlfcn.h>

#include "tests/control/switchers/fake_driver/FakeSwitcherScript.h"

namespace testing_support {

inline fake_switcher::FakeSwitcherScript& fakeSwitcher() {
  static fake_switcher::FakeSwitcherScript* script = [] {
    void* library = dlopen(VZ_FAKE_SWITCHER_DRIVER, RTLD_NOW | RTLD_LOCAL);
    auto instance = library ? reinterpret_cast<fake_switcher::ScriptInstanceFunction>(
                                  dlsym(library, fake_switcher::kScriptEntryPoint))
                            : nullptr;
    return instance ? instance() : nullptr;
  }();
  if (!script) throw std::runtime_error("fake switcher driver not loaded");
  return *script;
}

}  // namespace testing_support
