#pragma once
// drcrash_async_thread_state: the registers of one frame, in the crash
// report's numbering, with a mask of the ones known. Register 0 is always the
// program counter, 1 the frame pointer, 2 the stack pointer. Built from a
// signal's ucontext_t or captured on the running thread; copied by value.
// Async-signal-safe.
//
// x86-64 numbering: 0 "rip", 1 "rbp", 2 "rsp", 3 "rax", 4 "rbx", 5 "rcx",
// 6 "rdx", 7 "rdi", 8 "rsi", 9..16 "r8".."r15", 17 "rflags", 18 "cs",
// 19 "fs", 20 "gs". arm64 numbering: 0 "pc", 1 "fp", 2 "sp", 3..31
// "x0".."x28", 32 "lr", 33 "cpsr". One set is built, the host's
// (ThreadStateX86_64.cpp or ThreadStateArm64.cpp).

#include <cstdint>

#include "crashreporter/Source/AsyncSupport.h"

namespace crashreporter {

enum drcrash_frame_status_t : int {
  DRCRASH_FRAME_ESUCCESS = 0,
  DRCRASH_FRAME_EUNKNOWN = 1,
  DRCRASH_FRAME_ENOFRAME = 2,
  DRCRASH_FRAME_EBADFRAME = 3,
  DRCRASH_FRAME_ENOTSUP = 4,
  DRCRASH_FRAME_EINVAL = 5,
  DRCRASH_FRAME_INTERNAL = 6,
  DRCRASH_FRAME_EBADREG = 7,
};
const char* drcrash_frame_strerror(int status);

inline constexpr std::uint32_t kDrcrashStackDirectionDown = 2;
inline constexpr std::uint32_t kDrcrashMaxRegisters = 34;
inline constexpr std::uint32_t DRCRASH_REG_IP = 0, DRCRASH_REG_FP = 1, DRCRASH_REG_SP = 2;

struct drcrash_async_thread_state {
  std::uint32_t stack_direction = kDrcrashStackDirectionDown;
  std::uint64_t greg_size = 8;
  std::uint64_t valid_regs = 0;
  std::uint64_t regs[kDrcrashMaxRegisters] = {};
};

// From the `void* context` a SA_SIGINFO handler receives.
void drcrash_async_thread_state_ucontext_init(drcrash_async_thread_state* state, const void* ucontext);
// The calling thread as it stands at the call: pc = the return address into
// the caller, fp = the caller's frame pointer, sp = the caller's stack pointer
// after the return. Returns callback(state, context).
using drcrash_async_capture_callback = drcrash_error_t (*)(drcrash_async_thread_state* state, void* context);
drcrash_error_t drcrash_async_thread_state_current(drcrash_async_capture_callback callback, void* context);

// The host processor as the report records it: Mach-encoded type and
// subtype, and the report's architecture value (x86-64: 1; arm64 has none of
// its own: 0, the readers take the processor from the machine record).
struct drcrash_host_processor {
  std::uint32_t mach_type;
  std::uint32_t mach_subtype;
  std::uint32_t report_architecture;
};
drcrash_host_processor drcrash_async_host_processor();

bool drcrash_async_thread_state_has_reg(const drcrash_async_thread_state* state, std::uint32_t reg);
std::uint64_t drcrash_async_thread_state_get_reg(const drcrash_async_thread_state* state, std::uint32_t reg);
void drcrash_async_thread_state_set_reg(drcrash_async_thread_state* state, std::uint32_t reg, std::uint64_t value);
void drcrash_async_thread_state_clear_reg(drcrash_async_thread_state* state, std::uint32_t reg);
void drcrash_async_thread_state_clear_all_regs(drcrash_async_thread_state* state);
// Keeps only the registers a call preserves.
void drcrash_async_thread_state_clear_volatile_regs(drcrash_async_thread_state* state);
std::uint32_t drcrash_async_thread_state_get_reg_count(const drcrash_async_thread_state* state);
const char* drcrash_async_thread_state_get_reg_name(const drcrash_async_thread_state* state, std::uint32_t reg);
bool drcrash_async_thread_state_map_dwarf_to_reg(const drcrash_async_thread_state* state, std::uint64_t dwarf_reg,
                                                 std::uint32_t* reg);
bool drcrash_async_thread_state_map_reg_to_dwarf(const drcrash_async_thread_state* state, std::uint32_t reg,
                                                 std::uint64_t* dwarf_reg);

}  // namespace crashreporter
