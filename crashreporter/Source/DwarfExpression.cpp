#include "crashreporter/Source/DwarfExpression.h"

#include "crashreporter/Source/DwarfEncoding.h"

namespace crashreporter::drcrash::async {
namespace {

template <typename T>
class Stack {
 public:
  bool push(T v) {
    if (depth_ == kDwarfExpressionStackSize) return false;
    values_[depth_++] = v;
    return true;
  }
  bool pop(T* v) {
    if (depth_ == 0) return false;
    *v = values_[--depth_];
    return true;
  }
  bool peek(std::uint32_t index, T* v) const {  // 0 = top
    if (index >= depth_) return false;
    *v = values_[depth_ - 1 - index];
    return true;
  }
  std::uint32_t depth() const { return depth_; }

 private:
  T values_[kDwarfExpressionStackSize];
  std::uint32_t depth_ = 0;
};

template <typename T>
drcrash_error_t readWord(const drcrash_async_byteorder* bo, T address, std::uint64_t size, T* out) {
  std::uint8_t bytes[8];
  const drcrash_error_t error = drcrash_async_task_memcpy(address, 0, bytes, size);
  if (error != DRCRASH_ESUCCESS) return error;
  std::uint64_t v = 0;
  switch (size) {
    case 1: v = bytes[0]; break;
    case 2: { std::uint16_t x; drcrash_async_memcpy(&x, bytes, 2); v = bo->swap16(x); break; }
    case 4: { std::uint32_t x; drcrash_async_memcpy(&x, bytes, 4); v = bo->swap32(x); break; }
    case 8: { std::uint64_t x; drcrash_async_memcpy(&x, bytes, 8); v = bo->swap64(x); break; }
    default: return DRCRASH_EINVAL;
  }
  *out = static_cast<T>(v);
  return DRCRASH_ESUCCESS;
}

}  // namespace

template <typename T, typename ST>
drcrash_error_t drcrash_async_dwarf_expression_eval(drcrash_async_mobject* mobj, const drcrash_async_thread_state* state,
                                                    const drcrash_async_byteorder* bo, std::uint64_t address,
                                                    std::int64_t offset, std::uint64_t length, const T* initial,
                                                    std::size_t initial_count, T* result) {
  std::uint64_t start;
  if (!drcrash_async_address_apply_offset(address, offset, &start) || start + length < start) return DRCRASH_EINVAL;
  if (!drcrash_async_mobject_verify(mobj, start, 0, length)) return DRCRASH_EINVAL;
  const std::uint64_t end = start + length;
  Stack<T> stack;
  for (std::size_t i = 0; i < initial_count; ++i) {
    if (!stack.push(initial[i])) return DRCRASH_EINTERNAL;
  }

  std::uint64_t pc = start;
  std::uint32_t operations = 0;
  // Operand readers: every operand must lie inside the expression.
  auto fixed = [&](std::uint64_t size, std::uint64_t* out) -> bool {
    if (pc + size > end || pc + size < pc) return false;
    std::uint8_t bytes[8] = {};
    if (drcrash_async_mobject_read(mobj, pc, 0, bytes, size) != DRCRASH_ESUCCESS) return false;
    std::uint64_t v = 0;
    for (std::uint64_t i = 0; i < size; ++i) v |= static_cast<std::uint64_t>(bytes[i]) << (8 * i);
    if (bo == &drcrash_async_byteorder_swapped) {
      v = size == 2 ? __builtin_bswap16(static_cast<std::uint16_t>(v)) : size == 4 ? __builtin_bswap32(static_cast<std::uint32_t>(v)) : size == 8 ? __builtin_bswap64(v) : v;
    }
    pc += size;
    *out = v;
    return true;
  };
  const DwarfInstructionCursor numbers{mobj, pc, end};
  auto registerValue = [&](std::uint64_t dwarfReg, std::int64_t add) -> drcrash_error_t {
    std::uint32_t reg;
    if (!drcrash_async_thread_state_map_dwarf_to_reg(state, dwarfReg, &reg)) return DRCRASH_ENOTSUP;
    if (!drcrash_async_thread_state_has_reg(state, reg)) return DRCRASH_ENOTFOUND;
    return stack.push(static_cast<T>(drcrash_async_thread_state_get_reg(state, reg) + static_cast<std::uint64_t>(add)))
               ? DRCRASH_ESUCCESS
               : DRCRASH_EINTERNAL;
  };
#define DRCRASH_POP(v) if (!stack.pop(&(v))) return DRCRASH_EINVAL
#define DRCRASH_PUSH(v) if (!stack.push(static_cast<T>(v))) return DRCRASH_EINTERNAL

  while (pc < end) {
    if (++operations > kDwarfExpressionMaxOperations) return DRCRASH_EINVAL;
    std::uint8_t opcode;
    if (drcrash_async_mobject_read_uint8(mobj, pc++, 0, &opcode) != DRCRASH_ESUCCESS) return DRCRASH_EINVAL;
    T a, b, c;
    std::uint64_t u;
    std::int64_t s;
    drcrash_error_t error;
    if (opcode >= 0x30 && opcode <= 0x4f) {  // DW_OP_lit0..31
      DRCRASH_PUSH(opcode - 0x30);
      continue;
    }
    if (opcode >= 0x70 && opcode <= 0x8f) {  // DW_OP_breg0..31
      if ((error = numbers.sleb(&s)) != DRCRASH_ESUCCESS) return error;
      if ((error = registerValue(opcode - 0x70u, s)) != DRCRASH_ESUCCESS) return error;
      continue;
    }
    switch (opcode) {
      case 0x06:  // DW_OP_deref
        DRCRASH_POP(a);
        if ((error = readWord(bo, a, sizeof(T), &b)) != DRCRASH_ESUCCESS) return error;
        DRCRASH_PUSH(b);
        break;
      case 0x08: if (!fixed(1, &u)) return DRCRASH_EINVAL; DRCRASH_PUSH(u); break;                          // const1u
      case 0x09: if (!fixed(1, &u)) return DRCRASH_EINVAL; DRCRASH_PUSH(static_cast<std::int8_t>(u)); break;  // const1s
      case 0x0a: if (!fixed(2, &u)) return DRCRASH_EINVAL; DRCRASH_PUSH(u); break;
      case 0x0b: if (!fixed(2, &u)) return DRCRASH_EINVAL; DRCRASH_PUSH(static_cast<std::int16_t>(u)); break;
      case 0x0c: if (!fixed(4, &u)) return DRCRASH_EINVAL; DRCRASH_PUSH(u); break;
      case 0x0d: if (!fixed(4, &u)) return DRCRASH_EINVAL; DRCRASH_PUSH(static_cast<std::int32_t>(u)); break;
      case 0x0e: if (!fixed(8, &u)) return DRCRASH_EINVAL; DRCRASH_PUSH(u); break;
      case 0x0f: if (!fixed(8, &u)) return DRCRASH_EINVAL; DRCRASH_PUSH(static_cast<std::int64_t>(u)); break;
      case 0x10: if ((error = numbers.uleb(&u)) != DRCRASH_ESUCCESS) return error; DRCRASH_PUSH(u); break;  // constu
      case 0x11: if ((error = numbers.sleb(&s)) != DRCRASH_ESUCCESS) return error; DRCRASH_PUSH(s); break;  // consts
      case 0x12: if (!stack.peek(0, &a)) return DRCRASH_EINVAL; DRCRASH_PUSH(a); break;             // dup
      case 0x13: DRCRASH_POP(a); break;                                                              // drop
      case 0x14: if (!stack.peek(1, &a)) return DRCRASH_EINVAL; DRCRASH_PUSH(a); break;             // over
      case 0x15:                                                                                     // pick
        if (!fixed(1, &u)) return DRCRASH_EINVAL;
        if (!stack.peek(static_cast<std::uint32_t>(u), &a)) return DRCRASH_EINVAL;
        DRCRASH_PUSH(a);
        break;
      case 0x16: DRCRASH_POP(a); DRCRASH_POP(b); DRCRASH_PUSH(a); DRCRASH_PUSH(b); break;  // swap
      case 0x17: DRCRASH_POP(a); DRCRASH_POP(b); DRCRASH_POP(c); DRCRASH_PUSH(a); DRCRASH_PUSH(c); DRCRASH_PUSH(b); break;  // rot
      case 0x18:  // xderef: the address-space entry is dropped
        DRCRASH_POP(a);
        DRCRASH_POP(b);
        if ((error = readWord(bo, a, sizeof(T), &c)) != DRCRASH_ESUCCESS) return error;
        DRCRASH_PUSH(c);
        break;
      case 0x19: DRCRASH_POP(a); DRCRASH_PUSH(static_cast<ST>(a) < 0 ? static_cast<T>(0 - a) : a); break;  // abs
      case 0x1a: DRCRASH_POP(a); DRCRASH_POP(b); DRCRASH_PUSH(b & a); break;                                // and
      case 0x1b:                                                                                              // div
        DRCRASH_POP(a); DRCRASH_POP(b);
        if (a == 0) return DRCRASH_EINVAL;
        DRCRASH_PUSH(static_cast<ST>(b) / static_cast<ST>(a));
        break;
      case 0x1c: DRCRASH_POP(a); DRCRASH_POP(b); DRCRASH_PUSH(b - a); break;  // minus
      case 0x1d:                                                             // mod
        DRCRASH_POP(a); DRCRASH_POP(b);
        if (a == 0) return DRCRASH_EINVAL;
        DRCRASH_PUSH(b % a);
        break;
      case 0x1e: DRCRASH_POP(a); DRCRASH_POP(b); DRCRASH_PUSH(b * a); break;        // mul
      case 0x1f: DRCRASH_POP(a); DRCRASH_PUSH(0 - a); break;                        // neg
      case 0x20: DRCRASH_POP(a); DRCRASH_PUSH(~a); break;                           // not
      case 0x21: DRCRASH_POP(a); DRCRASH_POP(b); DRCRASH_PUSH(b | a); break;        // or
      case 0x22: DRCRASH_POP(a); DRCRASH_POP(b); DRCRASH_PUSH(b + a); break;        // plus
      case 0x23:                                                                    // plus_uconst
        if ((error = numbers.uleb(&u)) != DRCRASH_ESUCCESS) return error;
        DRCRASH_POP(a);
        DRCRASH_PUSH(a + u);
        break;
      case 0x24: DRCRASH_POP(a); DRCRASH_POP(b); DRCRASH_PUSH(b << (a % 64 % (sizeof(T) * 8))); break;  // shl
      case 0x25: DRCRASH_POP(a); DRCRASH_POP(b); DRCRASH_PUSH(b >> (a % 64 % (sizeof(T) * 8))); break;  // shr
      case 0x26: DRCRASH_POP(a); DRCRASH_POP(b); DRCRASH_PUSH(static_cast<ST>(b) >> (a % 64 % (sizeof(T) * 8))); break;  // shra
      case 0x27: DRCRASH_POP(a); DRCRASH_POP(b); DRCRASH_PUSH(b ^ a); break;        // xor
      case 0x28:    // bra
      case 0x2f: {  // skip
        if (!fixed(2, &u)) return DRCRASH_EINVAL;
        bool branch = true;
        if (opcode == 0x28) {
          DRCRASH_POP(a);
          branch = a != 0;
        }
        if (branch) {
          const std::int64_t target = static_cast<std::int64_t>(pc) + static_cast<std::int16_t>(u);
          if (target < static_cast<std::int64_t>(start) || static_cast<std::uint64_t>(target) > end) return DRCRASH_EINVAL;
          pc = static_cast<std::uint64_t>(target);
        }
        break;
      }
      case 0x29: case 0x2a: case 0x2b: case 0x2c: case 0x2d: case 0x2e: {  // eq ge gt le lt ne
        DRCRASH_POP(a);
        DRCRASH_POP(b);
        const ST x = static_cast<ST>(b), y = static_cast<ST>(a);
        const bool r = opcode == 0x29 ? x == y : opcode == 0x2a ? x >= y : opcode == 0x2b ? x > y
                     : opcode == 0x2c ? x <= y : opcode == 0x2d ? x < y : x != y;
        DRCRASH_PUSH(r ? 1 : 0);
        break;
      }
      case 0x92:  // bregx
        if ((error = numbers.uleb(&u)) != DRCRASH_ESUCCESS) return error;
        if ((error = numbers.sleb(&s)) != DRCRASH_ESUCCESS) return error;
        if ((error = registerValue(u, s)) != DRCRASH_ESUCCESS) return error;
        break;
      case 0x94:    // deref_size
      case 0x95: {  // xderef_size
        if (!fixed(1, &u)) return DRCRASH_EINVAL;
        if (u != 1 && u != 2 && u != 4 && u != 8) return DRCRASH_EINVAL;
        DRCRASH_POP(a);
        if (opcode == 0x95) DRCRASH_POP(b);
        if ((error = readWord(bo, a, u, &c)) != DRCRASH_ESUCCESS) return error;
        DRCRASH_PUSH(c);
        break;
      }
      case 0x96: break;  // nop
      default: return DRCRASH_ENOTSUP;
    }
  }
#undef DRCRASH_POP
#undef DRCRASH_PUSH
  return stack.pop(result) ? DRCRASH_ESUCCESS : DRCRASH_EINVAL;
}

template drcrash_error_t drcrash_async_dwarf_expression_eval<std::uint32_t, std::int32_t>(drcrash_async_mobject*, const drcrash_async_thread_state*, const drcrash_async_byteorder*, std::uint64_t, std::int64_t, std::uint64_t, const std::uint32_t*, std::size_t, std::uint32_t*);
template drcrash_error_t drcrash_async_dwarf_expression_eval<std::uint64_t, std::int64_t>(drcrash_async_mobject*, const drcrash_async_thread_state*, const drcrash_async_byteorder*, std::uint64_t, std::int64_t, std::uint64_t, const std::uint64_t*, std::size_t, std::uint64_t*);

}  // namespace crashreporter::drcrash::async
