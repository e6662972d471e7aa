// The x86-64 register set (CMake picks this file on x86-64 hosts).
#include <ucontext.h>

#include "crashreporter/Source/ThreadState.h"

namespace crashreporter {
namespace {

constexpr std::uint32_t kRegisterCount = 21;
constexpr const char* kNames[kRegisterCount] = {"rip", "rbp", "rsp", "rax", "rbx", "rcx", "rdx",
                                                "rdi", "rsi", "r8",  "r9",  "r10", "r11", "r12",
                                                "r13", "r14", "r15", "rflags", "cs", "fs", "gs"};
// rbx, rsp, rbp, r12..r15
constexpr std::uint64_t kCalleePreserved = (1u << 4) | (1u << 2) | (1u << 1) | (1u << 13) | (1u << 14) | (1u << 15) | (1u << 16);

struct DwarfRow {
  std::uint32_t reg;
  std::uint64_t dwarf;
};
constexpr DwarfRow kDwarf[] = {{3, 0},   {6, 1},   {5, 2},   {4, 3},   {8, 4},   {7, 5},   {1, 6},
                               {2, 7},   {9, 8},   {10, 9},  {11, 10}, {12, 11}, {13, 12}, {14, 13},
                               {15, 14}, {16, 15}, {17, 49}, {18, 51}, {19, 54}, {20, 55}};

}  // namespace

void drcrash_async_thread_state_ucontext_init(drcrash_async_thread_state* state, const void* context) {
  *state = drcrash_async_thread_state{};
  const auto* uc = static_cast<const ucontext_t*>(context);
  const greg_t* g = uc->uc_mcontext.gregs;
  const std::uint64_t values[kRegisterCount] = {
      static_cast<std::uint64_t>(g[REG_RIP]), static_cast<std::uint64_t>(g[REG_RBP]),
      static_cast<std::uint64_t>(g[REG_RSP]), static_cast<std::uint64_t>(g[REG_RAX]),
      static_cast<std::uint64_t>(g[REG_RBX]), static_cast<std::uint64_t>(g[REG_RCX]),
      static_cast<std::uint64_t>(g[REG_RDX]), static_cast<std::uint64_t>(g[REG_RDI]),
      static_cast<std::uint64_t>(g[REG_RSI]), static_cast<std::uint64_t>(g[REG_R8]),
      static_cast<std::uint64_t>(g[REG_R9]),  static_cast<std::uint64_t>(g[REG_R10]),
      static_cast<std::uint64_t>(g[REG_R11]), static_cast<std::uint64_t>(g[REG_R12]),
      static_cast<std::uint64_t>(g[REG_R13]), static_cast<std::uint64_t>(g[REG_R14]),
      static_cast<std::uint64_t>(g[REG_R15]), static_cast<std::uint64_t>(g[REG_EFL]),
      static_cast<std::uint64_t>(g[REG_CSGSFS]) & 0xffff,
      (static_cast<std::uint64_t>(g[REG_CSGSFS]) >> 32) & 0xffff,
      (static_cast<std::uint64_t>(g[REG_CSGSFS]) >> 16) & 0xffff,
  };
  for (std::uint32_t i = 0; i < kRegisterCount; ++i) drcrash_async_thread_state_set_reg(state, i, values[i]);
}

__attribute__((noinline)) drcrash_error_t drcrash_async_thread_state_current(drcrash_async_capture_callback callback,
                                                                              void* context) {
  ucontext_t uc;
  getcontext(&uc);
  drcrash_async_thread_state state;
  drcrash_async_thread_state_ucontext_init(&state, &uc);
  // This routine's frame: [rbp] = the caller's rbp, [rbp + 8] = the return address.
  auto* frame = static_cast<std::uint64_t*>(__builtin_frame_address(0));
  drcrash_async_thread_state_set_reg(&state, DRCRASH_REG_IP, reinterpret_cast<std::uint64_t>(__builtin_return_address(0)));
  drcrash_async_thread_state_set_reg(&state, DRCRASH_REG_FP, frame[0]);
  drcrash_async_thread_state_set_reg(&state, DRCRASH_REG_SP, reinterpret_cast<std::uint64_t>(frame + 2));
  return callback(&state, context);
}

drcrash_host_processor drcrash_async_host_processor() { return {0x01000007, 3, 1}; }

std::uint32_t drcrash_async_thread_state_get_reg_count(const drcrash_async_thread_state*) { return kRegisterCount; }

const char* drcrash_async_thread_state_get_reg_name(const drcrash_async_thread_state*, std::uint32_t reg) {
  return reg < kRegisterCount ? kNames[reg] : "???";
}

void drcrash_async_thread_state_clear_volatile_regs(drcrash_async_thread_state* state) {
  state->valid_regs &= kCalleePreserved;
}

bool drcrash_async_thread_state_map_dwarf_to_reg(const drcrash_async_thread_state*, std::uint64_t dwarf_reg,
                                                 std::uint32_t* reg) {
  for (const DwarfRow& row : kDwarf) {
    if (row.dwarf == dwarf_reg) {
      *reg = row.reg;
      return true;
    }
  }
  return false;
}

bool drcrash_async_thread_state_map_reg_to_dwarf(const drcrash_async_thread_state*, std::uint32_t reg,
                                                 std::uint64_t* dwarf_reg) {
  for (const DwarfRow& row : kDwarf) {
    if (row.reg == reg) {
      *dwarf_reg = row.dwarf;
      return true;
    }
  }
  return false;
}

}  // namespace crashreporter
