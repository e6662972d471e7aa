#pragma once
// What a test tells the fake switcher driver (libfake_switcher_driver.so).
// The driver plays one switcher: inputs, aux buses, keyers, macros and
// program tally; events reach the program's callbacks on the driver's own
// thread. The test finds this object in the same loaded library through
// "FakeSwitcherScriptInstance".

#include <cstdint>

#include "control/switchers/ATEMSwitcherAPI.h"

namespace fake_switcher {

class FakeSwitcherScript {
 public:
  // Back to a switcher that connects, named "Fake Switcher", with no inputs,
  // keyers or macros; program and preview input 0.
  virtual void reset() = 0;
  // 0: connecting succeeds; otherwise it fails with this reason code.
  virtual void setConnectFailure(atem::FourCharCode reason) = 0;
  // The macro pool is refused (monitoring cannot start).
  virtual void setRefuseMacroPool(bool refuse) = 0;
  virtual void addInput(std::int64_t identifier, const char* name, atem::FourCharCode portType) = 0;
  virtual void setKeyerCount(int count) = 0;
  virtual void addMacro(std::uint32_t index, const char* name) = 0;

  // Changes that raise events on the driver thread.
  virtual void setProgramTally(std::int64_t identifier, bool onProgram) = 0;
  virtual void setProgramInput(std::int64_t identifier) = 0;
  virtual void renameInput(std::int64_t identifier, const char* name) = 0;
  virtual void dropConnection() = 0;  // 'sedi'

  // Blocks until every event raised so far has been delivered.
  virtual void waitForEvents() = 0;

  virtual int connectAttempts() = 0;
  virtual int registeredCallbacks() = 0;
  virtual std::int64_t previewInput() = 0;
  virtual std::int64_t auxSource(std::int64_t auxIdentifier) = 0;
  virtual int macroRuns(std::uint32_t index) = 0;

 protected:
  ~FakeSwitcherScript() = default;
};

using ScriptInstanceFunction = FakeSwitcherScript* (*)();
inline constexpr const char* kScriptEntryPoint = "FakeSwitcherScriptInstance";

}  // namespace fake_switcher
