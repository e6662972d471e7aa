#include "crashreporter/Source/AsyncImage.h"

#include <elf.h>
#include <link.h>

#include <cstdlib>
#include <cstring>

#include "crashreporter/Source/AsyncMemory.h"
#include "crashreporter/Source/ThreadState.h"

namespace crashreporter {
namespace {

constexpr std::size_t kMaxSymbolName = 256;
constexpr std::uint64_t kSymbolBlock = 64;  // 1.5 KiB of the caller's stack

// Loaders leave d_ptr relocated for most objects but not all (the vDSO); a
// value below the bias is still an offset.
std::uint64_t relocated(std::uint64_t value, std::uint64_t bias) { return value < bias ? value + bias : value; }

// The number of symbols a DT_GNU_HASH table covers: past the highest bucket
// start, follow its chain to the entry with the end bit.
std::uint64_t gnuHashSymbolCount(const std::uint32_t* table) {
  const std::uint32_t bucketCount = table[0], symbolOffset = table[1], bloomSize = table[2];
  const auto* buckets = table + 4 + bloomSize * (sizeof(ElfW(Addr)) / 4);
  const auto* chains = buckets + bucketCount;
  std::uint32_t last = 0;
  for (std::uint32_t i = 0; i < bucketCount; ++i) last = buckets[i] > last ? buckets[i] : last;
  if (last < symbolOffset) return symbolOffset;
  while ((chains[last - symbolOffset] & 1) == 0) ++last;
  return last + 1;
}

void readBuildId(drcrash_async_image* image, const ElfW(Phdr)& note, std::uint64_t bias) {
  const auto* at = reinterpret_cast<const std::uint8_t*>(bias + note.p_vaddr);
  const auto* end = at + note.p_memsz;
  while (at + sizeof(ElfW(Nhdr)) <= end) {
    const auto* header = reinterpret_cast<const ElfW(Nhdr)*>(at);
    const std::size_t nameSize = (header->n_namesz + 3) & ~std::size_t{3};
    const std::size_t descSize = (header->n_descsz + 3) & ~std::size_t{3};
    const auto* name = at + sizeof(ElfW(Nhdr));
    const auto* desc = name + nameSize;
    if (desc + descSize > end) return;
    if (header->n_type == NT_GNU_BUILD_ID && header->n_namesz == 4 && std::memcmp(name, "GNU", 4) == 0) {
      std::memset(image->uuid, 0, sizeof image->uuid);
      std::memcpy(image->uuid, desc, header->n_descsz < 16 ? header->n_descsz : 16);
      image->has_uuid = true;
      return;
    }
    at = desc + descSize;
  }
}

}  // namespace

drcrash_error_t drcrash_async_image_init(drcrash_async_image* image, const dl_phdr_info* info, const char* path) {
  *image = drcrash_async_image{};
  const std::uint64_t bias = info->dlpi_addr;
  std::uint64_t low = ~std::uint64_t{0}, high = 0;
  const ElfW(Phdr)* dynamic = nullptr;
  for (ElfW(Half) i = 0; i < info->dlpi_phnum; ++i) {
    const ElfW(Phdr)& ph = info->dlpi_phdr[i];
    if (ph.p_type == PT_LOAD) {
      low = ph.p_vaddr < low ? ph.p_vaddr : low;
      high = ph.p_vaddr + ph.p_memsz > high ? ph.p_vaddr + ph.p_memsz : high;
      if ((ph.p_flags & PF_X) && image->text_size == 0) {
        image->text_address = bias + ph.p_vaddr;
        image->text_size = ph.p_memsz;
      }
    } else if (ph.p_type == PT_GNU_EH_FRAME) {
      image->eh_frame_hdr = bias + ph.p_vaddr;
      image->eh_frame_hdr_size = ph.p_memsz;
    } else if (ph.p_type == PT_NOTE && !image->has_uuid) {
      readBuildId(image, ph, bias);
    } else if (ph.p_type == PT_DYNAMIC) {
      dynamic = &ph;
    }
  }
  if (high == 0) return DRCRASH_EINVAL;
  image->load_bias = bias;
  image->header_address = bias + low;
  image->size = high - low;
  // .eh_frame follows its header in the same read-only segment.
  for (ElfW(Half) i = 0; i < info->dlpi_phnum && image->eh_frame_hdr != 0; ++i) {
    const ElfW(Phdr)& ph = info->dlpi_phdr[i];
    const std::uint64_t start = bias + ph.p_vaddr;
    if (ph.p_type == PT_LOAD && start <= image->eh_frame_hdr && image->eh_frame_hdr < start + ph.p_memsz) {
      image->unwind_segment_start = start;
      image->eh_frame_limit = start + ph.p_memsz;
    }
  }
  if (dynamic != nullptr) {
    const auto* entry = reinterpret_cast<const ElfW(Dyn)*>(bias + dynamic->p_vaddr);
    const std::uint32_t* hash = nullptr;
    const std::uint32_t* gnuHash = nullptr;
    for (; entry->d_tag != DT_NULL; ++entry) {
      switch (entry->d_tag) {
        case DT_SYMTAB: image->dynsym = relocated(entry->d_un.d_ptr, bias); break;
        case DT_STRTAB: image->dynstr = relocated(entry->d_un.d_ptr, bias); break;
        case DT_STRSZ: image->dynstr_size = entry->d_un.d_val; break;
        case DT_HASH: hash = reinterpret_cast<const std::uint32_t*>(relocated(entry->d_un.d_ptr, bias)); break;
        case DT_GNU_HASH: gnuHash = reinterpret_cast<const std::uint32_t*>(relocated(entry->d_un.d_ptr, bias)); break;
        default: break;
      }
    }
    if (hash != nullptr) image->dynsym_count = hash[1];
    else if (gnuHash != nullptr) image->dynsym_count = gnuHashSymbolCount(gnuHash);
    if (image->dynsym_count == 0 || image->dynstr == 0) image->dynsym = 0;
  }
  // Loaded images are of the host's processor, in the Mach encoding the report uses.
  image->cpu_type = drcrash_async_host_processor().mach_type;
  image->cpu_subtype = drcrash_async_host_processor().mach_subtype;
  image->name = strdup(path != nullptr ? path : "");
  return image->name != nullptr ? DRCRASH_ESUCCESS : DRCRASH_ENOMEM;
}

void drcrash_async_image_free(drcrash_async_image* image) {
  std::free(image->name);
  image->name = nullptr;
}

bool drcrash_async_image_contains_address(const drcrash_async_image* image, std::uint64_t address) {
  return address >= image->text_address && address - image->text_address < image->text_size;
}

drcrash_error_t drcrash_async_image_find_symbol_entry(const drcrash_async_image* image, std::uint64_t address,
                                                      drcrash_async_symbol_entry* entry) {
  if (image->dynsym == 0) return DRCRASH_ENOTFOUND;
  const std::uint64_t target = address - image->load_bias;
  bool found = false;
  ElfW(Sym) best{};
  // The table is read in blocks: one system call per block, not per symbol.
  ElfW(Sym) block[kSymbolBlock];
  for (std::uint64_t first = 0; first < image->dynsym_count; first += kSymbolBlock) {
    const std::uint64_t count = image->dynsym_count - first < kSymbolBlock ? image->dynsym_count - first : kSymbolBlock;
    if (drcrash_async_task_memcpy(image->dynsym, static_cast<std::int64_t>(first * sizeof(ElfW(Sym))), block,
                                  count * sizeof(ElfW(Sym))) != DRCRASH_ESUCCESS) {
      return DRCRASH_EINVAL;
    }
    for (std::uint64_t i = 0; i < count; ++i) {
      const ElfW(Sym)& symbol = block[i];
      const unsigned type = ELF64_ST_TYPE(symbol.st_info);
      if (symbol.st_shndx == SHN_UNDEF || symbol.st_value > target ||
          (type != STT_FUNC && type != STT_NOTYPE && type != STT_OBJECT)) {
        continue;
      }
      const bool global = ELF64_ST_BIND(symbol.st_info) != STB_LOCAL;
      const bool bestGlobal = ELF64_ST_BIND(best.st_info) != STB_LOCAL;
      if (!found || symbol.st_value > best.st_value || (symbol.st_value == best.st_value && global && !bestGlobal)) {
        best = symbol;
        found = true;
      }
    }
  }
  if (!found) return DRCRASH_ENOTFOUND;
  if (best.st_name >= image->dynstr_size) return DRCRASH_EINVAL;
  drcrash_async_mobject strings;
  if (drcrash_async_mobject_init(&strings, image->dynstr, image->dynstr_size, true) != DRCRASH_ESUCCESS) return DRCRASH_EINVAL;
  std::uint32_t length = 0;
  for (; length + 1 < kMaxSymbolName; ++length) {
    std::uint8_t c;
    if (drcrash_async_mobject_read_uint8(&strings, image->dynstr, static_cast<std::int64_t>(best.st_name + length), &c) !=
        DRCRASH_ESUCCESS) {
      return DRCRASH_EINVAL;
    }
    if (c == 0) break;
  }
  entry->address = best.st_value + image->load_bias;
  entry->name_address = image->dynstr + best.st_name;
  entry->name_length = length;
  return DRCRASH_ESUCCESS;
}

drcrash_error_t drcrash_async_image_find_symbol(const drcrash_async_image* image, std::uint64_t address,
                                                drcrash_async_found_symbol_cb callback, void* context) {
  drcrash_async_symbol_entry entry;
  const drcrash_error_t found = drcrash_async_image_find_symbol_entry(image, address, &entry);
  if (found != DRCRASH_ESUCCESS) return found;
  char name[kMaxSymbolName];
  if (drcrash_async_task_memcpy(entry.name_address, 0, name, entry.name_length) != DRCRASH_ESUCCESS) return DRCRASH_EINVAL;
  name[entry.name_length] = '\0';
  callback(entry.address, name, context);
  return DRCRASH_ESUCCESS;
}

}  // namespace crashreporter
