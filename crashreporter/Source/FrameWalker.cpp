#include "crashreporter/Source/FrameWalker.h"

#include "crashreporter/Source/AsyncMemory.h"
#include "crashreporter/Source/DwarfCfaProgram.h"

namespace crashreporter {
namespace {

constexpr std::uint64_t kLowestProgramCounter = 0x1001;

// Holds the image list's reading mark for one step.
class ReadingMark {
 public:
  explicit ReadingMark(drcrash_async_loaded_images* images) : images_(images) {
    drcrash_async_loaded_images_set_reading(images_, true);
  }
  ~ReadingMark() { drcrash_async_loaded_images_set_reading(images_, false); }

 private:
  drcrash_async_loaded_images* images_;
};

using Rules = drcrash::async::dwarf_cfa_state<std::uint64_t, std::int64_t>;

// The rule rows already computed in the caller's read-cache scope, by lookup
// pc: deep recursions and parked thread pools unwind the same pcs again and
// again. Valid only for the scope (generation) they were made in, whose reads
// they come from; process-wide like the read cache, used by its holder only.
constexpr std::size_t kRuleCacheSlots = 64;
struct CachedRules {
  std::uint64_t generation = 0;
  std::uint64_t pc = 0;
  drcrash::async::drcrash_async_dwarf_cie_info cie;
  Rules rules;
};
CachedRules gRuleCache[kRuleCacheSlots];

CachedRules* ruleSlot(std::uint64_t generation, std::uint64_t pc) {
  if (generation == 0) return nullptr;
  return &gRuleCache[(pc ^ (pc >> 12)) % kRuleCacheSlots];
}

// The rules of the row that holds `lookup`, from the image's .eh_frame.
drcrash_frame_status_t computeRules(const drcrash_async_image* image, std::uint64_t lookup,
                                    drcrash::async::drcrash_async_dwarf_cie_info* cie, Rules* rules) {
  using namespace drcrash::async;
  drcrash_async_dwarf_fde_info fde;
  if (drcrash_async_eh_frame_hdr_find_fde(image->eh_frame_hdr, image->eh_frame_hdr_size, image->eh_frame_limit, lookup,
                                          &fde) != DRCRASH_ESUCCESS) {
    return DRCRASH_FRAME_ENOTSUP;
  }
  drcrash_async_mobject section;
  if (drcrash_async_mobject_init(&section, image->unwind_segment_start,
                                 image->eh_frame_limit - image->unwind_segment_start, true) != DRCRASH_ESUCCESS) {
    return DRCRASH_FRAME_EINVAL;
  }
  const drcrash_async_byteorder* bo = &drcrash_async_byteorder_native;
  const gnu_ehptr_reader<std::uint64_t> reader(bo);
  if (eval_program<std::uint64_t, std::int64_t>(rules, &section, false, 0, fde.pc_start, &fde.cie, &reader, bo,
                                                fde.cie.initial_instructions_offset, 0,
                                                fde.cie.initial_instructions_length) != DRCRASH_ESUCCESS ||
      eval_program<std::uint64_t, std::int64_t>(rules, &section, true, lookup, fde.pc_start, &fde.cie, &reader, bo,
                                                fde.instructions_offset, 0, fde.instructions_length) != DRCRASH_ESUCCESS) {
    return DRCRASH_FRAME_ENOTSUP;
  }
  *cie = fde.cie;
  return DRCRASH_FRAME_ESUCCESS;
}

}  // namespace

drcrash_frame_status_t drcrash_async_frame_compact_unwind_reader(drcrash_async_loaded_images*,
                                                                 const drcrash_async_thread_state* current,
                                                                 const drcrash_async_thread_state*,
                                                                 drcrash_async_thread_state*) {
  if (!drcrash_async_thread_state_has_reg(current, DRCRASH_REG_IP)) return DRCRASH_FRAME_EBADFRAME;
  // Compact unwind tables live only in Mach-O images; the images here are ELF.
  return DRCRASH_FRAME_ENOTSUP;
}

drcrash_frame_status_t drcrash_async_frame_dwarf_reader(drcrash_async_loaded_images* images,
                                                        const drcrash_async_thread_state* current,
                                                        const drcrash_async_thread_state* previous,
                                                        drcrash_async_thread_state* next) {
  using namespace drcrash::async;
  if (!drcrash_async_thread_state_has_reg(current, DRCRASH_REG_IP)) return DRCRASH_FRAME_EBADFRAME;
  const std::uint64_t pc = drcrash_async_thread_state_get_reg(current, DRCRASH_REG_IP);
  if (pc == 0) return DRCRASH_FRAME_ENOTSUP;
  // Past the first frame the pc is a return address, which points after the
  // call; when the call ends its function (a call that never returns) that is
  // already the next function, so look up the call itself.
  const std::uint64_t lookup = previous != nullptr ? pc - 1 : pc;
  const std::uint64_t generation = drcrash_async_read_cache_generation();
  CachedRules* slot = ruleSlot(generation, lookup);
  if (slot != nullptr && slot->generation == generation && slot->pc == lookup) {
    return apply_state<std::uint64_t, std::int64_t>(&slot->rules, &slot->cie, current, &drcrash_async_byteorder_native, next) ==
                   DRCRASH_ESUCCESS
               ? DRCRASH_FRAME_ESUCCESS
               : DRCRASH_FRAME_ENOFRAME;
  }
  ReadingMark mark(images);
  const drcrash_async_image* image = drcrash_async_loaded_images_find_image_for_address(images, pc);
  if (image == nullptr) return DRCRASH_FRAME_ENOTSUP;
  if (image->eh_frame_hdr == 0) return DRCRASH_FRAME_ENOFRAME;
  drcrash_async_dwarf_cie_info cie;
  Rules rules;
  const drcrash_frame_status_t computed = computeRules(image, lookup, &cie, &rules);
  if (computed != DRCRASH_FRAME_ESUCCESS) return computed;
  if (slot != nullptr) {
    slot->generation = generation;
    slot->pc = lookup;
    slot->cie = cie;
    slot->rules = rules;
  }
  return apply_state<std::uint64_t, std::int64_t>(&rules, &cie, current, &drcrash_async_byteorder_native, next) ==
                 DRCRASH_ESUCCESS
             ? DRCRASH_FRAME_ESUCCESS
             : DRCRASH_FRAME_ENOFRAME;
}

drcrash_frame_status_t drcrash_async_frame_fp_reader(drcrash_async_loaded_images*,
                                                     const drcrash_async_thread_state* current,
                                                     const drcrash_async_thread_state* previous,
                                                     drcrash_async_thread_state* next) {
  if (!drcrash_async_thread_state_has_reg(current, DRCRASH_REG_FP)) return DRCRASH_FRAME_EBADFRAME;
  const std::uint64_t fp = drcrash_async_thread_state_get_reg(current, DRCRASH_REG_FP);
  if (fp == 0) return DRCRASH_FRAME_ENOFRAME;
  if (previous != nullptr && drcrash_async_thread_state_has_reg(previous, DRCRASH_REG_FP)) {
    // The chain must move towards the stack's base, or it is garbage or a loop.
    const std::uint64_t previousFp = drcrash_async_thread_state_get_reg(previous, DRCRASH_REG_FP);
    if (current->stack_direction == kDrcrashStackDirectionDown ? previousFp > fp : fp > previousFp) {
      return DRCRASH_FRAME_EBADFRAME;
    }
  }
  std::uint64_t words[2];
  if (drcrash_async_task_memcpy(fp, 0, words, current->greg_size * 2) != DRCRASH_ESUCCESS) return DRCRASH_FRAME_EBADFRAME;
  if (current->greg_size == 4) {
    const std::uint64_t packed = words[0];
    words[0] = packed & 0xffffffffu;
    words[1] = packed >> 32;
  }
  *next = *current;
  drcrash_async_thread_state_clear_all_regs(next);
  drcrash_async_thread_state_set_reg(next, DRCRASH_REG_FP, words[0]);
  drcrash_async_thread_state_set_reg(next, DRCRASH_REG_IP, words[1]);
  return DRCRASH_FRAME_ESUCCESS;
}

void drcrash_async_frame_walker_init(drcrash_async_frame_walker* walker, const drcrash_async_thread_state* state,
                                     drcrash_async_loaded_images* images) {
  walker->images = images;
  walker->depth = 0;
  walker->current = *state;
  walker->previous = drcrash_async_thread_state{};
}

drcrash_frame_status_t drcrash_async_frame_walker_next_with_readers(drcrash_async_frame_walker* walker,
                                                                    const drcrash_async_frame_reader* readers,
                                                                    std::size_t count) {
  if (walker->depth == 0) {
    walker->depth = 1;
    return DRCRASH_FRAME_ESUCCESS;
  }
  if (count == 0) return DRCRASH_FRAME_EINVAL;
  const drcrash_async_thread_state* previous = walker->depth == 1 ? nullptr : &walker->previous;
  drcrash_async_thread_state next;
  drcrash_frame_status_t status = DRCRASH_FRAME_EUNKNOWN;
  for (std::size_t i = 0; i < count; ++i) {
    status = readers[i](walker->images, &walker->current, previous, &next);
    if (status == DRCRASH_FRAME_ESUCCESS) break;
  }
  if (status != DRCRASH_FRAME_ESUCCESS) return status;
  if (!drcrash_async_thread_state_has_reg(&next, DRCRASH_REG_IP) ||
      drcrash_async_thread_state_get_reg(&next, DRCRASH_REG_IP) < kLowestProgramCounter) {
    return DRCRASH_FRAME_ENOFRAME;
  }
  walker->previous = walker->current;
  walker->current = next;
  ++walker->depth;
  return DRCRASH_FRAME_ESUCCESS;
}

drcrash_frame_status_t drcrash_async_frame_walker_next(drcrash_async_frame_walker* walker) {
  static constexpr drcrash_async_frame_reader kReaders[] = {drcrash_async_frame_compact_unwind_reader,
                                                            drcrash_async_frame_dwarf_reader,
                                                            drcrash_async_frame_fp_reader};
  return drcrash_async_frame_walker_next_with_readers(walker, kReaders, 3);
}

drcrash_frame_status_t drcrash_async_frame_walker_get_reg(const drcrash_async_frame_walker* walker, std::uint32_t reg,
                                                          std::uint64_t* value) {
  if (!drcrash_async_thread_state_has_reg(&walker->current, reg)) return DRCRASH_FRAME_ENOTSUP;
  *value = drcrash_async_thread_state_get_reg(&walker->current, reg);
  return DRCRASH_FRAME_ESUCCESS;
}

}  // namespace crashreporter
