#include "Checks.h"

#include <cstdio>
#include <cstdlib>

namespace deflate_internal {

void CheckFailed(const char* message) {
  std::fputs(message, stderr);
  std::fputc('\n', stderr);
  std::abort();
}

}  // namespace deflate_internal
