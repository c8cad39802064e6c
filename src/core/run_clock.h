#pragma once

#include <cstdint>
#include <memory>

namespace kolvaprof {

// The time of the records (RecordTime): nanoseconds since the run started,
// that is since the agent configured the run. Read at every logged entry and
// exit, so the product clock costs a few nanoseconds; tests hand in one that
// steps, so that records compare byte for byte.
class RunClock {
 public:
  virtual ~RunClock() = default;
  virtual int64_t sinceStart() const = 0;
  // What the times are read from, for run.json: "tsc" or "monotonic".
  virtual const char* timeBase() const { return "monotonic"; }
};

// Starts the product clock now. With an invariant time-stamp counter it reads
// the counter and scales it by a rate measured against the monotonic system
// clock over a few milliseconds here; without one it asks the monotonic
// system clock at every reading, which costs more but never goes back either.
std::unique_ptr<RunClock> startSystemRunClock();

}  // namespace kolvaprof
