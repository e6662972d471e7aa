// Call-frame information: damaged .eh_frame bytes, programs and expressions
// must give an error code and never read outside the section.

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "crashreporter/Source/DwarfCfaProgram.h"
#include "crashreporter/Source/DwarfExpression.h"
#include "crashreporter/Source/DwarfFrameInfo.h"

using namespace crashreporter;
using namespace crashreporter::drcrash::async;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool ready = [] {
    drcrash_async_memory_init();
    return true;
  }();
  (void)ready;
  if (size < 8) return 0;
  std::uint64_t pc;
  std::memcpy(&pc, data, sizeof pc);
  const auto section = reinterpret_cast<std::uint64_t>(data + 8);
  const std::size_t length = size - 8;
  const drcrash_async_byteorder* bo = &drcrash_async_byteorder_native;

  drcrash_async_mobject mobj;
  if (length == 0 || drcrash_async_mobject_init(&mobj, section, length, true) != DRCRASH_ESUCCESS) return 0;
  std::uint64_t stack[16] = {};
  drcrash_async_thread_state registers;
  drcrash_async_thread_state_set_reg(&registers, DRCRASH_REG_SP, reinterpret_cast<std::uint64_t>(stack));
  drcrash_async_thread_state_set_reg(&registers, DRCRASH_REG_IP, pc);

  drcrash_async_dwarf_fde_info fde;
  const bool debugFrame = (pc & 1) != 0;
  if (drcrash_async_cfi_find_fde<std::uint64_t>(&mobj, bo, debugFrame, section, pc, &fde) == DRCRASH_ESUCCESS) {
    dwarf_cfa_state<std::uint64_t, std::int64_t> rules;
    const gnu_ehptr_reader<std::uint64_t> reader(bo);
    if (eval_program<std::uint64_t, std::int64_t>(&rules, &mobj, false, 0, fde.pc_start, &fde.cie, &reader, bo,
                                                  fde.cie.initial_instructions_offset, 0,
                                                  fde.cie.initial_instructions_length) == DRCRASH_ESUCCESS &&
        eval_program<std::uint64_t, std::int64_t>(&rules, &mobj, true, pc, fde.pc_start, &fde.cie, &reader, bo,
                                                  fde.instructions_offset, 0, fde.instructions_length) == DRCRASH_ESUCCESS) {
      drcrash_async_thread_state next;
      apply_state<std::uint64_t, std::int64_t>(&rules, &fde.cie, &registers, bo, &next);
    }
  }
  // The same bytes as a program from the start, and as an expression.
  dwarf_cfa_state<std::uint64_t, std::int64_t> rules;
  drcrash_async_dwarf_cie_info cie;
  cie.code_alignment_factor = 1;
  cie.data_alignment_factor = -8;
  eval_program<std::uint64_t, std::int64_t>(&rules, &mobj, true, pc, 0, &cie, nullptr, bo, section, 0, length);
  std::uint64_t result;
  drcrash_async_dwarf_expression_eval<std::uint64_t, std::int64_t>(&mobj, &registers, bo, section, 0, length, nullptr, 0,
                                                                   &result);
  return 0;
}
