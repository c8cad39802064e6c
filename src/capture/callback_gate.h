#pragma once

namespace kolvaprof {

// Counts an event callback in while the VM is live. Teardown closes the gate
// and then waits until every callback that got in has left, so that no
// callback touches the agent or its logs once their destruction has begun.
class CallbackScope {
 public:
  CallbackScope();
  ~CallbackScope();
  CallbackScope(const CallbackScope&) = delete;
  CallbackScope& operator=(const CallbackScope&) = delete;

  explicit operator bool() const { return slot != nullptr; }

 private:
  struct InFlightSlot* slot;  // this thread's count, while the callback is inside
};

// Shuts the gate and returns once no callback is inside.
void closeCallbackGateAndWait();
// Lets callbacks in again, once a detached run is torn down: whatever they
// reach then belongs to no run, or to the next one.
void reopenCallbackGate();

// How every event callback and hook runs its work: only while the VM is
// live, counted in so that teardown waits for it, and with no exception
// leaving for the VM (the event is lost; the traced program must not notice).
template <typename Work>
void throughCallbackGate(Work&& work) {
  CallbackScope scope;
  if (!scope) return;
  try {
    work();
  } catch (...) {
  }
}

}  // namespace kolvaprof
