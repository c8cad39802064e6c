#include "capture/callback_gate.h"
#include "capture/vm_phase.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace kolvaprof {
namespace {

// The agent is deleted as soon as teardown returns, so teardown must wait for
// a callback that got in before the gate shut.
TEST(CallbackGateTest, ConcurrentTeardownWaitsForTheCallbackInside) {
  setVmPhase(VmPhase::Live);
  std::atomic<bool> inside{false}, release{false}, tornDown{false};
  std::thread callback([&] {
    CallbackScope scope;
    inside = true;
    while (!release) std::this_thread::yield();
  });
  while (!inside) std::this_thread::yield();
  std::thread teardown([&] {
    closeCallbackGateAndWait();
    tornDown = true;
  });
  // Once a new callback is turned away the gate is shut; a teardown that did
  // not wait would return well within the time given here.
  while (CallbackScope()) std::this_thread::yield();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(200);
  while (!tornDown && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
  EXPECT_FALSE(tornDown);
  release = true;
  callback.join();
  teardown.join();
  // A detached run, torn down, lets the callbacks of the next one in.
  EXPECT_FALSE(static_cast<bool>(CallbackScope()));
  reopenCallbackGate();
  EXPECT_TRUE(static_cast<bool>(CallbackScope()));
  setVmPhase(VmPhase::NotStarted);
}

}  // namespace
}  // namespace kolvaprof
