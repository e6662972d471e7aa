// The arm64 register set (CMake picks this file on aarch64 hosts).
#include <ucontext.h>

#include "crashreporter/Source/ThreadState.h"

namespace crashreporter {
namespace {

// pc 0, fp 1, sp 2, x0..x28 3..31, lr 32, cpsr 33
constexpr std::uint32_t kRegisterCount = 34;
constexpr std::uint32_t kX0 = 3, kLinkRegister = 32, kStatus = 33;
constexpr const char* kNames[kRegisterCount] = {
    "pc",  "fp",  "sp",  "x0",  "x1",  "x2",  "x3",  "x4",  "x5",  "x6",  "x7",  "x8",
    "x9",  "x10", "x11", "x12", "x13", "x14", "x15", "x16", "x17", "x18", "x19", "x20",
    "x21", "x22", "x23", "x24", "x25", "x26", "x27", "x28", "lr",  "cpsr"};
// fp, sp and x19..x28 survive a call.
constexpr std::uint64_t kCalleePreserved = (std::uint64_t{1} << 1) | (std::uint64_t{1} << 2) | (std::uint64_t{0x3FF} << 22);

// DWARF numbers: x0..x30 are 0..30 (x29 the frame pointer, x30 the link register), sp 31.
bool dwarfToRegister(std::uint64_t dwarf, std::uint32_t* reg) {
  if (dwarf <= 28) *reg = kX0 + static_cast<std::uint32_t>(dwarf);
  else if (dwarf == 29) *reg = DRCRASH_REG_FP;
  else if (dwarf == 30) *reg = kLinkRegister;
  else if (dwarf == 31) *reg = DRCRASH_REG_SP;
  else return false;
  return true;
}

}  // namespace

drcrash_host_processor drcrash_async_host_processor() { return {0x0100000C, 0, 0}; }

void drcrash_async_thread_state_ucontext_init(drcrash_async_thread_state* state, const void* context) {
  *state = drcrash_async_thread_state{};
  const mcontext_t& m = static_cast<const ucontext_t*>(context)->uc_mcontext;
  drcrash_async_thread_state_set_reg(state, DRCRASH_REG_IP, m.pc);
  drcrash_async_thread_state_set_reg(state, DRCRASH_REG_FP, m.regs[29]);
  drcrash_async_thread_state_set_reg(state, DRCRASH_REG_SP, m.sp);
  for (std::uint32_t i = 0; i <= 28; ++i) drcrash_async_thread_state_set_reg(state, kX0 + i, m.regs[i]);
  drcrash_async_thread_state_set_reg(state, kLinkRegister, m.regs[30]);
  drcrash_async_thread_state_set_reg(state, kStatus, m.pstate);
}

__attribute__((noinline)) drcrash_error_t drcrash_async_thread_state_current(drcrash_async_capture_callback callback,
                                                                              void* context) {
  ucontext_t uc;
  getcontext(&uc);
  drcrash_async_thread_state state;
  drcrash_async_thread_state_ucontext_init(&state, &uc);
  // This routine's frame record: [fp] = the caller's fp, [fp + 8] = the return
  // address. The caller's sp is not known from here; just above the record is
  // the nearest value (unwinding the caller goes by its frame pointer).
  auto* frame = static_cast<std::uint64_t*>(__builtin_frame_address(0));
  drcrash_async_thread_state_set_reg(&state, DRCRASH_REG_IP, reinterpret_cast<std::uint64_t>(__builtin_return_address(0)));
  drcrash_async_thread_state_set_reg(&state, DRCRASH_REG_FP, frame[0]);
  drcrash_async_thread_state_set_reg(&state, DRCRASH_REG_SP, reinterpret_cast<std::uint64_t>(frame + 2));
  drcrash_async_thread_state_set_reg(&state, kLinkRegister, frame[1]);
  return callback(&state, context);
}

std::uint32_t drcrash_async_thread_state_get_reg_count(const drcrash_async_thread_state*) { return kRegisterCount; }

const char* drcrash_async_thread_state_get_reg_name(const drcrash_async_thread_state*, std::uint32_t reg) {
  return reg < kRegisterCount ? kNames[reg] : "???";
}

void drcrash_async_thread_state_clear_volatile_regs(drcrash_async_thread_state* state) {
  state->valid_regs &= kCalleePreserved;
}

bool drcrash_async_thread_state_map_dwarf_to_reg(const drcrash_async_thread_state*, std::uint64_t dwarf_reg,
                                                 std::uint32_t* reg) {
  return dwarfToRegister(dwarf_reg, reg);
}

bool drcrash_async_thread_state_map_reg_to_dwarf(const drcrash_async_thread_state*, std::uint32_t reg,
                                                 std::uint64_t* dwarf_reg) {
  for (std::uint64_t dwarf = 0; dwarf <= 31; ++dwarf) {
    std::uint32_t mapped;
    if (dwarfToRegister(dwarf, &mapped) && mapped == reg) {
      *dwarf_reg = dwarf;
      return true;
    }
  }
  return false;
}

}  // namespace crashreporter
