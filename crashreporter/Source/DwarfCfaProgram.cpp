#include "crashreporter/Source/DwarfCfaProgram.h"

#include "crashreporter/Source/DwarfExpression.h"

namespace crashreporter::drcrash::async {

template <typename T, typename ST>
drcrash_error_t eval_program(dwarf_cfa_state<T, ST>* state, drcrash_async_mobject* mobj, bool has_target, T target,
                             T initial_location, const drcrash_async_dwarf_cie_info* cie,
                             const gnu_ehptr_reader<T>* ptr_reader, const drcrash_async_byteorder* bo,
                             std::uint64_t address, std::int64_t offset, std::uint64_t length) {
  // The rules DW_CFA_restore returns to: those in effect before this program.
  dwarf_cfa_state<T, ST> initial;
  bool copied = true;
  state->for_each_rule([&](std::uint32_t reg, drcrash_dwarf_cfa_reg_rule_t rule, T value) {
    copied = copied && initial.set_register(reg, rule, value);
  });
  if (!copied) return DRCRASH_ENOMEM;

  const std::uint8_t setLocEncoding = cie->has_eh_augmentation && cie->has_pointer_encoding && ptr_reader != nullptr
                                          ? cie->pointer_encoding
                                          : static_cast<std::uint8_t>(DW_EH_PE_absptr);
  const gnu_ehptr_reader<T> absolute(bo);
  const gnu_ehptr_reader<T>* setLocReader = ptr_reader != nullptr ? ptr_reader : &absolute;

  std::uint64_t start;
  if (!drcrash_async_address_apply_offset(address, offset, &start) || start + length < start) return DRCRASH_EINVAL;
  if (!drcrash_async_mobject_verify(mobj, start, 0, length)) return DRCRASH_EINVAL;
  const std::uint64_t end = start + length;
  std::uint64_t pc = start;
  T location = initial_location;
  if (has_target && location > target) return DRCRASH_ESUCCESS;

  const DwarfInstructionCursor numbers{mobj, pc, end};
  auto reg32 = [&](std::uint32_t* out) -> drcrash_error_t {
    std::uint64_t value;
    const drcrash_error_t error = numbers.uleb(&value);
    if (error != DRCRASH_ESUCCESS) return error;
    if (value > 0xffffffffu) return DRCRASH_ENOTSUP;
    *out = static_cast<std::uint32_t>(value);
    return DRCRASH_ESUCCESS;
  };
  auto fixed = [&](std::uint64_t size, std::uint64_t* out) -> bool {
    if (pc + size > end) return false;
    std::uint8_t b1;
    std::uint16_t b2;
    std::uint32_t b4;
    bool ok = false;
    if (size == 1) ok = drcrash_async_mobject_read_uint8(mobj, pc, 0, &b1) == DRCRASH_ESUCCESS, *out = b1;
    if (size == 2) ok = drcrash_async_mobject_read_uint16(mobj, bo, pc, 0, &b2) == DRCRASH_ESUCCESS, *out = b2;
    if (size == 4) ok = drcrash_async_mobject_read_uint32(mobj, bo, pc, 0, &b4) == DRCRASH_ESUCCESS, *out = b4;
    pc += size;
    return ok;
  };
  auto setRule = [&](std::uint32_t reg, drcrash_dwarf_cfa_reg_rule_t rule, T value) -> drcrash_error_t {
    return state->set_register(reg, rule, value) ? DRCRASH_ESUCCESS : DRCRASH_ENOMEM;
  };
  auto restore = [&](std::uint32_t reg) -> drcrash_error_t {
    drcrash_dwarf_cfa_reg_rule_t rule;
    T value;
    if (initial.get_register_rule(reg, &rule, &value)) return setRule(reg, rule, value);
    state->remove_register(reg);
    return DRCRASH_ESUCCESS;
  };
  // An expression block: ULEB length, then the bytes, all inside the range.
  auto block = [&](std::uint64_t* blockStart, std::uint64_t* blockLength) -> drcrash_error_t {
    const drcrash_error_t error = numbers.uleb(blockLength);
    if (error != DRCRASH_ESUCCESS) return error;
    if (pc + *blockLength > end || pc + *blockLength < pc) return DRCRASH_EINVAL;
    *blockStart = pc;
    pc += *blockLength;
    return DRCRASH_ESUCCESS;
  };
  const T codeAlign = static_cast<T>(cie->code_alignment_factor);
  // Offsets scale in the word's unsigned arithmetic: hostile factors wrap instead of overflowing.
  const auto scaled = [dataAlign = static_cast<T>(cie->data_alignment_factor)](auto operand) {
    return static_cast<T>(static_cast<T>(operand) * dataAlign);
  };

  while (pc < end) {
    std::uint8_t opcode;
    if (drcrash_async_mobject_read_uint8(mobj, pc++, 0, &opcode) != DRCRASH_ESUCCESS) return DRCRASH_EINVAL;
    drcrash_error_t error = DRCRASH_ESUCCESS;
    std::uint32_t reg, reg2;
    std::uint64_t u, blockStart, blockLength;
    std::int64_t s;
    switch (opcode & 0xc0) {
      case 0x40:  // DW_CFA_advance_loc
        location = static_cast<T>(location + (opcode & 0x3f) * codeAlign);
        break;
      case 0x80:  // DW_CFA_offset
        if ((error = numbers.uleb(&u)) != DRCRASH_ESUCCESS) return error;
        if ((error = setRule(opcode & 0x3f, DRCRASH_DWARF_CFA_REG_RULE_OFFSET, scaled(u))) != DRCRASH_ESUCCESS) return error;
        break;
      case 0xc0:  // DW_CFA_restore
        if ((error = restore(opcode & 0x3f)) != DRCRASH_ESUCCESS) return error;
        break;
      default:
        switch (opcode) {
          case 0x00: break;  // nop
          case 0x01: {       // set_loc
            if (cie->segment_size != 0) return DRCRASH_ENOTSUP;
            T value;
            std::uint64_t size;
            if ((error = setLocReader->read(mobj, pc, 0, setLocEncoding, &value, &size)) != DRCRASH_ESUCCESS) return error;
            if (pc + size > end) return DRCRASH_EINVAL;
            pc += size;
            location = value;
            break;
          }
          case 0x02: if (!fixed(1, &u)) return DRCRASH_EINVAL; location = static_cast<T>(location + u * codeAlign); break;
          case 0x03: if (!fixed(2, &u)) return DRCRASH_EINVAL; location = static_cast<T>(location + u * codeAlign); break;
          case 0x04: if (!fixed(4, &u)) return DRCRASH_EINVAL; location = static_cast<T>(location + u * codeAlign); break;
          case 0x05:  // offset_extended
            if ((error = reg32(&reg)) != DRCRASH_ESUCCESS || (error = numbers.uleb(&u)) != DRCRASH_ESUCCESS) return error;
            if ((error = setRule(reg, DRCRASH_DWARF_CFA_REG_RULE_OFFSET, scaled(u))) != DRCRASH_ESUCCESS) return error;
            break;
          case 0x11:  // offset_extended_sf
            if ((error = reg32(&reg)) != DRCRASH_ESUCCESS || (error = numbers.sleb(&s)) != DRCRASH_ESUCCESS) return error;
            if ((error = setRule(reg, DRCRASH_DWARF_CFA_REG_RULE_OFFSET, scaled(s))) != DRCRASH_ESUCCESS) return error;
            break;
          case 0x06:  // restore_extended
            if ((error = reg32(&reg)) != DRCRASH_ESUCCESS || (error = restore(reg)) != DRCRASH_ESUCCESS) return error;
            break;
          case 0x07:  // undefined
            if ((error = reg32(&reg)) != DRCRASH_ESUCCESS) return error;
            state->remove_register(reg);
            break;
          case 0x08:  // same_value
            if ((error = reg32(&reg)) != DRCRASH_ESUCCESS) return error;
            if ((error = setRule(reg, DRCRASH_DWARF_CFA_REG_RULE_SAME_VALUE, 0)) != DRCRASH_ESUCCESS) return error;
            break;
          case 0x09:  // register
            if ((error = reg32(&reg)) != DRCRASH_ESUCCESS || (error = reg32(&reg2)) != DRCRASH_ESUCCESS) return error;
            if ((error = setRule(reg, DRCRASH_DWARF_CFA_REG_RULE_REGISTER, reg2)) != DRCRASH_ESUCCESS) return error;
            break;
          case 0x0a:  // remember_state
            if (!state->push_state()) return DRCRASH_ENOMEM;
            break;
          case 0x0b:  // restore_state
            if (!state->pop_state()) return DRCRASH_EINVAL;
            break;
          case 0x0c:  // def_cfa
            if ((error = reg32(&reg)) != DRCRASH_ESUCCESS || (error = numbers.uleb(&u)) != DRCRASH_ESUCCESS) return error;
            state->set_cfa_register(reg, static_cast<T>(u));
            break;
          case 0x12:  // def_cfa_sf
            if ((error = reg32(&reg)) != DRCRASH_ESUCCESS || (error = numbers.sleb(&s)) != DRCRASH_ESUCCESS) return error;
            state->set_cfa_register_signed(reg, static_cast<ST>(scaled(s)));
            break;
          case 0x0d: {  // def_cfa_register
            if ((error = reg32(&reg)) != DRCRASH_ESUCCESS) return error;
            auto& rule = state->cfa_rule();
            if (rule.kind != CfaRuleKind::RegisterOffset && rule.kind != CfaRuleKind::RegisterSignedOffset) return DRCRASH_EINVAL;
            rule.reg = reg;
            break;
          }
          case 0x0e:    // def_cfa_offset
          case 0x13: {  // def_cfa_offset_sf
            auto& rule = state->cfa_rule();
            if (rule.kind != CfaRuleKind::RegisterOffset && rule.kind != CfaRuleKind::RegisterSignedOffset) return DRCRASH_EINVAL;
            if (opcode == 0x0e) {
              if ((error = numbers.uleb(&u)) != DRCRASH_ESUCCESS) return error;
              state->set_cfa_register(rule.reg, static_cast<T>(u));
            } else {
              if ((error = numbers.sleb(&s)) != DRCRASH_ESUCCESS) return error;
              state->set_cfa_register_signed(rule.reg, static_cast<ST>(scaled(s)));
            }
            break;
          }
          case 0x0f:  // def_cfa_expression
            if ((error = block(&blockStart, &blockLength)) != DRCRASH_ESUCCESS) return error;
            if (static_cast<ST>(blockLength) < 0 || static_cast<ST>(blockStart) < 0) return DRCRASH_ENOTSUP;
            state->set_cfa_expression(blockStart, blockLength);
            break;
          case 0x10:    // expression
          case 0x16: {  // val_expression
            if ((error = reg32(&reg)) != DRCRASH_ESUCCESS) return error;
            const std::uint64_t lengthField = pc;
            if ((error = block(&blockStart, &blockLength)) != DRCRASH_ESUCCESS) return error;
            const auto rule = opcode == 0x10 ? DRCRASH_DWARF_CFA_REG_RULE_EXPRESSION : DRCRASH_DWARF_CFA_REG_RULE_VAL_EXPRESSION;
            if ((error = setRule(reg, rule, static_cast<T>(lengthField))) != DRCRASH_ESUCCESS) return error;
            break;
          }
          case 0x14:  // val_offset
            if ((error = reg32(&reg)) != DRCRASH_ESUCCESS || (error = numbers.uleb(&u)) != DRCRASH_ESUCCESS) return error;
            if ((error = setRule(reg, DRCRASH_DWARF_CFA_REG_RULE_VAL_OFFSET, scaled(u))) != DRCRASH_ESUCCESS) return error;
            break;
          case 0x15:  // val_offset_sf
            if ((error = reg32(&reg)) != DRCRASH_ESUCCESS || (error = numbers.sleb(&s)) != DRCRASH_ESUCCESS) return error;
            if ((error = setRule(reg, DRCRASH_DWARF_CFA_REG_RULE_VAL_OFFSET, scaled(s))) != DRCRASH_ESUCCESS) return error;
            break;
          case 0x2e:  // GNU_args_size: the operand is read, no rule changes
            if ((error = numbers.uleb(&u)) != DRCRASH_ESUCCESS) return error;
            break;
          default:
            return DRCRASH_ENOTSUP;
        }
    }
    if (has_target && location > target) return DRCRASH_ESUCCESS;
  }
  return DRCRASH_ESUCCESS;
}

template <typename T, typename ST>
drcrash_error_t apply_state(const dwarf_cfa_state<T, ST>* state, const drcrash_async_dwarf_cie_info* cie,
                            const drcrash_async_thread_state* current, const drcrash_async_byteorder* bo,
                            drcrash_async_thread_state* out) {
  *out = *current;
  drcrash_async_thread_state_clear_volatile_regs(out);

  auto readWord = [&](T address, T* value) -> drcrash_error_t {
    if constexpr (sizeof(T) == 8) {
      std::uint64_t v;
      const drcrash_error_t error = drcrash_async_task_read_uint64(bo, address, 0, &v);
      *value = v;
      return error;
    } else {
      std::uint32_t v;
      const drcrash_error_t error = drcrash_async_task_read_uint32(bo, address, 0, &v);
      *value = v;
      return error;
    }
  };

  T cfa;
  const auto& cfaRule = state->get_cfa_rule();
  switch (cfaRule.kind) {
    case CfaRuleKind::RegisterOffset:
    case CfaRuleKind::RegisterSignedOffset: {
      std::uint32_t reg;
      if (!drcrash_async_thread_state_map_dwarf_to_reg(current, cfaRule.reg, &reg)) return DRCRASH_ENOTSUP;
      if (!drcrash_async_thread_state_has_reg(current, reg)) return DRCRASH_ENOTFOUND;
      const T base = static_cast<T>(drcrash_async_thread_state_get_reg(current, reg));
      cfa = cfaRule.kind == CfaRuleKind::RegisterOffset ? static_cast<T>(base + cfaRule.offset)
                                                        : static_cast<T>(base + static_cast<T>(cfaRule.signed_offset));
      break;
    }
    case CfaRuleKind::Expression: {
      drcrash_async_mobject expression;
      if (drcrash_async_mobject_init(&expression, cfaRule.expression, cfaRule.expression_length, true) != DRCRASH_ESUCCESS) return DRCRASH_EINVAL;
      const drcrash_error_t error = drcrash_async_dwarf_expression_eval<T, ST>(&expression, current, bo, cfaRule.expression, 0,
                                                                               cfaRule.expression_length, nullptr, 0, &cfa);
      if (error != DRCRASH_ESUCCESS) return error;
      break;
    }
    default: return DRCRASH_EINVAL;
  }
  drcrash_async_thread_state_set_reg(out, DRCRASH_REG_SP, cfa);

  drcrash_error_t failure = DRCRASH_ESUCCESS;
  state->for_each_rule([&](std::uint32_t dwarfReg, drcrash_dwarf_cfa_reg_rule_t rule, T value) {
    if (failure != DRCRASH_ESUCCESS) return;
    std::uint32_t target;
    const bool isReturnAddress = dwarfReg == cie->return_address_register;
    if (!drcrash_async_thread_state_map_dwarf_to_reg(current, dwarfReg, &target)) {
      if (!isReturnAddress) {
        failure = DRCRASH_EINVAL;
        return;
      }
      target = DRCRASH_REG_IP;
    }
    T result = 0;
    drcrash_error_t error = DRCRASH_ESUCCESS;
    switch (rule) {
      case DRCRASH_DWARF_CFA_REG_RULE_OFFSET: error = readWord(static_cast<T>(cfa + value), &result); break;
      case DRCRASH_DWARF_CFA_REG_RULE_VAL_OFFSET: result = static_cast<T>(cfa + value); break;
      case DRCRASH_DWARF_CFA_REG_RULE_REGISTER: {
        std::uint32_t source;
        if (!drcrash_async_thread_state_map_dwarf_to_reg(current, value, &source)) error = DRCRASH_EINVAL;
        else if (!drcrash_async_thread_state_has_reg(current, source)) error = DRCRASH_ENOTFOUND;
        else result = static_cast<T>(drcrash_async_thread_state_get_reg(current, source));
        break;
      }
      case DRCRASH_DWARF_CFA_REG_RULE_EXPRESSION:
      case DRCRASH_DWARF_CFA_REG_RULE_VAL_EXPRESSION: {
        std::uint64_t length, size;
        if ((error = read_task_uleb128(value, 0, &length, &size)) != DRCRASH_ESUCCESS) break;
        drcrash_async_mobject expression;
        if (drcrash_async_mobject_init(&expression, value + size, length, true) != DRCRASH_ESUCCESS) {
          error = DRCRASH_EINVAL;
          break;
        }
        error = drcrash_async_dwarf_expression_eval<T, ST>(&expression, current, bo, value + size, 0, length, &cfa, 1, &result);
        if (error == DRCRASH_ESUCCESS && rule == DRCRASH_DWARF_CFA_REG_RULE_EXPRESSION) error = readWord(result, &result);
        break;
      }
      case DRCRASH_DWARF_CFA_REG_RULE_SAME_VALUE:
        if (!drcrash_async_thread_state_has_reg(current, target)) error = DRCRASH_ENOTFOUND;
        else result = static_cast<T>(drcrash_async_thread_state_get_reg(current, target));
        break;
    }
    if (error != DRCRASH_ESUCCESS) {
      failure = error;
      return;
    }
    drcrash_async_thread_state_set_reg(out, target, result);
    if (isReturnAddress) drcrash_async_thread_state_set_reg(out, DRCRASH_REG_IP, result);
  });
  if (failure != DRCRASH_ESUCCESS) return failure;

  if (!drcrash_async_thread_state_has_reg(out, DRCRASH_REG_IP)) {
    std::uint32_t reg;
    if (!drcrash_async_thread_state_map_dwarf_to_reg(current, cie->return_address_register, &reg) ||
        !drcrash_async_thread_state_has_reg(current, reg)) {
      return DRCRASH_EINVAL;
    }
    drcrash_async_thread_state_set_reg(out, DRCRASH_REG_IP, drcrash_async_thread_state_get_reg(current, reg));
  }
  return DRCRASH_ESUCCESS;
}

template drcrash_error_t eval_program<std::uint64_t, std::int64_t>(dwarf_cfa_state<std::uint64_t, std::int64_t>*, drcrash_async_mobject*, bool, std::uint64_t, std::uint64_t, const drcrash_async_dwarf_cie_info*, const gnu_ehptr_reader<std::uint64_t>*, const drcrash_async_byteorder*, std::uint64_t, std::int64_t, std::uint64_t);
template drcrash_error_t eval_program<std::uint32_t, std::int32_t>(dwarf_cfa_state<std::uint32_t, std::int32_t>*, drcrash_async_mobject*, bool, std::uint32_t, std::uint32_t, const drcrash_async_dwarf_cie_info*, const gnu_ehptr_reader<std::uint32_t>*, const drcrash_async_byteorder*, std::uint64_t, std::int64_t, std::uint64_t);
template drcrash_error_t apply_state<std::uint64_t, std::int64_t>(const dwarf_cfa_state<std::uint64_t, std::int64_t>*, const drcrash_async_dwarf_cie_info*, const drcrash_async_thread_state*, const drcrash_async_byteorder*, drcrash_async_thread_state*);
template drcrash_error_t apply_state<std::uint32_t, std::int32_t>(const dwarf_cfa_state<std::uint32_t, std::int32_t>*, const drcrash_async_dwarf_cie_info*, const drcrash_async_thread_state*, const drcrash_async_byteorder*, drcrash_async_thread_state*);

}  // namespace crashreporter::drcrash::async
