#include "records/Stop.h"

#include <atomic>

namespace eventquery {
namespace {

// Lock-free, so that a signal handler may store into it.
std::atomic<int> g_stop_signal{0};
static_assert(std::atomic<int>::is_always_lock_free);

}  // namespace

void RequestStop(int signal) noexcept {
  int none = 0;
  g_stop_signal.compare_exchange_strong(none, signal == 0 ? -1 : signal);
}

bool StopRequested() noexcept {
  return g_stop_signal.load(std::memory_order_relaxed) != 0;
}

int StopSignal() noexcept {
  const int signal = g_stop_signal.load(std::memory_order_relaxed);
  return signal > 0 ? signal : 0;
}

}  // namespace eventquery
