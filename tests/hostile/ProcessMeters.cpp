#include "tests/hostile/ProcessMeters.h"

#include <atomic>
#include <cstddef>

#include <dirent.h>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define HOSTILE_SANITIZER_HEAP 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define HOSTILE_SANITIZER_HEAP 1
#endif
#endif

#ifdef HOSTILE_SANITIZER_HEAP
// The sanitizers' allocator hooks, declared here: not every compiler ships their header.
extern "C" {
int __sanitizer_install_malloc_and_free_hooks(void (*onMalloc)(const volatile void*, size_t),
                                              void (*onFree)(const volatile void*));
size_t __sanitizer_get_allocated_size(const volatile void* block);
}
#else
#include <cerrno>
#include <malloc.h>
#include <unistd.h>
#endif

namespace {

// Plain atomics: the allocator runs before any constructor, so these must need none.
constinit std::atomic<int64_t> live{0};
constinit std::atomic<int64_t> peak{0};

void Grow(int64_t bytes) {
  const int64_t now = live.fetch_add(bytes, std::memory_order_relaxed) + bytes;
  int64_t seen = peak.load(std::memory_order_relaxed);
  while (now > seen && !peak.compare_exchange_weak(seen, now, std::memory_order_relaxed)) {
  }
}

void Shrink(int64_t bytes) {
  live.fetch_sub(bytes, std::memory_order_relaxed);
}

} // namespace

#ifdef HOSTILE_SANITIZER_HEAP

namespace {

void OnMalloc(const volatile void*, size_t size) {
  Grow(int64_t(size));
}

void OnFree(const volatile void* block) {
  if (block) {
    Shrink(int64_t(__sanitizer_get_allocated_size(block)));
  }
}

// Blocks taken before this runs are never counted, so frees of them must not be either: the
// hooks see only what follows, and the meter is used only as a difference.
[[maybe_unused]] const int hooksInstalled =
    __sanitizer_install_malloc_and_free_hooks(OnMalloc, OnFree);

} // namespace

#else

// The C library's own allocator, under the names it exports for programs that put their own
// malloc in front of it.
extern "C" {
void* __libc_malloc(size_t size);
void __libc_free(void* block);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* block, size_t size);
void* __libc_memalign(size_t alignment, size_t size);
}

namespace {

void* Counted(void* block) {
  if (block) {
    Grow(int64_t(malloc_usable_size(block)));
  }
  return block;
}

bool IsPowerOfTwo(size_t n) {
  return n != 0 && (n & (n - 1)) == 0;
}

} // namespace

extern "C" {

void* malloc(size_t size) {
  return Counted(__libc_malloc(size));
}

void free(void* block) {
  if (block) {
    Shrink(int64_t(malloc_usable_size(block)));
  }
  __libc_free(block);
}

void* calloc(size_t count, size_t size) {
  return Counted(__libc_calloc(count, size));
}

void* realloc(void* block, size_t size) {
  const int64_t before = block ? int64_t(malloc_usable_size(block)) : 0;
  void* moved = __libc_realloc(block, size);
  if (moved) {
    Shrink(before);
    return Counted(moved);
  }
  // Either a failure (the old block stays) or a zero size that freed it.
  if (block && size == 0) {
    Shrink(before);
  }
  return moved;
}

void* reallocarray(void* block, size_t count, size_t size) {
  size_t total = 0;
  if (__builtin_mul_overflow(count, size, &total)) {
    errno = ENOMEM;
    return nullptr;
  }
  return realloc(block, total);
}

void* memalign(size_t alignment, size_t size) {
  return Counted(__libc_memalign(alignment, size));
}

void* aligned_alloc(size_t alignment, size_t size) {
  return Counted(__libc_memalign(alignment, size));
}

int posix_memalign(void** result, size_t alignment, size_t size) {
  if (!IsPowerOfTwo(alignment) || alignment % sizeof(void*) != 0) {
    return EINVAL;
  }
  void* block = Counted(__libc_memalign(alignment, size));
  if (!block) {
    return ENOMEM;
  }
  *result = block;
  return 0;
}

void* valloc(size_t size) {
  return Counted(__libc_memalign(size_t(sysconf(_SC_PAGESIZE)), size));
}

void* pvalloc(size_t size) {
  const auto page = size_t(sysconf(_SC_PAGESIZE));
  return Counted(__libc_memalign(page, (size + page - 1) / page * page));
}

} // extern "C"

#endif

namespace hostile {

int64_t LiveHeapBytes() {
  return live.load(std::memory_order_relaxed);
}

void ResetHeapPeak() {
  peak.store(live.load(std::memory_order_relaxed), std::memory_order_relaxed);
}

int64_t PeakHeapBytes() {
  return peak.load(std::memory_order_relaxed);
}

int OpenDescriptorCount() {
  DIR* list = opendir("/proc/self/fd");
  if (!list) {
    return -1;
  }
  int count = 0;
  while (const dirent* entry = readdir(list)) {
    if (entry->d_name[0] != '.') {
      ++count;
    }
  }
  closedir(list);
  return count - 1; // the list's own descriptor
}

} // namespace hostile
