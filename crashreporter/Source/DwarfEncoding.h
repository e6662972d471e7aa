#pragma once
// DWARF's variable-length numbers and the .eh_frame pointer encodings, read
// through a memory object so that damaged unwind data gives an error code,
// never a fault. Templates over the target word (unsigned T, signed ST).
// Async-signal-safe.

#include <cstdint>

#include "crashreporter/Source/AsyncMemory.h"

namespace crashreporter::drcrash::async {

// ULEB128 at location + offset; `size` gets the bytes read. A byte out of the
// window gives 5; a continuation whose shift would reach 64 bits gives 4.
drcrash_error_t read_uleb128(drcrash_async_mobject* mobj, std::uint64_t location, std::int64_t offset,
                             std::uint64_t* result, std::uint64_t* size);
drcrash_error_t read_sleb128(drcrash_async_mobject* mobj, std::uint64_t location, std::int64_t offset,
                             std::int64_t* result, std::uint64_t* size);
// Reads the numbers of an instruction stream in turn, advancing `pc` and
// refusing a number that runs past `end`.
struct DwarfInstructionCursor {
  drcrash_async_mobject* mobj;
  std::uint64_t& pc;
  std::uint64_t end;

  drcrash_error_t uleb(std::uint64_t* out) const;
  drcrash_error_t sleb(std::int64_t* out) const;
};
// The same over this process's memory at an address (a 4096-byte window).
drcrash_error_t read_task_uleb128(std::uint64_t address, std::int64_t offset, std::uint64_t* result, std::uint64_t* size);
drcrash_error_t read_task_sleb128(std::uint64_t address, std::int64_t offset, std::int64_t* result, std::uint64_t* size);

enum : std::uint8_t {
  DW_EH_PE_omit = 0xff,
  DW_EH_PE_absptr = 0x00,
  DW_EH_PE_uleb128 = 0x01,
  DW_EH_PE_udata2 = 0x02,
  DW_EH_PE_udata4 = 0x03,
  DW_EH_PE_udata8 = 0x04,
  DW_EH_PE_sleb128 = 0x09,
  DW_EH_PE_sdata2 = 0x0a,
  DW_EH_PE_sdata4 = 0x0b,
  DW_EH_PE_sdata8 = 0x0c,
  DW_EH_PE_pcrel = 0x10,
  DW_EH_PE_textrel = 0x20,
  DW_EH_PE_datarel = 0x30,
  DW_EH_PE_funcrel = 0x40,
  DW_EH_PE_aligned = 0x50,
  DW_EH_PE_indirect = 0x80,
};

// Decodes encoded pointers. Bases are optional; a relative encoding whose base
// was not set gives 4.
template <typename T>
class gnu_ehptr_reader {
 public:
  explicit gnu_ehptr_reader(const drcrash_async_byteorder* byteorder) : byteorder_(byteorder) {}

  void set_frame_section_base(T section_base, T vm_address) {
    frame_section_base_ = section_base;
    frame_section_vm_address_ = vm_address;
    has_frame_section_base_ = true;
  }
  void set_text_base(T base) { text_base_ = base; has_text_base_ = true; }
  void set_data_base(T base) { data_base_ = base; has_data_base_ = true; }
  void set_func_base(T base) { func_base_ = base; has_func_base_ = true; }

  drcrash_error_t read(drcrash_async_mobject* mobj, std::uint64_t location, std::int64_t offset, std::uint8_t encoding,
                       T* result, std::uint64_t* size) const {
    if (encoding == DW_EH_PE_omit) return DRCRASH_ENOTFOUND;
    *size = 0;
    T base = 0;
    switch (encoding & 0x70) {
      case DW_EH_PE_absptr: break;
      case DW_EH_PE_pcrel: base = static_cast<T>(location + static_cast<std::uint64_t>(offset)); break;
      case DW_EH_PE_textrel:
        if (!has_text_base_) return DRCRASH_ENOTSUP;
        base = text_base_;
        break;
      case DW_EH_PE_datarel:
        if (!has_data_base_) return DRCRASH_ENOTSUP;
        base = data_base_;
        break;
      case DW_EH_PE_funcrel:
        if (!has_func_base_) return DRCRASH_ENOTSUP;
        base = func_base_;
        break;
      case DW_EH_PE_aligned: {
        if (!has_frame_section_base_) return DRCRASH_ENOTSUP;
        const T position = static_cast<T>(location + static_cast<std::uint64_t>(offset) - frame_section_base_ +
                                          frame_section_vm_address_);
        const T padding = static_cast<T>((sizeof(T) - position % sizeof(T)) % sizeof(T));
        offset += padding;
        *size += padding;
        break;
      }
      default: return DRCRASH_ENOTSUP;
    }
    T value = 0;
    std::uint64_t length = 0;
    drcrash_error_t error = DRCRASH_ESUCCESS;
    switch (encoding & 0x0f) {
      case DW_EH_PE_absptr: error = fixed<T>(mobj, location, offset, &value, &length); break;
      case DW_EH_PE_uleb128: {
        std::uint64_t v;
        error = read_uleb128(mobj, location, offset, &v, &length);
        value = static_cast<T>(v);
        break;
      }
      case DW_EH_PE_udata2: error = fixed<std::uint16_t>(mobj, location, offset, &value, &length); break;
      case DW_EH_PE_udata4: error = fixed<std::uint32_t>(mobj, location, offset, &value, &length); break;
      case DW_EH_PE_udata8: error = fixed<std::uint64_t>(mobj, location, offset, &value, &length); break;
      case DW_EH_PE_sleb128: {
        std::int64_t v;
        error = read_sleb128(mobj, location, offset, &v, &length);
        value = static_cast<T>(v);
        break;
      }
      case DW_EH_PE_sdata2: error = fixed<std::int16_t>(mobj, location, offset, &value, &length); break;
      case DW_EH_PE_sdata4: error = fixed<std::int32_t>(mobj, location, offset, &value, &length); break;
      case DW_EH_PE_sdata8: error = fixed<std::int64_t>(mobj, location, offset, &value, &length); break;
      default: return DRCRASH_ENOTSUP;
    }
    if (error != DRCRASH_ESUCCESS) return error;
    *size += length;
    value = static_cast<T>(base + value);
    if (encoding & DW_EH_PE_indirect) {
      T target;
      error = drcrash_async_task_memcpy(value, 0, &target, sizeof target);
      if (error != DRCRASH_ESUCCESS) return error;
      value = sizeof(T) == 8 ? static_cast<T>(byteorder_->swap64(target)) : static_cast<T>(byteorder_->swap32(static_cast<std::uint32_t>(target)));
    }
    *result = value;
    return DRCRASH_ESUCCESS;
  }

 private:
  // A fixed-size field of type V, sign- or zero-extended into T.
  template <typename V>
  drcrash_error_t fixed(drcrash_async_mobject* mobj, std::uint64_t location, std::int64_t offset, T* out,
                        std::uint64_t* length) const {
    V raw;
    if (drcrash_async_mobject_read(mobj, location, offset, &raw, sizeof raw) != DRCRASH_ESUCCESS) return DRCRASH_EINVAL;
    if constexpr (sizeof(V) == 2) raw = static_cast<V>(byteorder_->swap16(static_cast<std::uint16_t>(raw)));
    if constexpr (sizeof(V) == 4) raw = static_cast<V>(byteorder_->swap32(static_cast<std::uint32_t>(raw)));
    if constexpr (sizeof(V) == 8) raw = static_cast<V>(byteorder_->swap64(static_cast<std::uint64_t>(raw)));
    *out = static_cast<T>(raw);
    *length = sizeof(V);
    return DRCRASH_ESUCCESS;
  }

  const drcrash_async_byteorder* byteorder_;
  T frame_section_base_ = 0, frame_section_vm_address_ = 0, text_base_ = 0, data_base_ = 0, func_base_ = 0;
  bool has_frame_section_base_ = false, has_text_base_ = false, has_data_base_ = false, has_func_base_ = false;
};

}  // namespace crashreporter::drcrash::async
