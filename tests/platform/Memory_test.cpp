// Large blocks freed by a run's threads go back to the system: after a block
// far larger than the bound was freed, a block above the bound is still
// mapped on its own, not carved out of the heap where it would stay.
#include "Memory.h"

#include <gtest/gtest.h>

#include <cstdlib>

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

TEST(Memory, ABlockAboveTheBoundIsMappedAfterALargerOneWasFreed) {
#if defined(__GLIBC__)
  if (kOwnAllocator) GTEST_SKIP() << "a sanitizer's allocator serves this build";
  ReturnLargeBlocksAtOnce();
  // Freeing a mapped block of 8 MiB would otherwise raise the bound to 8 MiB.
  void* large = std::malloc(size_t{8} << 20);
  ASSERT_NE(large, nullptr);
  static_cast<volatile char*>(large)[0] = 1;
  std::free(large);
  const size_t mappedBefore = mallinfo2().hblkhd;
  void* block = std::malloc(size_t{512} << 10);
  ASSERT_NE(block, nullptr);
  EXPECT_GE(mallinfo2().hblkhd, mappedBefore + (size_t{512} << 10));
  std::free(block);
  EXPECT_EQ(mallinfo2().hblkhd, mappedBefore);
#else
  GTEST_SKIP() << "this C library has no such setting";
#endif
}

}  // namespace
