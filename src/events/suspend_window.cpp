#include "events/suspend_window.h"

#include <atomic>
#include <cstring>

#include "core/logging_agent.h"
#include "output/thread_context.h"
#include "registry/method_registry.h"

namespace kolvaprof {
namespace {

std::atomic<jmethodID> disableSuspendMethod{nullptr};

// The window ends within a few frames of where it began: the calls looked
// for are among the innermost.
constexpr jint kFramesLooked = 64;
constexpr int kCallsKept = 16;

// The logged calls that a window may leave behind, innermost first, with the
// height of each one's frame on the VM's stack (0 for the outermost frame).
struct LeftCalls {
  ThreadKey thread = nullptr;
  int count = 0;
  const MethodInfo* methods[kCallsKept];
  jint heights[kCallsKept];
};

// Initial-exec like the context cache: read on every method event. A virtual
// thread neither moves to another carrier nor lets another run on its own
// while its suspension is off, so the OS thread's next event is its own.
__attribute__((tls_model("initial-exec"))) thread_local bool windowOpen = false;
thread_local LeftCalls left;

}  // namespace

void SuspendWindow::noteMethod(const std::string& dottedClass, jmethodID method, const char* name,
                               const char* descriptor) {
  if (dottedClass == "java.lang.VirtualThread" && std::strcmp(name, "notifyJvmtiDisableSuspend") == 0 &&
      std::strcmp(descriptor, "(Z)V") == 0) {
    disableSuspendMethod.store(method, std::memory_order_relaxed);
  }
}

jmethodID SuspendWindow::windowMethod() { return disableSuspendMethod.load(std::memory_order_relaxed); }

bool SuspendWindow::pending() { return windowOpen; }

void SuspendWindow::open(CLoggingAgent& core, jvmtiEnv* env, ThreadKey thread) {
  ThreadContext* context = ThreadRegistry::instance().findContext(thread);
  if (context == nullptr || context->isCallStackEmpty()) return;
  jvmtiFrameInfo frames[kFramesLooked];
  jint count = 0;
  if (env->GetStackTrace(nullptr, 0, kFramesLooked, frames, &count) != JVMTI_ERROR_NONE) return;
  // The whole stack, most often; its depth is asked for only when it is not.
  jint total = count;
  if (count == kFramesLooked && env->GetFrameCount(nullptr, &total) != JVMTI_ERROR_NONE) return;
  // The logged calls are the VM's frames less those left out: each is found
  // at the first frame of its method below the one found for the call
  // inside it. The native frame of notifyJvmtiDisableSuspend itself may or
  // may not be on the stack still.
  std::size_t logged = context->callDepth();
  jint frame = count > 0 && frames[0].method == windowMethod() ? 1 : 0;
  // The frames' methods as the logged calls name them, looked up as needed.
  const MethodInfo* infos[kFramesLooked];
  jint known = frame;
  int found = 0;
  while (logged > 0 && found < kCallsKept) {
    const MethodInfo* method = context->callAt(logged - 1);
    jint at = frame;
    for (; at < count; ++at) {
      if (at == known) infos[known++] = findMethodInfo(frames[at].method);
      if (infos[at] == method) break;
    }
    if (at >= count) {
      // The exit seen may be that of the call that ends the window: the
      // innermost calls, begun before it, are gone from the whole stack
      // already. Below a call that is there, or beyond the frames looked
      // at, nothing is certain.
      if (found > 0 || count < total) break;
      core.closeInnermostCall(thread, method);
      --logged;
      continue;
    }
    left.methods[found] = method;
    left.heights[found] = total - 1 - at;
    ++found;
    frame = at + 1;
    --logged;
  }
  if (found == 0) return;
  left.thread = thread;
  left.count = found;
  windowOpen = true;
}

void SuspendWindow::close(CLoggingAgent& core, jvmtiEnv* env, ThreadKey thread, bool atEntry) {
  windowOpen = false;
  if (left.thread != thread) return;
  jint depth = 0;
  if (env->GetFrameCount(nullptr, &depth) != JVMTI_ERROR_NONE) return;
  // The frame of an exit is still on the stack; that of an entry stands
  // where a frame left behind may have stood.
  const jint gone = atEntry ? depth - 1 : depth;
  for (int n = 0; n < left.count && left.heights[n] >= gone; ++n) {
    core.closeInnermostCall(thread, left.methods[n]);
  }
}

}  // namespace kolvaprof
