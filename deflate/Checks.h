// Internal consistency checks of the encoder. They carry fixed messages and
// are active only in debug builds, where a failure aborts with the message;
// in the product they compile to nothing and never change the encoding.
#pragma once

namespace deflate_internal {
[[noreturn]] void CheckFailed(const char* message);
}  // namespace deflate_internal

#ifndef NDEBUG
#define DEFLATE_CHECK(condition, message) \
  ((condition) ? static_cast<void>(0) : ::deflate_internal::CheckFailed(message))
#else
#define DEFLATE_CHECK(condition, message) static_cast<void>(0)
#endif
