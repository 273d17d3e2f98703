// Freed memory inside the heap goes back to the system when asked: large
// blocks freed below one still in use stay resident until then.
#include "Memory.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kOwnAllocator = true;  // the sanitizer's allocator replaces the C library's
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || \
    __has_feature(memory_sanitizer)
constexpr bool kOwnAllocator = true;
#else
constexpr bool kOwnAllocator = false;
#endif
#else
constexpr bool kOwnAllocator = false;
#endif

#if defined(__GLIBC__)
long ResidentPages() {
  long size = 0, resident = 0;
  if (FILE* f = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(f, "%ld %ld", &size, &resident) != 2) resident = 0;
    std::fclose(f);
  }
  return resident;
}
#endif

TEST(Memory, FreedBlocksInsideTheHeapLeaveWhenAsked) {
#if defined(__GLIBC__)
  if (kOwnAllocator) GTEST_SKIP() << "a sanitizer's allocator serves this build";
  // Blocks of 512 KiB taken from the heap (not mapped on their own) after a
  // block of 8 MiB was freed, which raises the library's bound for mapping.
  void* large = std::malloc(size_t{8} << 20);
  ASSERT_NE(large, nullptr);
  static_cast<volatile char*>(large)[0] = 1;
  std::free(large);
  std::vector<void*> blocks;
  for (int i = 0; i < 32; ++i) {
    void* p = std::malloc(size_t{512} << 10);
    ASSERT_NE(p, nullptr);
    std::memset(p, 1, size_t{512} << 10);
    blocks.push_back(p);
  }
  void* guard = std::malloc(64);  // keeps the freed blocks off the heap's top
  ASSERT_NE(guard, nullptr);
  for (void* p : blocks) std::free(p);
  const long page = ::sysconf(_SC_PAGESIZE);
  const long before = ResidentPages();
  ReturnFreedMemory();
  const long after = ResidentPages();
  std::free(guard);
  EXPECT_GE((before - after) * page, 8L << 20) << before << " pages before, " << after << " after";
#else
  GTEST_SKIP() << "this C library cannot";
#endif
}

}  // namespace
