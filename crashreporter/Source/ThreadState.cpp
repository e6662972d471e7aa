#include "crashreporter/Source/ThreadState.h"

namespace crashreporter {

const char* drcrash_frame_strerror(int status) {
  switch (status) {
    case DRCRASH_FRAME_ESUCCESS: return "No error";
    case DRCRASH_FRAME_EUNKNOWN: return "Unknown error";
    case DRCRASH_FRAME_ENOFRAME: return "No frames are available";
    case DRCRASH_FRAME_EBADFRAME: return "Corrupted frame";
    case DRCRASH_FRAME_ENOTSUP: return "Operation not supported";
    case DRCRASH_FRAME_EINVAL: return "Invalid argument";
    case DRCRASH_FRAME_INTERNAL: return "Internal error";
    case DRCRASH_FRAME_EBADREG: return "Invalid register";
    default: return "Unhandled error code";
  }
}

bool drcrash_async_thread_state_has_reg(const drcrash_async_thread_state* state, std::uint32_t reg) {
  return reg < kDrcrashMaxRegisters && (state->valid_regs & (std::uint64_t{1} << reg)) != 0;
}

std::uint64_t drcrash_async_thread_state_get_reg(const drcrash_async_thread_state* state, std::uint32_t reg) {
  return reg < kDrcrashMaxRegisters ? state->regs[reg] : 0;
}

void drcrash_async_thread_state_set_reg(drcrash_async_thread_state* state, std::uint32_t reg, std::uint64_t value) {
  if (reg >= kDrcrashMaxRegisters) return;
  state->regs[reg] = state->greg_size == 4 ? (value & 0xffffffffu) : value;
  state->valid_regs |= std::uint64_t{1} << reg;
}

void drcrash_async_thread_state_clear_reg(drcrash_async_thread_state* state, std::uint32_t reg) {
  if (reg < kDrcrashMaxRegisters) state->valid_regs &= ~(std::uint64_t{1} << reg);
}

void drcrash_async_thread_state_clear_all_regs(drcrash_async_thread_state* state) { state->valid_regs = 0; }

}  // namespace crashreporter
