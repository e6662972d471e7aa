#include "crashreporter/Source/DwarfFrameInfo.h"

namespace crashreporter::drcrash::async {
namespace {

// The initial length: 32 bits, or 0xffffffff then 64 bits. `header` gets the
// bytes of the length field.
drcrash_error_t readInitialLength(drcrash_async_mobject* mobj, const drcrash_async_byteorder* bo, std::uint64_t address,
                                  std::uint64_t* length, std::uint64_t* header, bool* is64) {
  std::uint32_t length32;
  if (drcrash_async_mobject_read_uint32(mobj, bo, address, 0, &length32) != DRCRASH_ESUCCESS) return DRCRASH_EINVAL;
  if (length32 == 0xffffffffu) {
    if (drcrash_async_mobject_read_uint64(mobj, bo, address, 4, length) != DRCRASH_ESUCCESS) return DRCRASH_EINVAL;
    *header = 12;
    *is64 = true;
  } else {
    *length = length32;
    *header = 4;
    *is64 = false;
  }
  return DRCRASH_ESUCCESS;
}

drcrash_error_t readId(drcrash_async_mobject* mobj, const drcrash_async_byteorder* bo, std::uint64_t address, bool is64,
                       std::uint64_t* id) {
  if (is64) return drcrash_async_mobject_read_uint64(mobj, bo, address, 0, id) == DRCRASH_ESUCCESS ? DRCRASH_ESUCCESS : DRCRASH_EINVAL;
  std::uint32_t id32;
  if (drcrash_async_mobject_read_uint32(mobj, bo, address, 0, &id32) != DRCRASH_ESUCCESS) return DRCRASH_EINVAL;
  *id = id32;
  return DRCRASH_ESUCCESS;
}

}  // namespace

template <typename T>
drcrash_error_t drcrash_async_dwarf_cie_info_init(drcrash_async_dwarf_cie_info* info, drcrash_async_mobject* mobj,
                                                  const drcrash_async_byteorder* bo, const gnu_ehptr_reader<T>* ptr_reader,
                                                  std::uint64_t address) {
  *info = drcrash_async_dwarf_cie_info{};
  std::uint64_t header;
  bool is64;
  if (readInitialLength(mobj, bo, address, &info->cie_length, &header, &is64) != DRCRASH_ESUCCESS) return DRCRASH_EINVAL;
  info->cie_offset = address + header;
  if (readId(mobj, bo, info->cie_offset, is64, &info->cie_id) != DRCRASH_ESUCCESS) return DRCRASH_EINVAL;
  const std::uint64_t allOnes = is64 ? ~std::uint64_t{0} : 0xffffffffu;
  if (info->cie_id != 0 && info->cie_id != allOnes) return DRCRASH_EINVAL;
  std::uint64_t pos = info->cie_offset + (is64 ? 8 : 4);
  if (drcrash_async_mobject_read_uint8(mobj, pos++, 0, &info->cie_version) != DRCRASH_ESUCCESS) return DRCRASH_EINVAL;
  if (info->cie_version != 1 && info->cie_version != 3 && info->cie_version != 4) return DRCRASH_EINVAL;

  char augmentation[16];
  std::size_t augmentationLength = 0;
  for (;;) {
    std::uint8_t c;
    if (drcrash_async_mobject_read_uint8(mobj, pos++, 0, &c) != DRCRASH_ESUCCESS) return DRCRASH_EINVAL;
    if (c == 0) break;
    if (augmentationLength < sizeof augmentation) augmentation[augmentationLength] = static_cast<char>(c);
    ++augmentationLength;
  }
  if (augmentationLength > 0) {
    if (augmentation[0] != 'z') return DRCRASH_ENOTSUP;
    info->has_eh_augmentation = true;
  }
  if (info->cie_version == 4) {
    if (drcrash_async_mobject_read_uint8(mobj, pos++, 0, &info->address_size) != DRCRASH_ESUCCESS ||
        drcrash_async_mobject_read_uint8(mobj, pos++, 0, &info->segment_size) != DRCRASH_ESUCCESS) {
      return DRCRASH_EINVAL;
    }
  }
  std::uint64_t size;
  drcrash_error_t error = read_uleb128(mobj, pos, 0, &info->code_alignment_factor, &size);
  if (error != DRCRASH_ESUCCESS) return error;
  pos += size;
  if ((error = read_sleb128(mobj, pos, 0, &info->data_alignment_factor, &size)) != DRCRASH_ESUCCESS) return error;
  pos += size;
  if ((error = read_uleb128(mobj, pos, 0, &info->return_address_register, &size)) != DRCRASH_ESUCCESS) return error;
  pos += size;

  if (info->has_eh_augmentation) {
    std::uint64_t dataLength;
    if ((error = read_uleb128(mobj, pos, 0, &dataLength, &size)) != DRCRASH_ESUCCESS) return error;
    pos += size;
    const std::uint64_t dataEnd = pos + dataLength;
    if (dataEnd < pos) return DRCRASH_EINVAL;
    std::uint64_t cursor = pos;
    const std::size_t scanned = augmentationLength < sizeof augmentation ? augmentationLength : sizeof augmentation;
    for (std::size_t i = 1; i < scanned; ++i) {
      const char c = augmentation[i];
      if (c == 'L') {
        if (drcrash_async_mobject_read_uint8(mobj, cursor++, 0, &info->lsda_encoding) != DRCRASH_ESUCCESS) return DRCRASH_EINVAL;
        info->has_lsda_encoding = true;
      } else if (c == 'P') {
        std::uint8_t encoding;
        if (drcrash_async_mobject_read_uint8(mobj, cursor++, 0, &encoding) != DRCRASH_ESUCCESS) return DRCRASH_EINVAL;
        T personality;
        std::uint64_t personalitySize;
        if ((error = ptr_reader->read(mobj, cursor, 0, encoding, &personality, &personalitySize)) != DRCRASH_ESUCCESS) {
          return error;
        }
        cursor += personalitySize;
        info->personality_address = personality;
        info->has_personality_address = true;
      } else if (c == 'R') {
        if (drcrash_async_mobject_read_uint8(mobj, cursor++, 0, &info->pointer_encoding) != DRCRASH_ESUCCESS) return DRCRASH_EINVAL;
        info->has_pointer_encoding = true;
      } else if (c == 'S') {
        info->signal_frame = true;
      } else {
        break;  // 'M', 'N', 'O', 'Q' and anything outside 'L'..'S': the rest is unknown
      }
    }
    pos = dataEnd;
  }
  const std::uint64_t end = info->cie_offset + info->cie_length;
  if (end < info->cie_offset || pos > end) return DRCRASH_EINVAL;
  info->initial_instructions_offset = pos;
  info->initial_instructions_length = end - pos;
  return DRCRASH_ESUCCESS;
}

template <typename T>
drcrash_error_t drcrash_async_dwarf_fde_info_init(drcrash_async_dwarf_fde_info* info, drcrash_async_mobject* mobj,
                                                  const drcrash_async_byteorder* bo, std::uint64_t address,
                                                  bool debug_frame) {
  *info = drcrash_async_dwarf_fde_info{};
  std::uint64_t header;
  bool is64;
  if (readInitialLength(mobj, bo, address, &info->fde_length, &header, &is64) != DRCRASH_ESUCCESS) return DRCRASH_EINVAL;
  info->fde_offset = address + header;
  std::uint64_t pointer;
  if (readId(mobj, bo, info->fde_offset, is64, &pointer) != DRCRASH_ESUCCESS) return DRCRASH_EINVAL;
  if (debug_frame) {
    if (!drcrash_async_address_apply_offset(drcrash_async_mobject_target_address(mobj), static_cast<std::int64_t>(pointer),
                                            &info->cie_offset) || static_cast<std::int64_t>(pointer) < 0) {
      return DRCRASH_EINVAL;
    }
  } else {
    if (pointer > info->fde_offset) return DRCRASH_EINVAL;
    info->cie_offset = info->fde_offset - pointer;
  }
  const gnu_ehptr_reader<T> ptr_reader(bo);
  drcrash_error_t error = drcrash_async_dwarf_cie_info_init<T>(&info->cie, mobj, bo, &ptr_reader, info->cie_offset);
  if (error != DRCRASH_ESUCCESS) return error;

  std::uint64_t pos = info->fde_offset + (is64 ? 8 : 4);
  const std::uint8_t encoding = info->cie.has_eh_augmentation && info->cie.has_pointer_encoding
                                    ? info->cie.pointer_encoding
                                    : static_cast<std::uint8_t>(DW_EH_PE_absptr);
  T start, range;
  std::uint64_t size;
  if ((error = ptr_reader.read(mobj, pos, 0, encoding, &start, &size)) != DRCRASH_ESUCCESS) return error;
  pos += size;
  if ((error = ptr_reader.read(mobj, pos, 0, encoding & 0x0f, &range, &size)) != DRCRASH_ESUCCESS) return error;
  pos += size;
  if (static_cast<T>(start + range) < start) return DRCRASH_EINVAL;
  info->pc_start = start;
  info->pc_end = static_cast<T>(start + range);
  if (info->cie.has_eh_augmentation) {
    std::uint64_t dataLength;
    if ((error = read_uleb128(mobj, pos, 0, &dataLength, &size)) != DRCRASH_ESUCCESS) return error;
    pos += size + dataLength;
  }
  const std::uint64_t end = info->fde_offset + info->fde_length;
  if (end < info->fde_offset || pos > end) return DRCRASH_EINVAL;
  info->instructions_offset = pos;
  info->instructions_length = end - pos;
  return DRCRASH_ESUCCESS;
}

template <typename T>
drcrash_error_t drcrash_async_cfi_find_fde(drcrash_async_mobject* mobj, const drcrash_async_byteorder* bo,
                                           bool debug_frame, std::uint64_t start, std::uint64_t pc,
                                           drcrash_async_dwarf_fde_info* fde) {
  const std::uint64_t sectionEnd = drcrash_async_mobject_target_address(mobj) + drcrash_async_mobject_length(mobj);
  std::uint64_t pos = start;
  // A hostile section of tiny entries would keep the crash handler walking for ever.
  constexpr std::uint32_t kMaxEntries = 1u << 20;
  for (std::uint32_t entries = 0; pos < sectionEnd; ++entries) {
    if (entries == kMaxEntries) return DRCRASH_ENOTFOUND;
    std::uint64_t length, header;
    bool is64;
    if (readInitialLength(mobj, bo, pos, &length, &header, &is64) != DRCRASH_ESUCCESS) return DRCRASH_EINVAL;
    if (length == 0) return DRCRASH_ENOTFOUND;
    const std::uint64_t next = pos + header + length;
    if (next < pos) return DRCRASH_EINVAL;
    std::uint64_t id;
    if (readId(mobj, bo, pos + header, is64, &id) != DRCRASH_ESUCCESS) return DRCRASH_EINVAL;
    const std::uint64_t cieId = debug_frame ? (is64 ? ~std::uint64_t{0} : 0xffffffffu) : 0;
    if (id != cieId) {
      const drcrash_error_t error = drcrash_async_dwarf_fde_info_init<T>(fde, mobj, bo, pos, debug_frame);
      if (error != DRCRASH_ESUCCESS) return error;
      if (fde->pc_start <= pc && pc < fde->pc_end) return DRCRASH_ESUCCESS;
    }
    pos = next;
  }
  return DRCRASH_ENOTFOUND;
}

namespace {

struct EhFrameHeader {
  std::uint64_t eh_frame = 0;
  bool has_table = false;
  std::uint64_t fde_count = 0;
};

drcrash_error_t readEhFrameHeader(drcrash_async_mobject* hdr, std::uint64_t hdr_address, EhFrameHeader* out) {
  const drcrash_async_byteorder* bo = &drcrash_async_byteorder_native;
  std::uint8_t fields[4];  // version, eh_frame_ptr_enc, fde_count_enc, table_enc
  if (drcrash_async_mobject_read(hdr, hdr_address, 0, fields, sizeof fields) != DRCRASH_ESUCCESS) return DRCRASH_EINVAL;
  if (fields[0] != 1) return DRCRASH_EINVAL;
  gnu_ehptr_reader<std::uint64_t> reader(bo);
  reader.set_data_base(hdr_address);
  std::uint64_t size;
  drcrash_error_t error = reader.read(hdr, hdr_address, 4, fields[1], &out->eh_frame, &size);
  if (error != DRCRASH_ESUCCESS) return error;
  const std::int64_t countAt = 4 + static_cast<std::int64_t>(size);
  // The one table layout linkers write: datarel signed 32-bit pairs.
  constexpr std::uint8_t kTableEncoding = DW_EH_PE_datarel | DW_EH_PE_sdata4;
  if (fields[2] != DW_EH_PE_omit && fields[3] == kTableEncoding &&
      reader.read(hdr, hdr_address, countAt, fields[2], &out->fde_count, &size) == DRCRASH_ESUCCESS) {
    out->has_table = hdr_address + static_cast<std::uint64_t>(countAt) + size == hdr_address + 12 &&
                     drcrash_async_mobject_verify(hdr, hdr_address, 12, out->fde_count * 8);
  }
  return DRCRASH_ESUCCESS;
}

drcrash_error_t walkEhFrame(std::uint64_t eh_frame, std::uint64_t limit, std::uint64_t pc, drcrash_async_dwarf_fde_info* fde) {
  if (limit <= eh_frame) return DRCRASH_ENOTFOUND;
  drcrash_async_mobject section;
  if (drcrash_async_mobject_init(&section, eh_frame, limit - eh_frame, true) != DRCRASH_ESUCCESS) return DRCRASH_EINVAL;
  return drcrash_async_cfi_find_fde<std::uint64_t>(&section, &drcrash_async_byteorder_native, false, eh_frame, pc, fde);
}

}  // namespace

drcrash_error_t drcrash_async_eh_frame_hdr_find_fde_linear(std::uint64_t hdr_address, std::uint64_t hdr_length,
                                                           std::uint64_t eh_frame_limit, std::uint64_t pc,
                                                           drcrash_async_dwarf_fde_info* fde) {
  drcrash_async_mobject hdr;
  if (drcrash_async_mobject_init(&hdr, hdr_address, hdr_length, true) != DRCRASH_ESUCCESS) return DRCRASH_EINVAL;
  EhFrameHeader header;
  const drcrash_error_t error = readEhFrameHeader(&hdr, hdr_address, &header);
  if (error != DRCRASH_ESUCCESS) return error;
  return walkEhFrame(header.eh_frame, eh_frame_limit, pc, fde);
}

drcrash_error_t drcrash_async_eh_frame_hdr_find_fde(std::uint64_t hdr_address, std::uint64_t hdr_length,
                                                    std::uint64_t eh_frame_limit, std::uint64_t pc,
                                                    drcrash_async_dwarf_fde_info* fde) {
  drcrash_async_mobject hdr;
  if (drcrash_async_mobject_init(&hdr, hdr_address, hdr_length, true) != DRCRASH_ESUCCESS) return DRCRASH_EINVAL;
  EhFrameHeader header;
  drcrash_error_t error = readEhFrameHeader(&hdr, hdr_address, &header);
  if (error != DRCRASH_ESUCCESS) return error;
  if (!header.has_table) return walkEhFrame(header.eh_frame, eh_frame_limit, pc, fde);
  // The last entry whose initial location is not above pc.
  std::uint64_t low = 0, high = header.fde_count;
  std::int32_t entry[2];
  while (low < high) {
    const std::uint64_t middle = low + (high - low) / 2;
    if (drcrash_async_mobject_read(&hdr, hdr_address, static_cast<std::int64_t>(12 + middle * 8), entry, sizeof entry) !=
        DRCRASH_ESUCCESS) {
      return DRCRASH_EINVAL;
    }
    if (hdr_address + static_cast<std::uint64_t>(static_cast<std::int64_t>(entry[0])) <= pc) {
      low = middle + 1;
    } else {
      high = middle;
    }
  }
  if (low == 0) return DRCRASH_ENOTFOUND;
  if (drcrash_async_mobject_read(&hdr, hdr_address, static_cast<std::int64_t>(12 + (low - 1) * 8), entry, sizeof entry) !=
      DRCRASH_ESUCCESS) {
    return DRCRASH_EINVAL;
  }
  const std::uint64_t fdeAddress = hdr_address + static_cast<std::uint64_t>(static_cast<std::int64_t>(entry[1]));
  if (fdeAddress < header.eh_frame || fdeAddress >= eh_frame_limit) return DRCRASH_EINVAL;
  drcrash_async_mobject section;
  if (drcrash_async_mobject_init(&section, header.eh_frame, eh_frame_limit - header.eh_frame, true) != DRCRASH_ESUCCESS) {
    return DRCRASH_EINVAL;
  }
  error = drcrash_async_dwarf_fde_info_init<std::uint64_t>(fde, &section, &drcrash_async_byteorder_native, fdeAddress, false);
  if (error != DRCRASH_ESUCCESS) return error;
  return fde->pc_start <= pc && pc < fde->pc_end ? DRCRASH_ESUCCESS : DRCRASH_ENOTFOUND;
}

template drcrash_error_t drcrash_async_dwarf_cie_info_init<std::uint32_t>(drcrash_async_dwarf_cie_info*, drcrash_async_mobject*, const drcrash_async_byteorder*, const gnu_ehptr_reader<std::uint32_t>*, std::uint64_t);
template drcrash_error_t drcrash_async_dwarf_cie_info_init<std::uint64_t>(drcrash_async_dwarf_cie_info*, drcrash_async_mobject*, const drcrash_async_byteorder*, const gnu_ehptr_reader<std::uint64_t>*, std::uint64_t);
template drcrash_error_t drcrash_async_dwarf_fde_info_init<std::uint32_t>(drcrash_async_dwarf_fde_info*, drcrash_async_mobject*, const drcrash_async_byteorder*, std::uint64_t, bool);
template drcrash_error_t drcrash_async_dwarf_fde_info_init<std::uint64_t>(drcrash_async_dwarf_fde_info*, drcrash_async_mobject*, const drcrash_async_byteorder*, std::uint64_t, bool);
template drcrash_error_t drcrash_async_cfi_find_fde<std::uint32_t>(drcrash_async_mobject*, const drcrash_async_byteorder*, bool, std::uint64_t, std::uint64_t, drcrash_async_dwarf_fde_info*);
template drcrash_error_t drcrash_async_cfi_find_fde<std::uint64_t>(drcrash_async_mobject*, const drcrash_async_byteorder*, bool, std::uint64_t, std::uint64_t, drcrash_async_dwarf_fde_info*);

}  // namespace crashreporter::drcrash::async
