// Compact unwind tables: damaged __unwind_info bytes through the index and
// page search, every decoded encoding applied to a small stack. Errors are
// codes; nothing is read outside the section but the stack and the function
// bytes the entry names, through the safe reads.

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "crashreporter/Source/CompactUnwind.h"

using namespace crashreporter;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool ready = [] {
    drcrash_async_memory_init();
    return true;
  }();
  (void)ready;
  if (size < 5) return 0;
  std::uint32_t target;
  std::memcpy(&target, data, 4);
  constexpr std::uint32_t kCpus[] = {kDrcrashCpuTypeX86, kDrcrashCpuTypeX86_64, kDrcrashCpuTypeArm64, 18};
  const std::uint32_t cpu = kCpus[data[4] % 4];
  drcrash_async_mobject section;
  if (drcrash_async_mobject_init(&section, reinterpret_cast<std::uint64_t>(data + 5), size - 5, true) != DRCRASH_ESUCCESS) {
    return 0;
  }
  drcrash_async_unwind_info_reader reader;
  std::uint32_t function = 0, encoding = target;
  if (drcrash_async_unwind_info_reader_init(&reader, &section, cpu) == DRCRASH_ESUCCESS) {
    drcrash_async_unwind_info_find(&reader, target, &function, &encoding);
  }
  drcrash_async_unwind_entry entry;
  if (drcrash_async_unwind_entry_decode(&entry, cpu, encoding) == DRCRASH_ESUCCESS) {
    std::uint64_t stack[64] = {};
    drcrash_async_thread_state state;
    const auto middle = reinterpret_cast<std::uint64_t>(stack + 32);
    drcrash_async_thread_state_set_reg(&state, DRCRASH_REG_SP, middle);
    drcrash_async_thread_state_set_reg(&state, DRCRASH_REG_FP, middle);
    drcrash_async_thread_state_set_reg(&state, 32, 0x1234);
    drcrash_async_thread_state next;
    drcrash_async_unwind_entry_apply(reinterpret_cast<std::uint64_t>(data), &state, &entry, &next);
  }
  return 0;
}
