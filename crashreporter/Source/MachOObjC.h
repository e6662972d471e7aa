#pragma once
// Method names from the Objective-C class metadata of a Mach-O image held in
// memory: "-[Class selector]" or "+[Class selector]" for the method whose
// implementation holds an address, found even in stripped images. Both the
// legacy (__OBJC segment) and the modern (__objc_* sections) layouts, 32- and
// 64-bit. And the best symbol of an address from the symbol table and the
// metadata, as the report writer asks for it.
//
// The scan cache belongs to one writer for a whole report; its class cache
// (1024 slots) is mapped on first use. Async-signal-safe.

#include <cstdint>

#include "crashreporter/Source/MachOImage.h"

namespace crashreporter {

inline constexpr std::size_t kDrcrashObjcClassCacheSlots = 1024;

struct drcrash_async_objc_scan_cache {
  bool enumeration_completed = false;  // the legacy metadata is no longer tried
  const drcrash_async_image_reader* image = nullptr;  // whose sections are mapped
  drcrash_async_mobject objc_const, objc_const_ax, classlist, catlist, objc_data, data;
  bool objc_const_mapped = false, objc_const_ax_mapped = false, classlist_mapped = false, catlist_mapped = false,
       objc_data_mapped = false, data_mapped = false;
  std::uint64_t* class_keys = nullptr;    // class data pointers
  std::uint64_t* class_values = nullptr;  // their read-only record addresses
  bool class_cache_tried = false;
};

void drcrash_async_objc_cache_init(drcrash_async_objc_scan_cache* cache);
void drcrash_async_objc_cache_free(drcrash_async_objc_scan_cache* cache);

// callback(is class method, class name address, selector address, implementation, context)
using drcrash_async_objc_method_cb = void (*)(bool class_method, std::uint64_t class_name, std::uint64_t selector,
                                              std::uint64_t implementation, void* context);
// The method whose implementation is the greatest not above `address`. 0, 7
// without a cache, 8 when none, 9 for metadata outside its sections, or the
// mapping's error.
drcrash_error_t drcrash_async_objc_find_method(drcrash_async_image_reader* image, drcrash_async_objc_scan_cache* cache,
                                               std::uint64_t address, drcrash_async_objc_method_cb callback, void* context);

// Strategy bit 0: the symbol table; bit 1: the class metadata. The later
// result replaces an equal or lower one. callback(address, name, context);
// 8 when both steps failed or were not asked, 6 when nothing was stored.
drcrash_error_t drcrash_async_find_best_symbol(drcrash_async_image_reader* image, std::uint32_t strategy,
                                               drcrash_async_objc_scan_cache* cache, std::uint64_t address,
                                               drcrash_async_symbol_cb callback, void* context);

}  // namespace crashreporter
