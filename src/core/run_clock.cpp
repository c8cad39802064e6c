#include "core/run_clock.h"

#include <time.h>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#include <x86intrin.h>
#define KOLVAPROF_HAVE_TSC 1
#endif

namespace kolvaprof {
namespace {

int64_t monotonicNanoseconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

class MonotonicRunClock final : public RunClock {
 public:
  int64_t sinceStart() const override { return monotonicNanoseconds() - start; }

 private:
  const int64_t start = monotonicNanoseconds();
};

#ifdef KOLVAPROF_HAVE_TSC

// A counter that ticks at one rate whatever the core's frequency or sleep
// state; only such a counter can stand for wall time.
bool hasInvariantTsc() {
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (__get_cpuid(0x80000000u, &eax, &ebx, &ecx, &edx) == 0 || eax < 0x80000007u) return false;
  __get_cpuid(0x80000007u, &eax, &ebx, &ecx, &edx);
  return (edx & (1u << 8)) != 0;
}

struct Sample {
  uint64_t ticks = 0;
  int64_t nanoseconds = 0;
};

// The system clock between two counter readings; of a few tries, the one
// bracketed most tightly, so that a preemption does not skew the rate.
Sample sample() {
  Sample best;
  uint64_t narrowest = ~uint64_t{0};
  for (int i = 0; i < 8; ++i) {
    const uint64_t before = __rdtsc();
    const int64_t nanoseconds = monotonicNanoseconds();
    const uint64_t after = __rdtsc();
    if (after - before < narrowest) {
      narrowest = after - before;
      best = {before + (after - before) / 2, nanoseconds};
    }
  }
  return best;
}

class TscRunClock final : public RunClock {
 public:
  TscRunClock() {
    const Sample first = sample();
    // 20 ms against a bracket of well under a microsecond: the rate is off
    // by a few parts in a million at most.
    const timespec pause{0, 20 * 1000 * 1000};
    nanosleep(&pause, nullptr);
    const Sample second = sample();
    start = first.ticks;
    const auto elapsed = static_cast<unsigned __int128>(second.nanoseconds - first.nanoseconds);
    scale = static_cast<uint64_t>((elapsed << 32) / (second.ticks - first.ticks));
  }

  const char* timeBase() const override { return "tsc"; }
  int64_t sinceStart() const override {
    const uint64_t ticks = __rdtsc() - start;
    return static_cast<int64_t>((static_cast<unsigned __int128>(ticks) * scale) >> 32);
  }

 private:
  uint64_t start = 0;
  uint64_t scale = 0;  // nanoseconds per tick, 32.32 fixed point
};

#endif

}  // namespace

std::unique_ptr<RunClock> startSystemRunClock() {
#ifdef KOLVAPROF_HAVE_TSC
  if (hasInvariantTsc()) return std::make_unique<TscRunClock>();
#endif
  return std::make_unique<MonotonicRunClock>();
}

}  // namespace kolvaprof
