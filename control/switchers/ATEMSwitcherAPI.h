#pragma once
// The switcher SDK as this program uses it: component interfaces with
// reference counts and interface queries, status codes and the
// four-character codes of ports, properties and events. A driver is a shared
// object exporting "GetBMDSwitcherDiscoveryInstance_0003" (no arguments, a new
// discovery object or none). The program and the driver are built with the
// same compiler, so these abstract classes are the binary interface.
//
// Strings cross the boundary as UTF-8 in the caller's buffer: S_OK with the
// text, S_FALSE when the object has none, a negative status when it does not
// fit or cannot be read. Callbacks arrive on the driver's own threads.

#include <cstddef>
#include <cstdint>

namespace atem {

using HRESULT = std::int32_t;
inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT S_FALSE = 1;
inline constexpr HRESULT E_NOINTERFACE = static_cast<HRESULT>(0x80000004u);
inline constexpr HRESULT E_POINTER = static_cast<HRESULT>(0x80000005u);
inline constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);

using BMDSwitcherInputId = std::int64_t;
using FourCharCode = std::uint32_t;

constexpr FourCharCode fourCharCode(const char (&code)[5]) {
  return (static_cast<FourCharCode>(static_cast<unsigned char>(code[0])) << 24) |
         (static_cast<FourCharCode>(static_cast<unsigned char>(code[1])) << 16) |
         (static_cast<FourCharCode>(static_cast<unsigned char>(code[2])) << 8) |
         static_cast<FourCharCode>(static_cast<unsigned char>(code[3]));
}

// Port types.
inline constexpr FourCharCode kPortTypeExternal = fourCharCode("extn");
inline constexpr FourCharCode kPortTypeAuxOutput = fourCharCode("auxo");
// Connection failure reasons.
inline constexpr FourCharCode kConnectFailureNoResponse = fourCharCode("cfnr");
inline constexpr FourCharCode kConnectFailureIncompatibleFirmware = fourCharCode("cfif");
// Switcher events.
inline constexpr FourCharCode kSwitcherEventDisconnected = fourCharCode("sedi");
// Mix-effect block properties.
inline constexpr FourCharCode kMixEffectProgramInput = fourCharCode("pgip");
inline constexpr FourCharCode kMixEffectPreviewInput = fourCharCode("pvip");
inline constexpr FourCharCode kMixEffectInTransition = fourCharCode("iits");
inline constexpr FourCharCode kMixEffectTransitionPosition = fourCharCode("tsps");
// Input events.
inline constexpr FourCharCode kInputEventProgramTally = fourCharCode("ipgt");
inline constexpr FourCharCode kInputEventLongName = fourCharCode("lgnm");
// Downstream keyer events.
inline constexpr FourCharCode kDownstreamKeyEventOnAir = fourCharCode("onaC");
// Next-transition selection bits.
inline constexpr std::uint32_t kTransitionSelectionBackground = 1u << 0;

struct InterfaceID {
  std::uint8_t bytes[16];
  friend bool operator==(const InterfaceID&, const InterfaceID&) = default;
};

// 00000000-0000-0000-C000-000000000046
inline constexpr InterfaceID IID_IUnknown{{0, 0, 0, 0, 0, 0, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

// The identifiers of this program's interface set, "VZSW" and a number.
constexpr InterfaceID makeInterfaceID(std::uint8_t number) {
  return InterfaceID{{'V', 'Z', 'S', 'W', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, number}};
}
inline constexpr InterfaceID IID_IBMDSwitcherInputIterator = makeInterfaceID(1);
inline constexpr InterfaceID IID_IBMDSwitcherMixEffectBlockIterator = makeInterfaceID(2);
inline constexpr InterfaceID IID_IBMDSwitcherDownstreamKeyIterator = makeInterfaceID(3);
inline constexpr InterfaceID IID_IBMDSwitcherMacroPool = makeInterfaceID(4);
inline constexpr InterfaceID IID_IBMDSwitcherMacroControl = makeInterfaceID(5);
inline constexpr InterfaceID IID_IBMDSwitcherInputAux = makeInterfaceID(6);
inline constexpr InterfaceID IID_IBMDSwitcherTransitionParameters = makeInterfaceID(7);
inline constexpr InterfaceID IID_IBMDSwitcherCallback = makeInterfaceID(8);
inline constexpr InterfaceID IID_IBMDSwitcherInputCallback = makeInterfaceID(9);
inline constexpr InterfaceID IID_IBMDSwitcherInputAuxCallback = makeInterfaceID(10);
inline constexpr InterfaceID IID_IBMDSwitcherMixEffectBlockCallback = makeInterfaceID(11);
inline constexpr InterfaceID IID_IBMDSwitcherDownstreamKeyCallback = makeInterfaceID(12);

class IUnknown {
 public:
  virtual HRESULT QueryInterface(const InterfaceID& iid, void** object) = 0;
  virtual std::uint32_t AddRef() = 0;
  virtual std::uint32_t Release() = 0;

 protected:
  virtual ~IUnknown() = default;
};

// Callback interfaces (implemented by the program).
class IBMDSwitcherCallback : public IUnknown {
 public:
  virtual HRESULT Notify(FourCharCode eventType) = 0;
};
class IBMDSwitcherInputCallback : public IUnknown {
 public:
  virtual HRESULT Notify(FourCharCode eventType) = 0;
};
class IBMDSwitcherInputAuxCallback : public IUnknown {
 public:
  virtual HRESULT Notify(FourCharCode eventType) = 0;
};
class IBMDSwitcherMixEffectBlockCallback : public IUnknown {
 public:
  virtual HRESULT PropertyChanged(FourCharCode propertyId) = 0;
};
class IBMDSwitcherDownstreamKeyCallback : public IUnknown {
 public:
  virtual HRESULT Notify(FourCharCode eventType) = 0;
};

// Driver objects.
class IBMDSwitcherInputAux : public IUnknown {
 public:
  virtual HRESULT GetInputSource(BMDSwitcherInputId* source) = 0;
  virtual HRESULT SetInputSource(BMDSwitcherInputId source) = 0;
  virtual HRESULT AddCallback(IBMDSwitcherInputAuxCallback* callback) = 0;
  virtual HRESULT RemoveCallback(IBMDSwitcherInputAuxCallback* callback) = 0;
};

class IBMDSwitcherInput : public IUnknown {  // asks for IBMDSwitcherInputAux on 'auxo' ports
 public:
  virtual HRESULT GetInputId(BMDSwitcherInputId* identifier) = 0;
  virtual HRESULT GetLongName(char* buffer, std::size_t capacity) = 0;
  virtual HRESULT GetPortType(FourCharCode* portType) = 0;
  virtual HRESULT IsProgramTallied(bool* tallied) = 0;
  virtual HRESULT AddCallback(IBMDSwitcherInputCallback* callback) = 0;
  virtual HRESULT RemoveCallback(IBMDSwitcherInputCallback* callback) = 0;
};

class IBMDSwitcherTransitionParameters : public IUnknown {
 public:
  virtual HRESULT GetNextTransitionSelection(std::uint32_t* selection) = 0;
};

class IBMDSwitcherMixEffectBlock : public IUnknown {  // asks for IBMDSwitcherTransitionParameters
 public:
  virtual HRESULT GetInt(FourCharCode propertyId, std::int64_t* value) = 0;
  virtual HRESULT SetInt(FourCharCode propertyId, std::int64_t value) = 0;
  virtual HRESULT GetFloat(FourCharCode propertyId, double* value) = 0;
  virtual HRESULT AddCallback(IBMDSwitcherMixEffectBlockCallback* callback) = 0;
  virtual HRESULT RemoveCallback(IBMDSwitcherMixEffectBlockCallback* callback) = 0;
};

class IBMDSwitcherDownstreamKey : public IUnknown {
 public:
  virtual HRESULT GetOnAir(bool* onAir) = 0;
  virtual HRESULT SetOnAir(bool onAir) = 0;
  virtual HRESULT AddCallback(IBMDSwitcherDownstreamKeyCallback* callback) = 0;
  virtual HRESULT RemoveCallback(IBMDSwitcherDownstreamKeyCallback* callback) = 0;
};

class IBMDSwitcherMacroPool : public IUnknown {
 public:
  virtual HRESULT GetMaxCount(std::uint32_t* count) = 0;
  virtual HRESULT IsValid(std::uint32_t index, bool* valid) = 0;
  virtual HRESULT GetName(std::uint32_t index, char* buffer, std::size_t capacity) = 0;
};

class IBMDSwitcherMacroControl : public IUnknown {
 public:
  virtual HRESULT Run(std::uint32_t index) = 0;
};

// Iterators: Next answers S_OK with an object (one reference, the caller's),
// S_FALSE past the last one.
class IBMDSwitcherInputIterator : public IUnknown {
 public:
  virtual HRESULT Next(IBMDSwitcherInput** input) = 0;
};
class IBMDSwitcherMixEffectBlockIterator : public IUnknown {
 public:
  virtual HRESULT Next(IBMDSwitcherMixEffectBlock** block) = 0;
};
class IBMDSwitcherDownstreamKeyIterator : public IUnknown {
 public:
  virtual HRESULT Next(IBMDSwitcherDownstreamKey** keyer) = 0;
};

// Asks for IBMDSwitcherMacroPool and IBMDSwitcherMacroControl.
class IBMDSwitcher : public IUnknown {
 public:
  virtual HRESULT GetProductName(char* buffer, std::size_t capacity) = 0;
  virtual HRESULT AddCallback(IBMDSwitcherCallback* callback) = 0;
  virtual HRESULT RemoveCallback(IBMDSwitcherCallback* callback) = 0;
  // One of the three iterator identifiers.
  virtual HRESULT CreateIterator(const InterfaceID& iid, void** iterator) = 0;
};

class IBMDSwitcherDiscovery : public IUnknown {
 public:
  // On failure `failureReason` holds 'cfnr', 'cfif' or another code.
  virtual HRESULT ConnectTo(const char* address, IBMDSwitcher** switcher, FourCharCode* failureReason) = 0;
};

inline constexpr const char* kDiscoveryEntryPoint = "GetBMDSwitcherDiscoveryInstance_0003";
using GetDiscoveryInstanceFunction = IBMDSwitcherDiscovery* (*)();

}  // namespace atem
