#include "crashreporter/Source/CompactUnwind.h"

namespace crashreporter {
namespace {

constexpr std::uint32_t kHeaderSize = 28;
constexpr std::uint32_t kIndexEntrySize = 12;
constexpr std::uint32_t kPageRegular = 2;
constexpr std::uint32_t kPageCompressed = 3;

// 3-bit register codes of the x86 encodings; index 0 is "no register".
constexpr std::uint32_t kX86_64Registers[7] = {kDrcrashNoRegister, 4, 13, 14, 15, 16, 1};
constexpr std::uint32_t kX86Registers[7] = {kDrcrashNoRegister, 6, 5, 4, 8, 7, 1};
constexpr std::uint32_t kArm64X19 = 22, kArm64LinkRegister = 32;

std::uint32_t bits(std::uint32_t value, unsigned low, unsigned count) { return (value >> low) & ((1u << count) - 1); }

drcrash_error_t mapCode(std::uint32_t cpu_type, std::uint32_t code, std::uint32_t* reg) {
  if (code > 6) return DRCRASH_EINVAL;
  *reg = cpu_type == kDrcrashCpuTypeX86 ? kX86Registers[code] : kX86_64Registers[code];
  return DRCRASH_ESUCCESS;
}

// The last of `count` sorted function offsets (offsetAt(i)) not above `target`;
// the same search the first-level index and both page kinds use.
template <typename OffsetAt>
drcrash_error_t searchSorted(std::uint32_t count, std::uint32_t target, OffsetAt offsetAt, std::uint32_t* found) {
  if (count == 0) return DRCRASH_ENOTFOUND;
  std::int64_t low = 0, high = static_cast<std::int64_t>(count) - 1;
  while (low <= high) {
    const std::int64_t mid = low + (high - low) / 2;
    std::uint32_t offset;
    if (!offsetAt(static_cast<std::uint32_t>(mid), &offset)) return DRCRASH_EINVAL;
    if (offset == target) {
      *found = static_cast<std::uint32_t>(mid);
      return DRCRASH_ESUCCESS;
    }
    if (offset < target) {
      std::uint32_t next = 0;
      if (mid == high) {
        *found = static_cast<std::uint32_t>(mid);
        return DRCRASH_ESUCCESS;
      }
      if (!offsetAt(static_cast<std::uint32_t>(mid + 1), &next)) return DRCRASH_EINVAL;
      if (next > target) {
        *found = static_cast<std::uint32_t>(mid);
        return DRCRASH_ESUCCESS;
      }
      low = mid + 1;
    } else {
      if (mid == 0) return DRCRASH_ENOTFOUND;
      high = mid - 1;
    }
  }
  return DRCRASH_ENOTFOUND;
}

}  // namespace

drcrash_error_t drcrash_async_unwind_info_reader_init(drcrash_async_unwind_info_reader* reader, drcrash_async_mobject* section,
                                                      std::uint32_t cpu_type) {
  *reader = drcrash_async_unwind_info_reader{};
  if (cpu_type != kDrcrashCpuTypeX86 && cpu_type != kDrcrashCpuTypeX86_64 && cpu_type != kDrcrashCpuTypeArm64) {
    return DRCRASH_ENOTSUP;
  }
  reader->section = section;
  reader->cpu_type = cpu_type;
  std::uint32_t words[kHeaderSize / 4];
  const std::uint64_t base = drcrash_async_mobject_target_address(section);
  if (drcrash_async_mobject_read(section, base, 0, words, sizeof words) != DRCRASH_ESUCCESS) return DRCRASH_EINVAL;
  const drcrash_async_byteorder* bo = reader->byteorder;
  reader->version = bo->swap32(words[0]);
  reader->common_encodings_offset = bo->swap32(words[1]);
  reader->common_encodings_count = bo->swap32(words[2]);
  reader->personality_offset = bo->swap32(words[3]);
  reader->personality_count = bo->swap32(words[4]);
  reader->index_offset = bo->swap32(words[5]);
  reader->index_count = bo->swap32(words[6]);
  return reader->version == 1 ? DRCRASH_ESUCCESS : DRCRASH_ENOTSUP;
}

drcrash_error_t drcrash_async_unwind_info_find(const drcrash_async_unwind_info_reader* reader, std::uint32_t target,
                                               std::uint32_t* function_offset, std::uint32_t* encoding) {
  drcrash_async_mobject* section = reader->section;
  const drcrash_async_byteorder* bo = reader->byteorder;
  const std::uint64_t base = drcrash_async_mobject_target_address(section);
  auto u32 = [&](std::uint64_t offset, std::uint32_t* out) {
    return drcrash_async_mobject_read_uint32(section, bo, base, static_cast<std::int64_t>(offset), out) == DRCRASH_ESUCCESS;
  };
  auto u16 = [&](std::uint64_t offset, std::uint16_t* out) {
    return drcrash_async_mobject_read_uint16(section, bo, base, static_cast<std::int64_t>(offset), out) == DRCRASH_ESUCCESS;
  };
  const std::uint64_t common = reader->common_encodings_offset;
  if (!drcrash_async_mobject_verify(section, base, static_cast<std::int64_t>(common),
                                    std::uint64_t{reader->common_encodings_count} * 4)) {
    return DRCRASH_EINVAL;
  }
  if (reader->index_count == 0) return DRCRASH_ENOTFOUND;
  const std::uint64_t index = reader->index_offset;
  const std::uint32_t searched = reader->index_count - 1;  // the last entry only ends the table
  if (!drcrash_async_mobject_verify(section, base, static_cast<std::int64_t>(index), std::uint64_t{searched} * kIndexEntrySize)) {
    return DRCRASH_EINVAL;
  }
  std::uint32_t slot;
  drcrash_error_t error = searchSorted(searched, target, [&](std::uint32_t i, std::uint32_t* offset) {
    return u32(index + std::uint64_t{i} * kIndexEntrySize, offset);
  }, &slot);
  if (error != DRCRASH_ESUCCESS) return error;
  std::uint32_t firstFunction, page, kind;
  if (!u32(index + std::uint64_t{slot} * kIndexEntrySize, &firstFunction) ||
      !u32(index + std::uint64_t{slot} * kIndexEntrySize + 4, &page) || !u32(page, &kind)) {
    return DRCRASH_EINVAL;
  }
  std::uint16_t entriesOffset, entryCount;
  if (!u16(std::uint64_t{page} + 4, &entriesOffset) || !u16(std::uint64_t{page} + 6, &entryCount)) return DRCRASH_EINVAL;
  const std::uint64_t entries = std::uint64_t{page} + entriesOffset;
  if (kind == kPageCompressed) {
    std::uint16_t encodingsOffset, encodingCount;
    if (!u16(std::uint64_t{page} + 8, &encodingsOffset) || !u16(std::uint64_t{page} + 10, &encodingCount) ||
        !drcrash_async_mobject_verify(section, base, static_cast<std::int64_t>(entries), std::uint64_t{entryCount} * 4)) {
      return DRCRASH_EINVAL;
    }
    std::uint32_t found;
    error = searchSorted(entryCount, target, [&](std::uint32_t i, std::uint32_t* offset) {
      std::uint32_t entry;
      if (!u32(entries + std::uint64_t{i} * 4, &entry)) return false;
      *offset = (entry & 0xFFFFFF) + firstFunction;
      return true;
    }, &found);
    if (error != DRCRASH_ESUCCESS) return error;
    std::uint32_t entry;
    if (!u32(entries + std::uint64_t{found} * 4, &entry)) return DRCRASH_EINVAL;
    *function_offset = (entry & 0xFFFFFF) + firstFunction;
    const std::uint32_t encodingIndex = entry >> 24;
    if (encodingIndex < reader->common_encodings_count) {
      return u32(common + std::uint64_t{encodingIndex} * 4, encoding) ? DRCRASH_ESUCCESS : DRCRASH_EINVAL;
    }
    const std::uint32_t local = encodingIndex - reader->common_encodings_count;
    if (local >= encodingCount) return DRCRASH_EINVAL;
    return u32(std::uint64_t{page} + encodingsOffset + std::uint64_t{local} * 4, encoding) ? DRCRASH_ESUCCESS : DRCRASH_EINVAL;
  }
  if (kind == kPageRegular) {
    if (!drcrash_async_mobject_verify(section, base, static_cast<std::int64_t>(entries), std::uint64_t{entryCount} * 8)) {
      return DRCRASH_EINVAL;
    }
    std::uint32_t found;
    error = searchSorted(entryCount, target, [&](std::uint32_t i, std::uint32_t* offset) {
      return u32(entries + std::uint64_t{i} * 8, offset);
    }, &found);
    if (error != DRCRASH_ESUCCESS) return error;
    return u32(entries + std::uint64_t{found} * 8, function_offset) && u32(entries + std::uint64_t{found} * 8 + 4, encoding)
               ? DRCRASH_ESUCCESS
               : DRCRASH_EINVAL;
  }
  return DRCRASH_EINVAL;
}

drcrash_error_t drcrash_async_unwind_permutation_decode(std::uint32_t permutation, std::uint32_t count,
                                                        std::uint32_t cpu_type, std::uint32_t* registers) {
  if (count > 6) return DRCRASH_EINVAL;
  std::uint32_t digits[6] = {};
  const std::uint32_t p = permutation;
  switch (count) {
    case 1: digits[0] = p; break;
    case 2: digits[0] = p / 5; digits[1] = p % 5; break;
    case 3: digits[0] = p / 20; digits[1] = (p % 20) / 4; digits[2] = p % 4; break;
    case 4: digits[0] = p / 60; digits[1] = (p % 60) / 12; digits[2] = (p % 60 % 12) / 3; digits[3] = p % 60 % 12 % 3; break;
    case 5:
    case 6:
      digits[0] = p / 120; digits[1] = (p % 120) / 24; digits[2] = (p % 120 % 24) / 6;
      digits[3] = (p % 120 % 24 % 6) / 2; digits[4] = p & 1;
      break;
    default: break;
  }
  bool used[7] = {};
  for (std::uint32_t i = 0; i < count; ++i) {
    // The (digit + 1)-th code among 1..6 not used yet.
    std::uint32_t remaining = digits[i], code = 0;
    for (std::uint32_t candidate = 1; candidate <= 6; ++candidate) {
      if (used[candidate]) continue;
      if (remaining == 0) {
        code = candidate;
        break;
      }
      --remaining;
    }
    if (code == 0) return DRCRASH_EINVAL;
    used[code] = true;
    if (mapCode(cpu_type, code, &registers[i]) != DRCRASH_ESUCCESS) return DRCRASH_EINVAL;
  }
  return DRCRASH_ESUCCESS;
}

drcrash_error_t drcrash_async_unwind_entry_decode(drcrash_async_unwind_entry* entry, std::uint32_t cpu_type,
                                                  std::uint32_t encoding) {
  *entry = drcrash_async_unwind_entry{};
  entry->cpu_type = cpu_type;
  for (std::uint32_t& reg : entry->saved_registers) reg = kDrcrashNoRegister;
  const std::uint32_t mode = bits(encoding, 24, 4);
  if (cpu_type == kDrcrashCpuTypeArm64) {
    switch (mode) {
      case 0: entry->kind = DRCRASH_UNWIND_NONE; return DRCRASH_ESUCCESS;
      case 3:
        entry->kind = DRCRASH_UNWIND_DWARF;
        entry->stack_offset = bits(encoding, 0, 24);
        return DRCRASH_ESUCCESS;
      case 2:
      case 4: {
        // Pairs from the highest flag down: x28, x27 ... x20, x19.
        for (int pair = 4; pair >= 0; --pair) {
          if ((encoding & (1u << pair)) == 0) continue;
          entry->saved_registers[entry->saved_register_count++] = kArm64X19 + 2 * static_cast<std::uint32_t>(pair) + 1;
          entry->saved_registers[entry->saved_register_count++] = kArm64X19 + 2 * static_cast<std::uint32_t>(pair);
        }
        if (mode == 2) {
          entry->kind = DRCRASH_UNWIND_FRAMELESS_IMMEDIATE;
          entry->stack_offset = 16 * static_cast<std::int64_t>(bits(encoding, 12, 12));
          entry->return_address_register = kArm64LinkRegister;
        } else {
          entry->kind = DRCRASH_UNWIND_FRAME;
          entry->stack_offset = -8 * static_cast<std::int64_t>(entry->saved_register_count);
        }
        return DRCRASH_ESUCCESS;
      }
      default: return DRCRASH_ENOTSUP;
    }
  }
  if (cpu_type != kDrcrashCpuTypeX86 && cpu_type != kDrcrashCpuTypeX86_64) return DRCRASH_ENOTSUP;
  const std::int64_t width = cpu_type == kDrcrashCpuTypeX86 ? 4 : 8;
  switch (mode) {
    case 0: entry->kind = DRCRASH_UNWIND_NONE; return DRCRASH_ESUCCESS;
    case 1: {
      entry->kind = DRCRASH_UNWIND_FRAME;
      entry->stack_offset = -width * bits(encoding, 16, 8);
      std::uint32_t remaining = bits(encoding, 0, 15);
      while (remaining != 0 && entry->saved_register_count < 5) {
        if (mapCode(cpu_type, remaining & 7, &entry->saved_registers[entry->saved_register_count]) != DRCRASH_ESUCCESS) {
          return DRCRASH_EINVAL;
        }
        ++entry->saved_register_count;
        remaining >>= 3;
      }
      return DRCRASH_ESUCCESS;
    }
    case 2:
    case 3: {
      entry->kind = mode == 2 ? DRCRASH_UNWIND_FRAMELESS_IMMEDIATE : DRCRASH_UNWIND_FRAMELESS_INDIRECT;
      if (mode == 2) {
        entry->stack_offset = width * bits(encoding, 16, 8);
      } else {
        entry->stack_offset = bits(encoding, 16, 8);
        entry->stack_adjust = static_cast<std::uint32_t>(width) * bits(encoding, 13, 3);
      }
      entry->saved_register_count = bits(encoding, 10, 3);
      return drcrash_async_unwind_permutation_decode(bits(encoding, 0, 10), entry->saved_register_count, cpu_type,
                                                     entry->saved_registers);
    }
    case 4:
      entry->kind = DRCRASH_UNWIND_DWARF;
      entry->stack_offset = bits(encoding, 0, 24);
      return DRCRASH_ESUCCESS;
    default: return DRCRASH_ENOTSUP;
  }
}

drcrash_error_t drcrash_async_unwind_entry_apply(std::uint64_t function_start, const drcrash_async_thread_state* current,
                                                 const drcrash_async_unwind_entry* entry, drcrash_async_thread_state* out) {
  *out = *current;
  drcrash_async_thread_state_clear_volatile_regs(out);
  const std::uint64_t width = current->greg_size;
  const drcrash_async_byteorder* bo = &drcrash_async_byteorder_native;
  auto readWord = [&](std::uint64_t address, std::uint64_t* value) {
    if (width == 4) {
      std::uint32_t word;
      const drcrash_error_t error = drcrash_async_task_read_uint32(bo, address, 0, &word);
      *value = word;
      return error;
    }
    return drcrash_async_task_read_uint64(bo, address, 0, value);
  };
  std::uint64_t saveArea = 0;
  switch (entry->kind) {
    case DRCRASH_UNWIND_FRAME: {
      if (!drcrash_async_thread_state_has_reg(current, DRCRASH_REG_FP)) return DRCRASH_ENOTFOUND;
      const std::uint64_t fp = drcrash_async_thread_state_get_reg(current, DRCRASH_REG_FP);
      if (!drcrash_async_address_apply_offset(fp, entry->stack_offset, &saveArea) || fp + 2 * width < fp) return DRCRASH_EINVAL;
      std::uint64_t callerFp, pc;
      drcrash_error_t error = readWord(fp, &callerFp);
      if (error == DRCRASH_ESUCCESS) error = readWord(fp + width, &pc);
      if (error != DRCRASH_ESUCCESS) return error;
      drcrash_async_thread_state_set_reg(out, DRCRASH_REG_SP, fp + 2 * width);
      drcrash_async_thread_state_set_reg(out, DRCRASH_REG_FP, callerFp);
      drcrash_async_thread_state_set_reg(out, DRCRASH_REG_IP, pc);
      break;
    }
    case DRCRASH_UNWIND_FRAMELESS_IMMEDIATE:
    case DRCRASH_UNWIND_FRAMELESS_INDIRECT: {
      if (!drcrash_async_thread_state_has_reg(current, DRCRASH_REG_SP)) return DRCRASH_ENOTFOUND;
      std::uint64_t stackSize = static_cast<std::uint64_t>(entry->stack_offset);
      if (entry->kind == DRCRASH_UNWIND_FRAMELESS_INDIRECT) {
        std::uint32_t immediate;
        const drcrash_error_t error = drcrash_async_task_read_uint32(bo, function_start, entry->stack_offset, &immediate);
        if (error != DRCRASH_ESUCCESS) return error;
        stackSize = std::uint64_t{immediate} + entry->stack_adjust;
      }
      const std::uint64_t sp = drcrash_async_thread_state_get_reg(current, DRCRASH_REG_SP) + stackSize;
      drcrash_async_thread_state_set_reg(out, DRCRASH_REG_SP, sp);
      const std::uint64_t saved = std::uint64_t{entry->saved_register_count} * width;
      if (entry->return_address_register != kDrcrashNoRegister) {
        if (!drcrash_async_thread_state_has_reg(current, entry->return_address_register)) return DRCRASH_ENOTFOUND;
        drcrash_async_thread_state_set_reg(out, DRCRASH_REG_IP,
                                           drcrash_async_thread_state_get_reg(current, entry->return_address_register));
        saveArea = sp - saved;
      } else {
        std::uint64_t pc;
        const drcrash_error_t error = readWord(sp - width, &pc);
        if (error != DRCRASH_ESUCCESS) return error;
        drcrash_async_thread_state_set_reg(out, DRCRASH_REG_IP, pc);
        saveArea = sp - width - saved;
      }
      break;
    }
    default: return DRCRASH_ENOTSUP;
  }
  for (std::uint32_t i = 0; i < entry->saved_register_count && i < kDrcrashUnwindMaxSavedRegisters; ++i) {
    if (entry->saved_registers[i] == kDrcrashNoRegister) continue;  // an empty slot still takes its word
    std::uint64_t value;
    const drcrash_error_t error = readWord(saveArea + i * width, &value);
    if (error != DRCRASH_ESUCCESS) return error;
    drcrash_async_thread_state_set_reg(out, entry->saved_registers[i], value);
  }
  return DRCRASH_ESUCCESS;
}

}  // namespace crashreporter
