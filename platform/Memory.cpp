#include "Memory.h"

#include <cstdlib>  // defines __GLIBC__ where the C library is glibc

#if defined(__GLIBC__)
#include <malloc.h>
#endif

void ReturnLargeBlocksAtOnce() {
#if defined(__GLIBC__)
  // Setting the bound also stops the library from moving it.
  mallopt(M_MMAP_THRESHOLD, 128 * 1024);
#endif
}
