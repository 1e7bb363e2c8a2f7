// The virtual clock of the simulated host. Defining time() in the host
// executable interposes the C library's: a plug-in loaded into the process
// binds to this one, so a replay can run on a clock of its own without a
// special build of the plug-in.

#include <time.h>

#include <atomic>
#include <limits>

#include "sim/framework/sim_framework.h"

namespace {
constexpr long long kRealClock = std::numeric_limits<long long>::min();
std::atomic<long long> g_virtual_now{kRealClock};
// A host thread that replays its own history keeps its own clock, so that
// sites replayed side by side each see their own time.
thread_local long long t_virtual_now = kRealClock;
}  // namespace

namespace sim {

void SetVirtualTime(std::optional<std::time_t> now) {
  g_virtual_now.store(now ? static_cast<long long>(*now) : kRealClock);
}

std::optional<std::time_t> VirtualTime() {
  const long long now = t_virtual_now != kRealClock ? t_virtual_now : g_virtual_now.load();
  if (now == kRealClock) return std::nullopt;
  return static_cast<std::time_t>(now);
}

void SetThreadVirtualTime(std::optional<std::time_t> now) {
  t_virtual_now = now ? static_cast<long long>(*now) : kRealClock;
}

}  // namespace sim

extern "C" __attribute__((visibility("default"))) time_t time(time_t* out) noexcept {
  const long long virtual_now = t_virtual_now != kRealClock ? t_virtual_now : g_virtual_now.load();
  time_t now;
  if (virtual_now != kRealClock) {
    now = static_cast<time_t>(virtual_now);
  } else {
    timespec reading{};
    clock_gettime(CLOCK_REALTIME, &reading);
    now = reading.tv_sec;
  }
  if (out != nullptr) *out = now;
  return now;
}
