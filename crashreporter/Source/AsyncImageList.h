#pragma once
// drcrash_async_loaded_images: the process's loaded images, readable from a
// signal handler without a lock. Writers (refresh, on any thread) serialise on
// a spin lock; readers walk the list lock-free and raise a reader count while
// they do, so unlinked nodes go to a free list instead of being freed while a
// reader may stand on them. Removed image records stay allocated for the same
// reason.
//
// Filled by a refresh from a dl_iterate_phdr snapshot: at enable, and after
// every dlopen and dlclose the program makes. dl_iterate_phdr takes the
// loader's lock, so refresh never runs at crash time.

#include <atomic>
#include <cstdint>

#include "crashreporter/Source/AsyncImage.h"

namespace crashreporter {

struct drcrash_async_image_list_node {
  drcrash_async_image* image = nullptr;
  drcrash_async_image_list_node* prev = nullptr;
  std::atomic<drcrash_async_image_list_node*> next{nullptr};
};

struct drcrash_async_loaded_images {
  std::atomic_flag write_lock = ATOMIC_FLAG_INIT;
  std::atomic<drcrash_async_image_list_node*> head{nullptr};
  drcrash_async_image_list_node* tail = nullptr;
  std::atomic<std::int32_t> refcount{0};
  drcrash_async_image_list_node* free_list = nullptr;
};

void drcrash_async_loaded_images_init(drcrash_async_loaded_images* list);
// Appends an image made from `image` (copied). Not async-safe.
void drcrash_async_loaded_images_append(drcrash_async_loaded_images* list, const drcrash_async_image& image);
void drcrash_async_loaded_images_remove(drcrash_async_loaded_images* list, std::uint64_t header_address);
// Brings the list in line with what the loader has mapped now: new objects
// are appended, vanished ones removed. The main program is named by
// /proc/self/exe. Not async-safe.
void drcrash_async_loaded_images_refresh(drcrash_async_loaded_images* list);
void drcrash_async_loaded_images_set_reading(drcrash_async_loaded_images* list, bool enable);
// Both need the reading mark held.
drcrash_async_image* drcrash_async_loaded_images_find_image_for_address(drcrash_async_loaded_images* list,
                                                                        std::uint64_t address);
drcrash_async_image* drcrash_async_loaded_images_next(drcrash_async_loaded_images* list, drcrash_async_image* current);
void drcrash_async_loaded_images_free(drcrash_async_loaded_images* list);

// The process-wide list the reporter fills.
drcrash_async_loaded_images* drcrash_async_shared_images();

}  // namespace crashreporter
