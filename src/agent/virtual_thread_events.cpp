#include "agent/virtual_thread_events.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace kolvaprof {
namespace {

static_assert(sizeof(jvmtiCapabilities) == 16, "jvmtiCapabilities is four 32-bit words");
static_assert(offsetof(EventCallbacksWithVirtualThreads, VirtualThreadStart) ==
                  (87 - JVMTI_EVENT_VM_INIT) * sizeof(void*),
              "slot of event 87");
static_assert(offsetof(EventCallbacksWithVirtualThreads, VirtualThreadEnd) ==
                  (88 - JVMTI_EVENT_VM_INIT) * sizeof(void*),
              "slot of event 88");

constexpr std::size_t kVirtualThreadsBit = 44;
constexpr std::size_t kWord = kVirtualThreadsBit / 32;
constexpr std::uint32_t kMask = std::uint32_t{1} << (kVirtualThreadsBit % 32);

}  // namespace

bool offersVirtualThreads(const jvmtiCapabilities& capabilities) {
  std::uint32_t words[4];
  std::memcpy(words, &capabilities, sizeof words);
  return (words[kWord] & kMask) != 0;
}

void setVirtualThreadsCapability(jvmtiCapabilities& capabilities) {
  std::uint32_t words[4];
  std::memcpy(words, &capabilities, sizeof words);
  words[kWord] |= kMask;
  std::memcpy(&capabilities, words, sizeof words);
}

bool addVirtualThreadsCapability(jvmtiEnv* env) {
  jvmtiCapabilities potential{};
  if (env->GetPotentialCapabilities(&potential) != JVMTI_ERROR_NONE || !offersVirtualThreads(potential)) {
    return false;
  }
  jvmtiCapabilities wanted{};
  setVirtualThreadsCapability(wanted);
  return env->AddCapabilities(&wanted) == JVMTI_ERROR_NONE;
}

}  // namespace kolvaprof
