#include "platform/host/host.h"

#include <chrono>

namespace dtp {

uint32_t MonotonicTickCount() {
  using namespace std::chrono;
  return static_cast<uint32_t>(
      duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

} // namespace dtp
