#include "events/mount_frame.h"

#include <atomic>
#include <cstring>

#include "core/logging_agent.h"
#include "registry/method_registry.h"

namespace kolvaprof {
namespace {

std::atomic<jmethodID> mountMethod{nullptr};
// Initial-exec like the context cache: read on every method event.
__attribute__((tls_model("initial-exec"))) thread_local bool mountOpen = false;

}  // namespace

void MountFrame::noteMethod(const std::string& dottedClass, jmethodID method, const char* name,
                            const char* descriptor) {
  if (dottedClass == "java.lang.VirtualThread" && std::strcmp(name, "mount") == 0 &&
      std::strcmp(descriptor, "()V") == 0) {
    mountMethod.store(method, std::memory_order_relaxed);
  }
}

void MountFrame::closePending(CLoggingAgent& core, JNIEnv* carrier) {
  if (!mountOpen) return;
  mountOpen = false;
  core.closeInnermostCall(carrier, findMethodInfo(mountMethod.load(std::memory_order_relaxed)));
}

void MountFrame::noteEntry(jmethodID method, JNIEnv* jni, const void* threadKey) {
  if (method == mountMethod.load(std::memory_order_relaxed) && method != nullptr && threadKey == jni) {
    mountOpen = true;
  }
}

}  // namespace kolvaprof
