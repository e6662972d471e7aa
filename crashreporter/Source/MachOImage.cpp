#include "crashreporter/Source/MachOImage.h"

#include <cstdlib>
#include <cstring>

namespace crashreporter {
namespace {

constexpr std::uint32_t kMagic32 = 0xFEEDFACE, kMagic64 = 0xFEEDFACF;
constexpr std::uint32_t kCigam32 = 0xCEFAEDFE, kCigam64 = 0xCFFAEDFE;
constexpr std::uint32_t kSegment64Size = 72, kSegment32Size = 56;
constexpr std::uint32_t kSection64Size = 80, kSection32Size = 68;
constexpr std::uint16_t kThumbDefinition = 0x0008;

std::uint32_t headerWord(const drcrash_async_image_reader* image, std::size_t index) {
  std::uint32_t word;
  std::memcpy(&word, image->header + index * 4, 4);
  return image->byteorder->swap32(word);
}

bool read32(drcrash_async_image_reader* image, std::uint64_t address, std::int64_t offset, std::uint32_t* out) {
  return drcrash_async_mobject_read_uint32(&image->load_cmds, image->byteorder, address, offset, out) == DRCRASH_ESUCCESS;
}

// A segment-name or section-name field: 16 bytes, not always terminated.
bool nameEquals(const char field[16], const char* name) { return drcrash_async_strncmp(field, name, 16) == 0; }

struct Segment {
  std::uint64_t vmaddr = 0, vmsize = 0, fileoff = 0, filesize = 0;
  std::uint32_t nsects = 0;
  std::uint64_t sections = 0;  // address of the first section header
};

bool readSegment(drcrash_async_image_reader* image, std::uint64_t command, Segment* out) {
  const std::uint32_t size = image->m64 ? kSegment64Size : kSegment32Size;
  if (!drcrash_async_mobject_verify(&image->load_cmds, command, 0, size)) return false;
  const drcrash_async_byteorder* bo = image->byteorder;
  if (image->m64) {
    std::uint64_t words[4];
    std::uint32_t nsects;
    if (drcrash_async_mobject_read(&image->load_cmds, command, 24, words, sizeof words) != DRCRASH_ESUCCESS ||
        !read32(image, command, 64, &nsects)) {
      return false;
    }
    *out = Segment{bo->swap64(words[0]), bo->swap64(words[1]), bo->swap64(words[2]), bo->swap64(words[3]), nsects, command + size};
  } else {
    std::uint32_t words[4];
    std::uint32_t nsects;
    if (drcrash_async_mobject_read(&image->load_cmds, command, 24, words, sizeof words) != DRCRASH_ESUCCESS ||
        !read32(image, command, 48, &nsects)) {
      return false;
    }
    *out = Segment{bo->swap32(words[0]), bo->swap32(words[1]), bo->swap32(words[2]), bo->swap32(words[3]), nsects, command + size};
  }
  return true;
}

// nlist entries as read: normalized value has bit 0 set for Thumb definitions.
struct Symbol {
  std::uint32_t strx;
  std::uint8_t type;
  std::uint16_t desc;
  std::uint64_t value;
};

struct SymtabView {
  drcrash_async_mobject linkedit;
  std::uint64_t symbols = 0;  // address of the table
  std::uint32_t nsyms = 0;
  bool split = false;  // external and local sub-tables from LC_DYSYMTAB
  std::uint32_t iext = 0, next = 0, ilocal = 0, nlocal = 0;
  std::uint64_t strings = 0;
  std::uint32_t strsize = 0;
};

drcrash_error_t openSymtab(drcrash_async_image_reader* image, SymtabView* view) {
  const std::uint64_t symtab = drcrash_async_image_reader_find_command(image, kDrcrashMachOSymtab);
  if (symtab == 0) return DRCRASH_ENOTFOUND;
  std::uint32_t symoff, nsyms, stroff, strsize;
  if (!read32(image, symtab, 8, &symoff) || !read32(image, symtab, 12, &nsyms) || !read32(image, symtab, 16, &stroff) ||
      !read32(image, symtab, 20, &strsize)) {
    return DRCRASH_EINVAL;
  }
  std::uint64_t fileoff, filesize;
  if (drcrash_async_image_reader_map_segment(image, "__LINKEDIT", &view->linkedit, &fileoff, &filesize) != DRCRASH_ESUCCESS) {
    return DRCRASH_EINTERNAL;
  }
  const std::uint64_t base = drcrash_async_mobject_target_address(&view->linkedit);
  const std::uint64_t entry = image->m64 ? 16 : 12;
  if (symoff < fileoff || stroff < fileoff) return DRCRASH_EINTERNAL;
  view->symbols = base + (symoff - fileoff);
  view->nsyms = nsyms;
  view->strings = base + (stroff - fileoff);
  view->strsize = strsize;
  if (!drcrash_async_mobject_verify(&view->linkedit, view->symbols, 0, std::uint64_t{nsyms} * entry) ||
      !drcrash_async_mobject_verify(&view->linkedit, view->strings, 0, strsize)) {
    return DRCRASH_EINTERNAL;
  }
  const std::uint64_t dysymtab = drcrash_async_image_reader_find_command(image, kDrcrashMachODysymtab);
  if (dysymtab != 0) {
    if (!read32(image, dysymtab, 8, &view->ilocal) || !read32(image, dysymtab, 12, &view->nlocal) ||
        !read32(image, dysymtab, 16, &view->iext) || !read32(image, dysymtab, 20, &view->next)) {
      return DRCRASH_EINVAL;
    }
    if (std::uint64_t{view->iext} + view->next > nsyms || std::uint64_t{view->ilocal} + view->nlocal > nsyms) return DRCRASH_EINVAL;
    view->split = true;
  }
  return DRCRASH_ESUCCESS;
}

bool readSymbol(drcrash_async_image_reader* image, SymtabView* view, std::uint32_t index, Symbol* out) {
  const drcrash_async_byteorder* bo = image->byteorder;
  const std::uint64_t at = view->symbols + std::uint64_t{index} * (image->m64 ? 16 : 12);
  std::uint8_t raw[16];
  if (drcrash_async_mobject_read(&view->linkedit, at, 0, raw, image->m64 ? 16 : 12) != DRCRASH_ESUCCESS) return false;
  std::uint32_t strx;
  std::uint16_t desc;
  std::memcpy(&strx, raw, 4);
  std::memcpy(&desc, raw + 6, 2);
  out->strx = bo->swap32(strx);
  out->type = raw[4];
  out->desc = bo->swap16(desc);
  if (image->m64) {
    std::uint64_t value;
    std::memcpy(&value, raw + 8, 8);
    out->value = bo->swap64(value);
  } else {
    std::uint32_t value;
    std::memcpy(&value, raw + 8, 4);
    out->value = bo->swap32(value);
  }
  if (out->desc & kThumbDefinition) out->value |= 1;
  return true;
}

// Defined in a section and not a debugging entry.
bool counts(const Symbol& symbol) { return (symbol.type & 0xEE) == 0x0E; }

bool searchRange(drcrash_async_image_reader* image, SymtabView* view, std::uint32_t first, std::uint32_t count,
                 std::uint64_t target, bool* found, Symbol* best) {
  for (std::uint32_t i = 0; i < count; ++i) {
    Symbol symbol;
    if (!readSymbol(image, view, first + i, &symbol)) return false;
    if (!counts(symbol) || symbol.value > target) continue;
    if (!*found || symbol.value > best->value) {
      *best = symbol;
      *found = true;
    }
  }
  return true;
}

}  // namespace

drcrash_error_t drcrash_async_image_reader_init(drcrash_async_image_reader* image, std::uint64_t header_address,
                                                const char* path) {
  *image = drcrash_async_image_reader{};
  image->name = strdup(path != nullptr ? path : "");
  image->header_address = header_address;
  auto fail = [&](drcrash_error_t error) {
    drcrash_async_image_reader_free(image);
    return error;
  };
  if (drcrash_async_task_memcpy(header_address, 0, image->header, sizeof image->header) != DRCRASH_ESUCCESS) {
    return fail(DRCRASH_EINTERNAL);
  }
  std::uint32_t magic;
  std::memcpy(&magic, image->header, 4);
  switch (magic) {
    case kMagic32: image->header_size = 28; break;
    case kMagic64: image->header_size = 32, image->m64 = true; break;
    case kCigam32: image->header_size = 28, image->byteorder = &drcrash_async_byteorder_swapped; break;
    case kCigam64: image->header_size = 32, image->m64 = true, image->byteorder = &drcrash_async_byteorder_swapped; break;
    default: return fail(DRCRASH_EINVAL);
  }
  image->ncmds = headerWord(image, 4);
  const std::uint32_t sizeofcmds = headerWord(image, 5);
  const drcrash_error_t mapped =
      drcrash_async_mobject_init(&image->load_cmds, header_address + image->header_size, sizeofcmds, true);
  if (mapped != DRCRASH_ESUCCESS) return fail(mapped);
  const std::uint32_t wanted = image->m64 ? kDrcrashMachOSegment64 : kDrcrashMachOSegment;
  for (std::uint64_t command = drcrash_async_image_reader_next_command_type(image, 0, wanted); command != 0;
       command = drcrash_async_image_reader_next_command_type(image, command, wanted)) {
    char name[16];
    if (drcrash_async_mobject_read(&image->load_cmds, command, 8, name, sizeof name) != DRCRASH_ESUCCESS) continue;
    if (!nameEquals(name, "__TEXT")) continue;
    Segment text;
    if (!readSegment(image, command, &text)) return fail(DRCRASH_EINVAL);
    image->text_vmaddr = text.vmaddr;
    image->text_size = text.vmsize;
    image->vm_slide = static_cast<std::int64_t>(header_address - text.vmaddr);
    return DRCRASH_ESUCCESS;
  }
  return fail(DRCRASH_EINVAL);
}

void drcrash_async_image_reader_free(drcrash_async_image_reader* image) {
  std::free(image->name);
  image->name = nullptr;
}

bool drcrash_async_image_reader_contains_address(const drcrash_async_image_reader* image, std::uint64_t address) {
  return address >= image->header_address && address - image->header_address < image->text_size;
}

std::uint32_t drcrash_async_image_reader_cpu_type(const drcrash_async_image_reader* image) { return headerWord(image, 1); }
std::uint32_t drcrash_async_image_reader_cpu_subtype(const drcrash_async_image_reader* image) { return headerWord(image, 2); }

std::uint64_t drcrash_async_image_reader_next_command(drcrash_async_image_reader* image, std::uint64_t previous) {
  drcrash_async_mobject* cmds = &image->load_cmds;
  const std::uint64_t start = drcrash_async_mobject_target_address(cmds);
  const std::uint64_t end = start + drcrash_async_mobject_length(cmds);
  if (previous == 0) return drcrash_async_mobject_length(cmds) >= 8 && drcrash_async_mobject_verify(cmds, start, 0, 8) ? start : 0;
  std::uint32_t cmdsize;
  if (!drcrash_async_mobject_verify(cmds, previous, 0, 8) || !read32(image, previous, 4, &cmdsize) || cmdsize < 8) return 0;
  const std::uint64_t next = previous + cmdsize;
  if (next < previous || next >= end || !drcrash_async_mobject_verify(cmds, next, 0, 8)) return 0;
  std::uint32_t nextSize;
  if (!read32(image, next, 4, &nextSize) || !drcrash_async_mobject_verify(cmds, next, 0, nextSize)) return 0;
  return next;
}

std::uint64_t drcrash_async_image_reader_next_command_type(drcrash_async_image_reader* image, std::uint64_t previous,
                                                           std::uint32_t type) {
  for (std::uint64_t command = drcrash_async_image_reader_next_command(image, previous); command != 0;
       command = drcrash_async_image_reader_next_command(image, command)) {
    std::uint32_t cmd;
    if (read32(image, command, 0, &cmd) && cmd == type) return command;
  }
  return 0;
}

std::uint64_t drcrash_async_image_reader_find_command(drcrash_async_image_reader* image, std::uint32_t type) {
  return drcrash_async_image_reader_next_command_type(image, 0, type);
}

std::uint64_t drcrash_async_image_reader_find_segment(drcrash_async_image_reader* image, const char* name) {
  const std::uint32_t type = image->m64 ? kDrcrashMachOSegment64 : kDrcrashMachOSegment;
  for (std::uint64_t command = drcrash_async_image_reader_find_command(image, type); command != 0;
       command = drcrash_async_image_reader_next_command_type(image, command, type)) {
    char segname[16];
    if (drcrash_async_mobject_read(&image->load_cmds, command, 8, segname, sizeof segname) == DRCRASH_ESUCCESS &&
        nameEquals(segname, name)) {
      return command;
    }
  }
  return 0;
}

drcrash_error_t drcrash_async_image_reader_map_segment(drcrash_async_image_reader* image, const char* name,
                                                       drcrash_async_mobject* out, std::uint64_t* file_offset,
                                                       std::uint64_t* file_size) {
  const std::uint64_t command = drcrash_async_image_reader_find_segment(image, name);
  Segment segment;
  if (command == 0) return DRCRASH_ENOTFOUND;
  if (!readSegment(image, command, &segment)) return DRCRASH_EINVAL;
  if (file_offset != nullptr) *file_offset = segment.fileoff;
  if (file_size != nullptr) *file_size = segment.filesize;
  return drcrash_async_mobject_init(out, segment.vmaddr + static_cast<std::uint64_t>(image->vm_slide), segment.vmsize, false);
}

drcrash_error_t drcrash_async_image_reader_map_section(drcrash_async_image_reader* image, const char* segment_name,
                                                       const char* section_name, drcrash_async_mobject* out) {
  const std::uint64_t command = drcrash_async_image_reader_find_segment(image, segment_name);
  Segment segment;
  if (command == 0) return DRCRASH_ENOTFOUND;
  if (!readSegment(image, command, &segment)) return DRCRASH_EINVAL;
  if (segment.nsects == 0) return DRCRASH_ENOTFOUND;
  const std::uint32_t size = image->m64 ? kSection64Size : kSection32Size;
  for (std::uint32_t i = 0; i < segment.nsects; ++i) {
    const std::uint64_t header = segment.sections + std::uint64_t{i} * size;
    char sectname[16];
    if (!drcrash_async_mobject_verify(&image->load_cmds, header, 0, size) ||
        drcrash_async_mobject_read(&image->load_cmds, header, 0, sectname, sizeof sectname) != DRCRASH_ESUCCESS) {
      return DRCRASH_EINVAL;
    }
    if (!nameEquals(sectname, section_name)) continue;
    std::uint64_t addr, length;
    if (image->m64) {
      std::uint64_t words[2];
      if (drcrash_async_mobject_read(&image->load_cmds, header, 32, words, sizeof words) != DRCRASH_ESUCCESS) return DRCRASH_EINVAL;
      addr = image->byteorder->swap64(words[0]);
      length = image->byteorder->swap64(words[1]);
    } else {
      std::uint32_t words[2];
      if (drcrash_async_mobject_read(&image->load_cmds, header, 32, words, sizeof words) != DRCRASH_ESUCCESS) return DRCRASH_EINVAL;
      addr = image->byteorder->swap32(words[0]);
      length = image->byteorder->swap32(words[1]);
    }
    return drcrash_async_mobject_init(out, addr + static_cast<std::uint64_t>(image->vm_slide), length, true);
  }
  return DRCRASH_ENOTFOUND;
}

drcrash_error_t drcrash_async_image_reader_find_symbol(drcrash_async_image_reader* image, std::uint64_t address,
                                                       drcrash_async_symbol_cb callback, void* context) {
  SymtabView view;
  const drcrash_error_t opened = openSymtab(image, &view);
  if (opened != DRCRASH_ESUCCESS) return opened;
  const std::uint64_t target = address - static_cast<std::uint64_t>(image->vm_slide);
  bool found = false;
  Symbol best{};
  const bool searched = view.split ? searchRange(image, &view, view.iext, view.next, target, &found, &best) &&
                                         searchRange(image, &view, view.ilocal, view.nlocal, target, &found, &best)
                                   : searchRange(image, &view, 0, view.nsyms, target, &found, &best);
  if (!searched) return DRCRASH_EINVAL;
  if (!found) return DRCRASH_ENOTFOUND;
  char name[kDrcrashSymbolNameSize];
  std::size_t length = 0;
  for (;; ++length) {
    std::uint8_t c;
    if (best.strx >= view.strsize || std::uint64_t{best.strx} + length >= view.strsize ||
        drcrash_async_mobject_read_uint8(&view.linkedit, view.strings, static_cast<std::int64_t>(best.strx + length), &c) !=
            DRCRASH_ESUCCESS) {
      return DRCRASH_EINVAL;
    }
    if (c == 0) break;
    if (length + 1 < sizeof name) name[length] = static_cast<char>(c);
  }
  name[length + 1 < sizeof name ? length : sizeof name - 1] = '\0';
  callback(best.value + static_cast<std::uint64_t>(image->vm_slide), name, context);
  return DRCRASH_ESUCCESS;
}

}  // namespace crashreporter
