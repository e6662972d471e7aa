#pragma once
// ClientBuffer: the byte buffer a client fills (its unfinished command line,
// the replies it has not read yet). A client decides how big it grows, up to
// megabytes, so its large blocks come straight from the kernel and go
// straight back when freed: through the C library's heap, the memory of
// clients that had left stayed with the node.
//
// Blocks under kPageBackedBytes use the ordinary heap. Value type; used on
// the server thread.

#include <sys/mman.h>

#include <cstddef>
#include <new>
#include <string>

namespace standin {

inline constexpr std::size_t kPageBackedBytes = 256 * 1024;

template <typename T>
class PageBackedAllocator {
 public:
  using value_type = T;

  PageBackedAllocator() = default;
  template <typename U>
  PageBackedAllocator(const PageBackedAllocator<U>&) {}

  T* allocate(std::size_t count) {
    const std::size_t bytes = count * sizeof(T);
    if (bytes < kPageBackedBytes) return static_cast<T*>(::operator new(bytes));
    void* block = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (block == MAP_FAILED) throw std::bad_alloc();
    return static_cast<T*>(block);
  }

  void deallocate(T* block, std::size_t count) {
    const std::size_t bytes = count * sizeof(T);
    if (bytes < kPageBackedBytes) {
      ::operator delete(block);
    } else {
      ::munmap(block, bytes);
    }
  }

  template <typename U>
  bool operator==(const PageBackedAllocator<U>&) const {
    return true;
  }
};

using ClientBuffer = std::basic_string<char, std::char_traits<char>, PageBackedAllocator<char>>;

// Empties `buffer`, handing a large block back at once.
inline void clearClientBuffer(ClientBuffer& buffer) {
  if (buffer.capacity() >= kPageBackedBytes) {
    ClientBuffer().swap(buffer);
  } else {
    buffer.clear();
  }
}

}  // namespace standin
