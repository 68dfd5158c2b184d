#include "base/allocator.h"

#include <cstdlib>  // defines __GLIBC__ where the C library is glibc

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace kvr {

void LimitAllocatorArenas() {
#if defined(__GLIBC__)
  mallopt(M_ARENA_MAX, 2);
#endif
}

}  // namespace kvr
