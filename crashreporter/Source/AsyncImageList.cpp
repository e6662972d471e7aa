#include "crashreporter/Source/AsyncImageList.h"

#include <link.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <new>
#include <vector>

namespace crashreporter {
namespace {

class WriteLock {
 public:
  explicit WriteLock(drcrash_async_loaded_images* list) : list_(list) {
    while (list_->write_lock.test_and_set(std::memory_order_acquire)) {
    }
  }
  ~WriteLock() { list_->write_lock.clear(std::memory_order_release); }

 private:
  drcrash_async_loaded_images* list_;
};

void releaseImage(drcrash_async_image_list_node* node) {
  if (node->image == nullptr) return;
  drcrash_async_image_free(node->image);
  delete node->image;
  node->image = nullptr;
}

void appendNode(drcrash_async_loaded_images* list, drcrash_async_image* image) {
  WriteLock lock(list);
  drcrash_async_image_list_node* node = list->free_list;
  if (node != nullptr) {
    list->free_list = node->next.load();
    releaseImage(node);  // the image of a removed library, kept until its node is needed again
  } else {
    node = new drcrash_async_image_list_node;
  }
  node->image = image;
  node->prev = nullptr;
  node->next.store(nullptr);
  image->node = node;
  std::atomic_thread_fence(std::memory_order_seq_cst);
  // The node is complete before a reader can reach it.
  if (list->tail != nullptr) {
    node->prev = list->tail;
    list->tail->next.store(node);
    list->tail = node;
  } else {
    list->tail = node;
    list->head.store(node);
  }
}

}  // namespace

void drcrash_async_loaded_images_init(drcrash_async_loaded_images* list) {
  list->head.store(nullptr);
  list->tail = nullptr;
  list->refcount.store(0);
  list->free_list = nullptr;
}

void drcrash_async_loaded_images_append(drcrash_async_loaded_images* list, const drcrash_async_image& image) {
  auto* copy = new drcrash_async_image(image);
  copy->name = strdup(image.name != nullptr ? image.name : "");
  appendNode(list, copy);
}

void drcrash_async_loaded_images_remove(drcrash_async_loaded_images* list, std::uint64_t header_address) {
  drcrash_async_loaded_images_set_reading(list, true);
  {
    WriteLock lock(list);
    drcrash_async_image_list_node* node = list->head.load();
    while (node != nullptr && node->image->header_address != header_address) node = node->next.load();
    if (node != nullptr) {
      drcrash_async_image_list_node* next = node->next.load();
      if (node->prev != nullptr) node->prev->next.store(next);
      else list->head.store(next);
      if (next != nullptr) next->prev = node->prev;
      else list->tail = node->prev;
      // Readers may stand on the node (this call counts as one): keep it for reuse.
      node->prev = nullptr;
      node->next.store(list->free_list);
      list->free_list = node;
    }
  }
  drcrash_async_loaded_images_set_reading(list, false);
}

void drcrash_async_loaded_images_set_reading(drcrash_async_loaded_images* list, bool enable) {
  list->refcount.fetch_add(enable ? 1 : -1);
}

drcrash_async_image* drcrash_async_loaded_images_find_image_for_address(drcrash_async_loaded_images* list,
                                                                        std::uint64_t address) {
  for (auto* node = list->head.load(); node != nullptr; node = node->next.load()) {
    if (drcrash_async_image_contains_address(node->image, address)) return node->image;
  }
  return nullptr;
}

drcrash_async_image* drcrash_async_loaded_images_next(drcrash_async_loaded_images* list, drcrash_async_image* current) {
  drcrash_async_image_list_node* node = current == nullptr ? list->head.load() : current->node->next.load();
  return node != nullptr ? node->image : nullptr;
}

void drcrash_async_loaded_images_refresh(drcrash_async_loaded_images* list) {
  struct Seen {
    std::vector<drcrash_async_image> images;
    std::string executable;
  } seen;
  char path[PATH_MAX];
  const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path - 1);
  seen.executable = length > 0 ? std::string(path, static_cast<std::size_t>(length)) : std::string();
  dl_iterate_phdr(
      [](dl_phdr_info* info, std::size_t, void* data) {
        auto* s = static_cast<Seen*>(data);
        const char* name = info->dlpi_name != nullptr && info->dlpi_name[0] != '\0' ? info->dlpi_name : nullptr;
        // The first entry without a name is the program itself.
        if (name == nullptr && s->images.empty()) name = s->executable.c_str();
        if (name == nullptr) return 0;
        drcrash_async_image image;
        if (drcrash_async_image_init(&image, info, name) == DRCRASH_ESUCCESS) s->images.push_back(image);
        return 0;
      },
      &seen);

  std::vector<std::uint64_t> gone;
  for (auto* node = list->head.load(); node != nullptr; node = node->next.load()) {
    bool present = false;
    for (const auto& image : seen.images) present = present || image.header_address == node->image->header_address;
    if (!present) gone.push_back(node->image->header_address);
  }
  for (const std::uint64_t address : gone) drcrash_async_loaded_images_remove(list, address);
  for (auto& image : seen.images) {
    bool known = false;
    for (auto* node = list->head.load(); node != nullptr && !known; node = node->next.load()) {
      known = node->image->header_address == image.header_address;
    }
    if (!known) appendNode(list, new drcrash_async_image(image));
    else drcrash_async_image_free(&image);
  }
}

void drcrash_async_loaded_images_free(drcrash_async_loaded_images* list) {
  drcrash_async_image_list_node* node = list->head.load();
  while (node != nullptr) {
    drcrash_async_image_list_node* next = node->next.load();
    drcrash_async_image_free(node->image);
    delete node->image;
    delete node;
    node = next;
  }
  for (node = list->free_list; node != nullptr;) {
    drcrash_async_image_list_node* next = node->next.load();
    releaseImage(node);
    delete node;
    node = next;
  }
  drcrash_async_loaded_images_init(list);
}

drcrash_async_loaded_images* drcrash_async_shared_images() {
  static auto* list = new drcrash_async_loaded_images;  // lives as long as the process; signal handlers read it
  return list;
}

}  // namespace crashreporter
