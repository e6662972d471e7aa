// The fake switcher driver: one scripted switcher behind the driver
// interfaces, with its events delivered on a thread of its own.

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/control/switchers/fake_driver/FakeSwitcherScript.h"

namespace fake_switcher {
namespace {

using namespace atem;

HRESULT copyText(const std::string& text, char* buffer, std::size_t capacity) {
  if (!buffer || text.size() + 1 > capacity) return E_FAIL;
  std::memcpy(buffer, text.c_str(), text.size() + 1);
  return S_OK;
}

// Reference counting for the driver's objects.
template <typename Interface>
class Counted : public Interface {
 public:
  HRESULT QueryInterface(const InterfaceID&, void** object) override {
    if (!object) return E_POINTER;
    *object = nullptr;
    return E_NOINTERFACE;
  }
  std::uint32_t AddRef() override { return count_.fetch_add(1) + 1; }
  std::uint32_t Release() override {
    const std::uint32_t left = count_.fetch_sub(1) - 1;
    if (left == 0) delete this;
    return left;
  }

 private:
  std::atomic<std::uint32_t> count_{1};
};

struct Input {
  std::int64_t identifier;
  std::string name;
  FourCharCode portType;
  bool tallied = false;
  std::int64_t auxSource = 0;
};

// Callbacks registered on the switcher's objects, by object key. Each holds
// one reference while registered.
struct Registrations {
  std::map<std::string, std::vector<IUnknown*>> byObject;
  int count() const {
    int total = 0;
    for (const auto& [key, list] : byObject) total += static_cast<int>(list.size());
    return total;
  }
};

class Switcher final : public FakeSwitcherScript {
 public:
  Switcher() : thread_([this] { deliverEvents(); }) {}
  template <typename Function>
  auto locked(Function function) {
    std::lock_guard guard(mutex_);
    return function();
  }

  ~Switcher() {
    {
      std::lock_guard guard(mutex_);
      stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
  }

  void reset() override {
    std::lock_guard guard(mutex_);
    failure_ = 0;
    refuseMacroPool_ = false;
    inputs_.clear();
    keyers_.clear();
    macros_.clear();
    macroRuns_.clear();
    program_ = preview_ = 0;
    attempts_ = 0;
  }
  void setConnectFailure(FourCharCode reason) override { locked([&] { failure_ = reason; }); }
  void setRefuseMacroPool(bool refuse) override { locked([&] { refuseMacroPool_ = refuse; }); }
  void addInput(std::int64_t identifier, const char* name, FourCharCode portType) override {
    locked([&] { inputs_.push_back({identifier, name, portType}); });
  }
  void setKeyerCount(int count) override { locked([&] { keyers_.assign(static_cast<std::size_t>(count), false); }); }
  void addMacro(std::uint32_t index, const char* name) override { locked([&] { macros_[index] = name; }); }

  void setProgramTally(std::int64_t identifier, bool onProgram) override {
    locked([&] {
      if (Input* input = inputWith(identifier)) input->tallied = onProgram;
    });
    raise("input" + std::to_string(identifier), kInputEventProgramTally);
  }
  void setProgramInput(std::int64_t identifier) override {
    locked([&] { program_ = identifier; });
    raise("block", kMixEffectProgramInput);
  }
  void renameInput(std::int64_t identifier, const char* name) override {
    locked([&] {
      if (Input* input = inputWith(identifier)) input->name = name;
    });
    raise("input" + std::to_string(identifier), kInputEventLongName);
  }
  void dropConnection() override { raise("switcher", kSwitcherEventDisconnected); }

  void waitForEvents() override {
    std::unique_lock lock(mutex_);
    idle_.wait(lock, [&] { return events_.empty() && !delivering_; });
  }

  int connectAttempts() override { return locked([&] { return attempts_; }); }
  int registeredCallbacks() override { return locked([&] { return registrations_.count(); }); }
  std::int64_t previewInput() override { return locked([&] { return preview_; }); }
  std::int64_t auxSource(std::int64_t auxIdentifier) override {
    return locked([&] {
      Input* input = inputWith(auxIdentifier);
      return input ? input->auxSource : -1;
    });
  }
  int macroRuns(std::uint32_t index) override { return locked([&] { return macroRuns_[index]; }); }

  // ---- What the driver objects use ----

  Input* inputWith(std::int64_t identifier) {
    auto found = std::find_if(inputs_.begin(), inputs_.end(), [&](const Input& i) { return i.identifier == identifier; });
    return found == inputs_.end() ? nullptr : &*found;
  }

  HRESULT registerCallback(const std::string& key, IUnknown* callback) {
    if (!callback) return E_POINTER;
    callback->AddRef();
    locked([&] { registrations_.byObject[key].push_back(callback); });
    return S_OK;
  }
  HRESULT unregisterCallback(const std::string& key, IUnknown* callback) {
    bool found = locked([&] {
      auto& list = registrations_.byObject[key];
      auto at = std::find(list.begin(), list.end(), callback);
      if (at == list.end()) return false;
      list.erase(at);
      return true;
    });
    if (!found) return E_FAIL;
    callback->Release();
    return S_OK;
  }

  FourCharCode failure_ = 0;
  bool refuseMacroPool_ = false;
  std::vector<Input> inputs_;
  std::vector<bool> keyers_;
  std::map<std::uint32_t, std::string> macros_;
  std::map<std::uint32_t, int> macroRuns_;
  std::int64_t program_ = 0;
  std::int64_t preview_ = 0;
  int attempts_ = 0;

 private:
  void raise(std::string key, FourCharCode event) {
    {
      std::lock_guard guard(mutex_);
      events_.emplace_back(std::move(key), event);
    }
    wake_.notify_all();
  }

  void deliverEvents();

  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable idle_;
  std::deque<std::pair<std::string, FourCharCode>> events_;  // guarded by mutex_
  bool delivering_ = false;                                  // guarded by mutex_
  bool stopping_ = false;                                    // guarded by mutex_
  Registrations registrations_;                              // guarded by mutex_
  std::thread thread_;
};

Switcher& theSwitcher() {
  static Switcher* switcher = new Switcher;  // lives for the process; its thread too
  return *switcher;
}

// Calls the callback with the event, by the interface the object's key names.
void notify(const std::string& key, IUnknown* callback, FourCharCode event) {
  if (key == "switcher") {
    static_cast<IBMDSwitcherCallback*>(callback)->Notify(event);
  } else if (key == "block") {
    static_cast<IBMDSwitcherMixEffectBlockCallback*>(callback)->PropertyChanged(event);
  } else if (key.rfind("input", 0) == 0) {
    static_cast<IBMDSwitcherInputCallback*>(callback)->Notify(event);
  } else if (key.rfind("keyer", 0) == 0) {
    static_cast<IBMDSwitcherDownstreamKeyCallback*>(callback)->Notify(event);
  }
}

void Switcher::deliverEvents() {
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait(lock, [&] { return stopping_ || !events_.empty(); });
    if (stopping_) return;
    auto [key, event] = events_.front();
    events_.pop_front();
    delivering_ = true;
    std::vector<IUnknown*> callbacks = registrations_.byObject[key];
    for (IUnknown* callback : callbacks) callback->AddRef();
    // Delivered without the lock, as a real driver does: the program may
    // unregister meanwhile.
    lock.unlock();
    for (IUnknown* callback : callbacks) {
      notify(key, callback, event);
      callback->Release();
    }
    lock.lock();
    delivering_ = false;
    if (events_.empty()) idle_.notify_all();
  }
}

class FakeInputAux final : public Counted<IBMDSwitcherInputAux> {
 public:
  explicit FakeInputAux(std::int64_t identifier) : identifier_(identifier) {}
  HRESULT GetInputSource(BMDSwitcherInputId* source) override {
    return theSwitcher().locked([&] {
      Input* input = theSwitcher().inputWith(identifier_);
      if (!input) return E_FAIL;
      *source = input->auxSource;
      return S_OK;
    });
  }
  HRESULT SetInputSource(BMDSwitcherInputId source) override {
    return theSwitcher().locked([&] {
      Input* input = theSwitcher().inputWith(identifier_);
      if (!input) return E_FAIL;
      input->auxSource = source;
      return S_OK;
    });
  }
  HRESULT AddCallback(IBMDSwitcherInputAuxCallback* callback) override {
    return theSwitcher().registerCallback("aux" + std::to_string(identifier_), callback);
  }
  HRESULT RemoveCallback(IBMDSwitcherInputAuxCallback* callback) override {
    return theSwitcher().unregisterCallback("aux" + std::to_string(identifier_), callback);
  }

 private:
  const std::int64_t identifier_;
};

class FakeInput final : public Counted<IBMDSwitcherInput> {
 public:
  explicit FakeInput(std::int64_t identifier) : identifier_(identifier) {}
  HRESULT QueryInterface(const InterfaceID& iid, void** object) override {
    if (!object) return E_POINTER;
    *object = nullptr;
    FourCharCode portType = 0;
    GetPortType(&portType);
    if (iid != IID_IBMDSwitcherInputAux || portType != kPortTypeAuxOutput) return E_NOINTERFACE;
    *object = static_cast<IBMDSwitcherInputAux*>(new FakeInputAux(identifier_));
    return S_OK;
  }
  HRESULT GetInputId(BMDSwitcherInputId* identifier) override {
    *identifier = identifier_;
    return S_OK;
  }
  HRESULT GetLongName(char* buffer, std::size_t capacity) override {
    // An input without a name answers none.
    return with([&](Input& input) { return input.name.empty() ? S_FALSE : copyText(input.name, buffer, capacity); });
  }
  HRESULT GetPortType(FourCharCode* portType) override {
    return with([&](Input& input) {
      *portType = input.portType;
      return S_OK;
    });
  }
  HRESULT IsProgramTallied(bool* tallied) override {
    return with([&](Input& input) {
      *tallied = input.tallied;
      return S_OK;
    });
  }
  HRESULT AddCallback(IBMDSwitcherInputCallback* callback) override {
    return theSwitcher().registerCallback("input" + std::to_string(identifier_), callback);
  }
  HRESULT RemoveCallback(IBMDSwitcherInputCallback* callback) override {
    return theSwitcher().unregisterCallback("input" + std::to_string(identifier_), callback);
  }

 private:
  template <typename Function>
  HRESULT with(Function function) {
    return theSwitcher().locked([&] {
      Input* input = theSwitcher().inputWith(identifier_);
      return input ? function(*input) : E_FAIL;
    });
  }
  const std::int64_t identifier_;
};

class FakeTransitionParameters final : public Counted<IBMDSwitcherTransitionParameters> {
 public:
  HRESULT GetNextTransitionSelection(std::uint32_t* selection) override {
    *selection = kTransitionSelectionBackground;
    return S_OK;
  }
};

class FakeMixEffectBlock final : public Counted<IBMDSwitcherMixEffectBlock> {
 public:
  HRESULT QueryInterface(const InterfaceID& iid, void** object) override {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (iid != IID_IBMDSwitcherTransitionParameters) return E_NOINTERFACE;
    *object = static_cast<IBMDSwitcherTransitionParameters*>(new FakeTransitionParameters);
    return S_OK;
  }
  HRESULT GetInt(FourCharCode property, std::int64_t* value) override {
    return theSwitcher().locked([&] {
      if (property == kMixEffectProgramInput) *value = theSwitcher().program_;
      else if (property == kMixEffectPreviewInput) *value = theSwitcher().preview_;
      else return E_FAIL;
      return S_OK;
    });
  }
  HRESULT SetInt(FourCharCode property, std::int64_t value) override {
    return theSwitcher().locked([&] {
      if (property == kMixEffectProgramInput) theSwitcher().program_ = value;
      else if (property == kMixEffectPreviewInput) theSwitcher().preview_ = value;
      else return E_FAIL;
      return S_OK;
    });
  }
  HRESULT GetFloat(FourCharCode property, double* value) override {
    if (property != kMixEffectTransitionPosition) return E_FAIL;
    *value = 0.0;
    return S_OK;
  }
  HRESULT AddCallback(IBMDSwitcherMixEffectBlockCallback* callback) override {
    return theSwitcher().registerCallback("block", callback);
  }
  HRESULT RemoveCallback(IBMDSwitcherMixEffectBlockCallback* callback) override {
    return theSwitcher().unregisterCallback("block", callback);
  }
};

class FakeKeyer final : public Counted<IBMDSwitcherDownstreamKey> {
 public:
  explicit FakeKeyer(std::size_t index) : index_(index) {}
  HRESULT GetOnAir(bool* onAir) override {
    return theSwitcher().locked([&] {
      if (index_ >= theSwitcher().keyers_.size()) return E_FAIL;
      *onAir = theSwitcher().keyers_[index_];
      return S_OK;
    });
  }
  HRESULT SetOnAir(bool onAir) override {
    return theSwitcher().locked([&] {
      if (index_ >= theSwitcher().keyers_.size()) return E_FAIL;
      theSwitcher().keyers_[index_] = onAir;
      return S_OK;
    });
  }
  HRESULT AddCallback(IBMDSwitcherDownstreamKeyCallback* callback) override {
    return theSwitcher().registerCallback("keyer" + std::to_string(index_), callback);
  }
  HRESULT RemoveCallback(IBMDSwitcherDownstreamKeyCallback* callback) override {
    return theSwitcher().unregisterCallback("keyer" + std::to_string(index_), callback);
  }

 private:
  const std::size_t index_;
};

// An iterator over objects made on demand, counted at creation.
template <typename Iterator, typename Object>
class FakeIterator final : public Counted<Iterator> {
 public:
  FakeIterator(std::size_t count, std::function<Object*(std::size_t)> make) : count_(count), make_(std::move(make)) {}
  HRESULT Next(Object** object) override {
    if (!object) return E_POINTER;
    if (next_ >= count_) {
      *object = nullptr;
      return S_FALSE;
    }
    *object = make_(next_++);
    return S_OK;
  }

 private:
  const std::size_t count_;
  std::size_t next_ = 0;
  std::function<Object*(std::size_t)> make_;
};

class FakeMacroPool final : public Counted<IBMDSwitcherMacroPool> {
 public:
  HRESULT GetMaxCount(std::uint32_t* count) override {
    *count = 100;
    return S_OK;
  }
  HRESULT IsValid(std::uint32_t index, bool* valid) override {
    *valid = theSwitcher().locked([&] { return theSwitcher().macros_.count(index) > 0; });
    return S_OK;
  }
  HRESULT GetName(std::uint32_t index, char* buffer, std::size_t capacity) override {
    return theSwitcher().locked([&] {
      auto found = theSwitcher().macros_.find(index);
      return found == theSwitcher().macros_.end() ? E_FAIL : copyText(found->second, buffer, capacity);
    });
  }
};

class FakeMacroControl final : public Counted<IBMDSwitcherMacroControl> {
 public:
  HRESULT Run(std::uint32_t index) override {
    theSwitcher().locked([&] { ++theSwitcher().macroRuns_[index]; });
    return S_OK;
  }
};

class FakeSwitcher final : public Counted<IBMDSwitcher> {
 public:
  HRESULT QueryInterface(const InterfaceID& iid, void** object) override {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (iid == IID_IBMDSwitcherMacroPool && !theSwitcher().locked([] { return theSwitcher().refuseMacroPool_; })) {
      *object = static_cast<IBMDSwitcherMacroPool*>(new FakeMacroPool);
      return S_OK;
    }
    if (iid == IID_IBMDSwitcherMacroControl) {
      *object = static_cast<IBMDSwitcherMacroControl*>(new FakeMacroControl);
      return S_OK;
    }
    return E_NOINTERFACE;
  }
  HRESULT GetProductName(char* buffer, std::size_t capacity) override {
    return copyText("Fake Switcher", buffer, capacity);
  }
  HRESULT AddCallback(IBMDSwitcherCallback* callback) override {
    return theSwitcher().registerCallback("switcher", callback);
  }
  HRESULT RemoveCallback(IBMDSwitcherCallback* callback) override {
    return theSwitcher().unregisterCallback("switcher", callback);
  }
  HRESULT CreateIterator(const InterfaceID& iid, void** iterator) override {
    if (!iterator) return E_POINTER;
    *iterator = nullptr;
    if (iid == IID_IBMDSwitcherInputIterator) {
      std::vector<std::int64_t> identifiers = theSwitcher().locked([] {
        std::vector<std::int64_t> all;
        for (const Input& input : theSwitcher().inputs_) all.push_back(input.identifier);
        return all;
      });
      *iterator = static_cast<IBMDSwitcherInputIterator*>(new FakeIterator<IBMDSwitcherInputIterator, IBMDSwitcherInput>(
          identifiers.size(), [identifiers](std::size_t i) { return new FakeInput(identifiers[i]); }));
    } else if (iid == IID_IBMDSwitcherMixEffectBlockIterator) {
      *iterator = static_cast<IBMDSwitcherMixEffectBlockIterator*>(
          new FakeIterator<IBMDSwitcherMixEffectBlockIterator, IBMDSwitcherMixEffectBlock>(
              1, [](std::size_t) { return new FakeMixEffectBlock; }));
    } else if (iid == IID_IBMDSwitcherDownstreamKeyIterator) {
      const std::size_t count = theSwitcher().locked([] { return theSwitcher().keyers_.size(); });
      *iterator = static_cast<IBMDSwitcherDownstreamKeyIterator*>(
          new FakeIterator<IBMDSwitcherDownstreamKeyIterator, IBMDSwitcherDownstreamKey>(
              count, [](std::size_t i) { return new FakeKeyer(i); }));
    } else {
      return E_NOINTERFACE;
    }
    return S_OK;
  }
};

class FakeDiscovery final : public Counted<IBMDSwitcherDiscovery> {
 public:
  HRESULT ConnectTo(const char* address, IBMDSwitcher** switcher, FourCharCode* failureReason) override {
    if (!address || !switcher || !failureReason) return E_POINTER;
    *switcher = nullptr;
    const FourCharCode failure = theSwitcher().locked([] {
      ++theSwitcher().attempts_;
      return theSwitcher().failure_;
    });
    if (failure != 0) {
      *failureReason = failure;
      return E_FAIL;
    }
    *switcher = new FakeSwitcher;
    return S_OK;
  }
};

}  // namespace
}  // namespace fake_switcher

extern "C" __attribute__((visibility("default"))) atem::IBMDSwitcherDiscovery* GetBMDSwitcherDiscoveryInstance_0003() {
  return new fake_switcher::FakeDiscovery;
}

extern "C" __attribute__((visibility("default"))) fake_switcher::FakeSwitcherScript* FakeSwitcherScriptInstance() {
  return &fake_switcher::theSwitcher();
}
