#include "crashreporter/Source/MachOObjC.h"

#include <sys/mman.h>

#include <initializer_list>
#include <utility>

namespace crashreporter {
namespace {

constexpr std::uint64_t kPointerMask64 = 0x7FFFFFFFFFF8;
constexpr std::uint32_t kClassRealized = 1u << 31;
constexpr std::uint32_t kReadOnlyCopied = 1u << 27;
constexpr std::uint32_t kLegacySingleMethodList = 0x4000;
constexpr std::uint32_t kLegacyListsEnd = 0xFFFFFFFF;
constexpr std::uint32_t kLegacyMaxLists = 4096;  // a damaged array ends here, not at the end of memory

using MethodVisitor = void (*)(bool class_method, std::uint64_t class_name, std::uint64_t selector,
                               std::uint64_t implementation, void* context);

struct Scan {
  drcrash_async_image_reader* image;
  drcrash_async_objc_scan_cache* cache;
  MethodVisitor visit;
  void* context;

  bool m64() const { return image->m64; }
  std::uint64_t width() const { return image->m64 ? 8 : 4; }
  std::uint64_t word(const std::uint8_t* record, std::size_t index) const {
    if (m64()) {
      std::uint64_t value;
      drcrash_async_memcpy(&value, record + index * 8, 8);
      return image->byteorder->swap64(value);
    }
    std::uint32_t value;
    drcrash_async_memcpy(&value, record + index * 4, 4);
    return image->byteorder->swap32(value);
  }
  std::uint32_t u32(const std::uint8_t* record, std::size_t offset) const {
    std::uint32_t value;
    drcrash_async_memcpy(&value, record + offset, 4);
    return image->byteorder->swap32(value);
  }
  // Copies from whichever of the mapped sections holds the whole range.
  bool fromSections(std::uint64_t address, void* out, std::size_t length,
                    std::initializer_list<std::pair<drcrash_async_mobject*, bool>> sections) const {
    for (const auto& [section, mapped] : sections) {
      if (mapped && drcrash_async_mobject_verify(section, address, 0, length)) {
        return drcrash_async_mobject_read(section, address, 0, out, length) == DRCRASH_ESUCCESS;
      }
    }
    return false;
  }
  bool fromTask(std::uint64_t address, void* out, std::size_t length) const {
    return drcrash_async_task_memcpy(address, 0, out, length) == DRCRASH_ESUCCESS;
  }
  bool taskWord(std::uint64_t address, std::uint64_t* out) const {
    std::uint8_t raw[8];
    if (!fromTask(address, raw, width())) return false;
    *out = word(raw, 0);
    return true;
  }
};

// ---- class cache ----

bool cacheLookup(drcrash_async_objc_scan_cache* cache, std::uint64_t key, std::uint64_t* value) {
  if (cache->class_keys == nullptr) return false;
  const std::size_t slot = (key >> 2) % kDrcrashObjcClassCacheSlots;
  if (cache->class_keys[slot] != key) return false;
  *value = cache->class_values[slot];
  return true;
}

void cacheInsert(drcrash_async_objc_scan_cache* cache, std::uint64_t key, std::uint64_t value) {
  if (!cache->class_cache_tried) {
    cache->class_cache_tried = true;
    void* memory = mmap(nullptr, kDrcrashObjcClassCacheSlots * 16, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (memory != MAP_FAILED) {
      cache->class_keys = static_cast<std::uint64_t*>(memory);
      cache->class_values = cache->class_keys + kDrcrashObjcClassCacheSlots;
    }
  }
  if (cache->class_keys == nullptr) return;
  const std::size_t slot = (key >> 2) % kDrcrashObjcClassCacheSlots;
  if (cache->class_keys[slot] != 0) return;  // taken: this class is simply not cached
  cache->class_keys[slot] = key;
  cache->class_values[slot] = value;
}

// ---- modern metadata ----

drcrash_error_t mapSections(drcrash_async_image_reader* image, drcrash_async_objc_scan_cache* cache) {
  if (cache->image == image) return DRCRASH_ESUCCESS;
  cache->image = nullptr;
  cache->objc_const_mapped = cache->objc_const_ax_mapped = cache->classlist_mapped = false;
  cache->catlist_mapped = cache->objc_data_mapped = cache->data_mapped = false;
  auto inDataSegments = [&](const char* section, drcrash_async_mobject* out, bool* mapped) {
    for (const char* segment : {"__DATA", "__DATA_CONST", "__DATA_DIRTY"}) {
      const drcrash_error_t error = drcrash_async_image_reader_map_section(image, segment, section, out);
      if (error == DRCRASH_ESUCCESS) *mapped = true;
      if (error != DRCRASH_ENOTFOUND) return error;
    }
    return DRCRASH_ENOTFOUND;
  };
  // Optional sections: absent is no error, only recorded.
  auto optional = [&](const char* section, drcrash_async_mobject* out, bool* mapped) {
    const drcrash_error_t error = drcrash_async_image_reader_map_section(image, "__DATA", section, out);
    *mapped = error == DRCRASH_ESUCCESS;
    return error == DRCRASH_ENOTFOUND ? DRCRASH_ESUCCESS : error;
  };
  drcrash_error_t error = inDataSegments("__objc_const", &cache->objc_const, &cache->objc_const_mapped);
  if (error == DRCRASH_ESUCCESS) error = optional("__objc_const_ax", &cache->objc_const_ax, &cache->objc_const_ax_mapped);
  if (error == DRCRASH_ESUCCESS) error = inDataSegments("__objc_classlist", &cache->classlist, &cache->classlist_mapped);
  // An image with classes but no categories has no category list.
  if (error == DRCRASH_ESUCCESS) {
    error = inDataSegments("__objc_catlist", &cache->catlist, &cache->catlist_mapped);
    if (error == DRCRASH_ENOTFOUND) error = DRCRASH_ESUCCESS;
  }
  if (error == DRCRASH_ESUCCESS) {
    error = drcrash_async_image_reader_map_section(image, "__DATA", "__objc_data", &cache->objc_data);
    cache->objc_data_mapped = error == DRCRASH_ESUCCESS;
  }
  if (error == DRCRASH_ESUCCESS) error = optional("__data", &cache->data, &cache->data_mapped);
  if (error == DRCRASH_ESUCCESS) cache->image = image;
  return error;
}

// The class's name and method list through its read-write and read-only records. 8: not realized.
drcrash_error_t classNameAndMethods(const Scan& scan, const std::uint8_t* classRecord, std::uint64_t* name,
                                    std::uint64_t* methods) {
  drcrash_async_objc_scan_cache* cache = scan.cache;
  const std::uint64_t data = scan.word(classRecord, 4) & (scan.m64() ? kPointerMask64 : ~std::uint64_t{7});
  std::uint64_t readOnly = 0;
  std::uint32_t flags = 0;
  const bool cached = cacheLookup(cache, data, &readOnly);
  if (!cached) {
    std::uint8_t header[16];
    if (!scan.fromTask(data, header, scan.m64() ? 16 : 12)) return DRCRASH_EINVALID_DATA;
    flags = scan.u32(header, 0);
    if ((flags & kClassRealized) == 0) return DRCRASH_ENOTFOUND;
    readOnly = scan.word(header + 8, 0);
    if (readOnly & 1) {
      if (!scan.taskWord(readOnly & ~std::uint64_t{1}, &readOnly)) return DRCRASH_EINVALID_DATA;
    }
  }
  std::uint8_t record[72];
  const std::size_t size = scan.m64() ? 72 : 40;
  const bool fromImage = (flags & kReadOnlyCopied) == 0 &&
                         scan.fromSections(readOnly, record, size, {{&cache->objc_const, cache->objc_const_mapped}});
  if (!fromImage && !scan.fromTask(readOnly, record, size)) return DRCRASH_EINVALID_DATA;
  if (!cached) cacheInsert(cache, data, readOnly);
  *name = scan.word(record, scan.m64() ? 3 : 4);
  *methods = scan.word(record, scan.m64() ? 4 : 5);
  return DRCRASH_ESUCCESS;
}

drcrash_error_t methodList(const Scan& scan, std::uint64_t list, std::uint64_t className, bool classMethods) {
  if (list == 0) return DRCRASH_ESUCCESS;
  drcrash_async_objc_scan_cache* cache = scan.cache;
  const std::initializer_list<std::pair<drcrash_async_mobject*, bool>> sections = {
      {&cache->objc_const, cache->objc_const_mapped}, {&cache->objc_const_ax, cache->objc_const_ax_mapped}};
  std::uint8_t header[8];
  if (!scan.fromSections(list, header, sizeof header, sections)) return DRCRASH_EINVALID_DATA;
  const std::uint32_t entrySize = scan.u32(header, 0) & ~3u;
  const std::uint32_t count = scan.u32(header, 4);
  const std::uint64_t w = scan.width();
  if (entrySize < 3 * w) return count == 0 ? DRCRASH_ESUCCESS : DRCRASH_EINVALID_DATA;
  bool inside = false;
  for (const auto& [section, mapped] : sections) {
    inside |= mapped && drcrash_async_mobject_verify(section, list + 8, 0, std::uint64_t{count} * entrySize);
  }
  if (!inside) return DRCRASH_EINVALID_DATA;
  for (std::uint32_t i = 0; i < count; ++i) {
    std::uint8_t entry[24];
    if (!scan.fromSections(list + 8 + std::uint64_t{i} * entrySize, entry, 3 * w, sections)) return DRCRASH_EINVALID_DATA;
    scan.visit(classMethods, className, scan.word(entry, 0), scan.word(entry, 2), scan.context);
  }
  return DRCRASH_ESUCCESS;
}

// One class (or metaclass) record that must lie in __objc_data or __data.
drcrash_error_t modernClass(const Scan& scan, std::uint64_t address, bool classMethods, std::uint8_t* record) {
  drcrash_async_objc_scan_cache* cache = scan.cache;
  if (!scan.fromSections(address, record, scan.m64() ? 40 : 20,
                         {{&cache->objc_data, cache->objc_data_mapped}, {&cache->data, cache->data_mapped}})) {
    return DRCRASH_EINVALID_DATA;
  }
  std::uint64_t name, methods;
  const drcrash_error_t error = classNameAndMethods(scan, record, &name, &methods);
  return error != DRCRASH_ESUCCESS ? error : methodList(scan, methods, name, classMethods);
}

drcrash_error_t modernEnumerate(const Scan& scan) {
  drcrash_async_objc_scan_cache* cache = scan.cache;
  const std::uint64_t w = scan.width();
  std::uint8_t record[40];
  for (std::uint64_t at = 0; at + w <= cache->classlist.length; at += w) {
    std::uint8_t raw[8];
    if (drcrash_async_mobject_read(&cache->classlist, cache->classlist.target_address, static_cast<std::int64_t>(at), raw, w) !=
        DRCRASH_ESUCCESS) {
      return DRCRASH_EINVALID_DATA;
    }
    drcrash_error_t error = modernClass(scan, scan.word(raw, 0), false, record);
    if (error == DRCRASH_ENOTFOUND) continue;  // skipped with its metaclass
    if (error != DRCRASH_ESUCCESS) return error;
    std::uint64_t meta = scan.word(record, 0);
    if (meta & 1) meta &= scan.m64() ? kPointerMask64 : ~std::uint64_t{7};
    error = modernClass(scan, meta, true, record);
    if (error != DRCRASH_ESUCCESS && error != DRCRASH_ENOTFOUND) return error;
  }
  for (std::uint64_t at = 0; cache->catlist_mapped && at + w <= cache->catlist.length; at += w) {
    std::uint8_t raw[8], category[48];
    if (drcrash_async_mobject_read(&cache->catlist, cache->catlist.target_address, static_cast<std::int64_t>(at), raw, w) !=
            DRCRASH_ESUCCESS ||
        !scan.fromSections(scan.word(raw, 0), category, scan.m64() ? 48 : 24, {{&cache->objc_const, cache->objc_const_mapped}})) {
      return DRCRASH_EINVALID_DATA;
    }
    const std::uint64_t cls = scan.word(category, 1);
    if (!scan.fromSections(cls, record, scan.m64() ? 40 : 20, {{&cache->objc_data, cache->objc_data_mapped}}) &&
        !scan.fromTask(cls, record, scan.m64() ? 40 : 20)) {
      return DRCRASH_EINVALID_DATA;
    }
    std::uint64_t name, methods;
    drcrash_error_t error = classNameAndMethods(scan, record, &name, &methods);
    if (error == DRCRASH_ENOTFOUND) continue;
    if (error == DRCRASH_ESUCCESS) error = methodList(scan, scan.word(category, 2), name, false);
    if (error == DRCRASH_ESUCCESS) error = methodList(scan, scan.word(category, 3), name, true);
    if (error != DRCRASH_ESUCCESS && error != DRCRASH_ENOTFOUND) return error;
  }
  return DRCRASH_ESUCCESS;
}

// ---- legacy metadata (32-bit words, read from the task) ----

drcrash_error_t legacyList(const Scan& scan, std::uint64_t list, std::uint64_t className, bool classMethods) {
  std::uint8_t header[8];
  if (!scan.fromTask(list, header, sizeof header)) return DRCRASH_EINVALID_DATA;
  const std::uint32_t count = scan.u32(header, 4);
  for (std::uint32_t i = 0; i < count; ++i) {
    std::uint8_t entry[12];
    if (!scan.fromTask(list + 8 + std::uint64_t{i} * 12, entry, sizeof entry)) return DRCRASH_EINVALID_DATA;
    scan.visit(classMethods, className, scan.u32(entry, 0), scan.u32(entry, 8), scan.context);
  }
  return DRCRASH_ESUCCESS;
}

drcrash_error_t legacyClass(const Scan& scan, std::uint64_t address, bool classMethods, std::uint32_t* isa) {
  std::uint8_t record[40];
  if (!scan.fromTask(address, record, sizeof record)) return DRCRASH_EINVALID_DATA;
  *isa = scan.u32(record, 0);
  const std::uint64_t name = scan.u32(record, 8);
  const std::uint32_t flags = scan.u32(record, 16);
  const std::uint64_t lists = scan.u32(record, 28);
  if (flags & kLegacySingleMethodList) return lists != 0 ? legacyList(scan, lists, name, classMethods) : DRCRASH_ESUCCESS;
  for (std::uint32_t i = 0; lists != 0 && i < kLegacyMaxLists; ++i) {
    std::uint8_t raw[4];
    if (!scan.fromTask(lists + i * 4, raw, 4)) return DRCRASH_EINVALID_DATA;
    const std::uint32_t list = scan.u32(raw, 0);
    if (list == 0 || list == kLegacyListsEnd) break;
    const drcrash_error_t error = legacyList(scan, list, name, classMethods);
    if (error != DRCRASH_ESUCCESS) return error;
  }
  return DRCRASH_ESUCCESS;
}

drcrash_error_t legacyEnumerate(const Scan& scan, drcrash_async_mobject* modules) {
  for (std::uint64_t at = 0; at + 16 <= modules->length; at += 16) {
    std::uint8_t module[16];
    if (drcrash_async_mobject_read(modules, modules->target_address, static_cast<std::int64_t>(at), module, 16) !=
        DRCRASH_ESUCCESS) {
      return DRCRASH_EINVALID_DATA;
    }
    const std::uint64_t symtab = scan.u32(module, 12);
    if (symtab == 0) continue;
    std::uint8_t head[12];
    if (!scan.fromTask(symtab, head, sizeof head)) return DRCRASH_EINVALID_DATA;
    std::uint16_t classCount;
    drcrash_async_memcpy(&classCount, head + 8, 2);
    classCount = scan.image->byteorder->swap16(classCount);
    for (std::uint32_t i = 0; i < classCount; ++i) {
      std::uint8_t raw[4];
      if (!scan.fromTask(symtab + 12 + i * 4, raw, 4)) return DRCRASH_EINVALID_DATA;
      std::uint32_t isa;
      drcrash_error_t error = legacyClass(scan, scan.u32(raw, 0), false, &isa);
      if (error == DRCRASH_ESUCCESS) error = legacyClass(scan, (isa & 1) ? (isa & ~7u) : isa, true, &isa);
      if (error != DRCRASH_ESUCCESS) return error;
    }
  }
  return DRCRASH_ESUCCESS;
}

drcrash_error_t enumerate(drcrash_async_image_reader* image, drcrash_async_objc_scan_cache* cache, MethodVisitor visit,
                          void* context) {
  if (cache == nullptr) return DRCRASH_EACCESS;
  const Scan scan{image, cache, visit, context};
  if (!cache->enumeration_completed) {
    drcrash_async_mobject modules;
    const drcrash_error_t error = drcrash_async_image_reader_map_section(image, "__OBJC", "__module_info", &modules);
    if (error == DRCRASH_ESUCCESS) {
      const drcrash_error_t result = legacyEnumerate(scan, &modules);
      cache->enumeration_completed = true;
      return result;
    }
    if (error != DRCRASH_ENOTFOUND) return error;
  }
  drcrash_error_t error = mapSections(image, cache);
  if (error == DRCRASH_ESUCCESS) {
    error = modernEnumerate(scan);
    cache->enumeration_completed = true;
  }
  return error;
}

struct BestImplementation {
  std::uint64_t address;
  bool found;
  std::uint64_t best;
};

struct Report {
  std::uint64_t wanted;
  bool done;
  drcrash_async_objc_method_cb callback;
  void* context;
};

// ---- best symbol ----

struct Result {
  char name[kDrcrashSymbolNameSize];
  bool found;
  std::uint64_t address;
};

bool takes(const Result* result, std::uint64_t address) { return !result->found || result->address <= address; }

// Appends the string at `address` (read from the task) to `name`; false when the buffer is full.
bool appendRemote(char* name, std::size_t* length, std::uint64_t address) {
  for (std::uint64_t i = 0;; ++i) {
    std::uint8_t c;
    if (drcrash_async_task_read_uint8(address, static_cast<std::int64_t>(i), &c) != DRCRASH_ESUCCESS || c == 0) return true;
    if (*length + 1 >= kDrcrashSymbolNameSize) return false;
    name[(*length)++] = static_cast<char>(c);
  }
}

bool appendText(char* name, std::size_t* length, const char* text) {
  for (; *text != '\0'; ++text) {
    if (*length + 1 >= kDrcrashSymbolNameSize) return false;
    name[(*length)++] = *text;
  }
  return true;
}

}  // namespace

void drcrash_async_objc_cache_init(drcrash_async_objc_scan_cache* cache) { *cache = drcrash_async_objc_scan_cache{}; }

void drcrash_async_objc_cache_free(drcrash_async_objc_scan_cache* cache) {
  if (cache->class_keys != nullptr) munmap(cache->class_keys, kDrcrashObjcClassCacheSlots * 16);
  *cache = drcrash_async_objc_scan_cache{};
}

drcrash_error_t drcrash_async_objc_find_method(drcrash_async_image_reader* image, drcrash_async_objc_scan_cache* cache,
                                               std::uint64_t address, drcrash_async_objc_method_cb callback, void* context) {
  BestImplementation best{address, false, 0};
  drcrash_error_t error = enumerate(image, cache, [](bool, std::uint64_t, std::uint64_t, std::uint64_t imp, void* c) {
    auto* b = static_cast<BestImplementation*>(c);
    if (imp <= b->address && (!b->found || imp >= b->best)) {
      b->best = imp;
      b->found = true;
    }
  }, &best);
  if (error != DRCRASH_ESUCCESS) return error;
  if (!best.found) return DRCRASH_ENOTFOUND;
  Report report{best.best, false, callback, context};
  return enumerate(image, cache, [](bool classMethod, std::uint64_t className, std::uint64_t selector, std::uint64_t imp, void* c) {
    auto* r = static_cast<Report*>(c);
    if (r->done || imp != r->wanted) return;
    r->done = true;
    r->callback(classMethod, className, selector, imp, r->context);
  }, &report);
}

drcrash_error_t drcrash_async_find_best_symbol(drcrash_async_image_reader* image, std::uint32_t strategy,
                                               drcrash_async_objc_scan_cache* cache, std::uint64_t address,
                                               drcrash_async_symbol_cb callback, void* context) {
  Result result{};
  drcrash_error_t table = DRCRASH_ENOTFOUND, metadata = DRCRASH_ENOTFOUND;
  if (strategy & 1) {
    table = drcrash_async_image_reader_find_symbol(image, address, [](std::uint64_t at, const char* name, void* c) {
      auto* r = static_cast<Result*>(c);
      if (!takes(r, at)) return;
      std::size_t length = 0;
      appendText(r->name, &length, name);
      r->name[length] = '\0';
      r->address = at;
      r->found = true;
    }, &result);
  }
  if (strategy & 2) {
    metadata = drcrash_async_objc_find_method(image, cache, address,
                                              [](bool classMethod, std::uint64_t className, std::uint64_t selector,
                                                 std::uint64_t imp, void* c) {
      auto* r = static_cast<Result*>(c);
      if (!takes(r, imp)) return;
      // "-[Class selector]"; a name cut to the buffer lacks the closing bracket.
      std::size_t length = 0;
      (void)(appendText(r->name, &length, classMethod ? "+[" : "-[") && appendRemote(r->name, &length, className) &&
             appendText(r->name, &length, " ") && appendRemote(r->name, &length, selector) && appendText(r->name, &length, "]"));
      r->name[length] = '\0';
      r->address = imp;
      r->found = true;
    }, &result);
  }
  if (table != DRCRASH_ESUCCESS && metadata != DRCRASH_ESUCCESS) return DRCRASH_ENOTFOUND;
  if (!result.found) return DRCRASH_EINTERNAL;
  callback(result.address, result.name, context);
  return DRCRASH_ESUCCESS;
}

}  // namespace crashreporter
