#pragma once

#include <cerrno>

namespace platform {

// Repeats a POSIX call for as long as a signal interrupts it (-1 with
// errno EINTR) and returns its first other result.
template <typename Call> auto RetryOnInterrupt(Call call) {
  for (;;) {
    const auto result = call();
    if (result != -1 || errno != EINTR)
      return result;
  }
}

} // namespace platform
