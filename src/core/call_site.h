#pragma once

#include <cstdint>
#include <string>

#include "output/thread_key.h"

namespace kolvaprof {

class MethodInfo;

enum class CallerLocation { BytecodeIndex, SourceLine };

// What the core asks of the capture engine about one method entry or exit:
// the seam between the core and any way of catching calls. An engine makes
// one for each event it hands over; the core asks only what the settings of
// the run need, and only for calls it logs.
class CallSite {
 public:
  explicit CallSite(ThreadKey thread) : thread(thread) {}

  // The thread the call runs on.
  ThreadKey threadKey() const { return thread; }
  // The record of the method that made the call, or null when it is not known.
  virtual const MethodInfo* callerMethod() = 0;
  // Where in the caller the call was made, as the record shows it ("-1":
  // unknown).
  virtual std::string callerLocation(CallerLocation what) = 0;
  // The number of the receiver of the instance method being entered; 0 when
  // there is none to be had.
  virtual int64_t receiverTag() = 0;

 protected:
  ~CallSite() = default;

 private:
  ThreadKey thread;
};

}  // namespace kolvaprof
