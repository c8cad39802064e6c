// Runs that begin and end while the VM goes on. One run at a time: attach,
// detach and the VM's death take the lifecycle lock, so that a run is torn
// down once.
#include "agent/attach.h"

#include <dlfcn.h>

#include <chrono>
#include <iostream>
#include <memory>

#include <boost/thread/lock_guard.hpp>
#include <boost/thread/mutex.hpp>

#include "agent/jvmti_logging_agent.h"
#include "capture/callback_gate.h"
#include "capture/vm_phase.h"
#include "output/console.h"
#include "output/file_sink.h"
#include "output/index_file.h"
#include "output/thread_registry.h"

namespace kolvaprof {
namespace {

boost::mutex& lifecycleLock() {
  // Never destroyed: the VM may die while the process exits.
  static boost::mutex* lock = new boost::mutex;
  return *lock;
}

// HotSpot unloads a library whose Agent_OnAttach fails (JDK 17 then even
// reads the name it freed). This one must stay: the hooks class's natives
// point into it, and code rewritten by an earlier run may still be running.
void keepLibraryLoaded() {
  Dl_info self{};
  if (::dladdr(reinterpret_cast<void*>(&keepLibraryLoaded), &self) == 0 || self.dli_fname == nullptr) {
    return;
  }
  ::dlopen(self.dli_fname, RTLD_LAZY | RTLD_NOLOAD | RTLD_NODELETE);
}

std::string classes(std::size_t count) {
  return std::to_string(count) + (count == 1 ? " class" : " classes");
}

std::string millisecondsSince(std::chrono::steady_clock::time_point begin) {
  const auto elapsed = std::chrono::steady_clock::now() - begin;
  return std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count()) +
         " ms";
}

jint attach(JavaVM* vm, JNIEnv* jni, const std::string& settingsFile) {
  const auto begin = std::chrono::steady_clock::now();
  if (CJVMTILoggingAgent* running = getAgent(nullptr)) {
    printMessage(&std::cout, "already tracing into " + running->logDirectory());
    return JNI_ERR;
  }
  // Nothing of a run before carries over: thread names and numbers, the
  // numbers of log files named "(K)". Method numbers are the new run's
  // index's, and its methods new records. The engine, the core and the run
  // clock are the new agent's.
  ThreadRegistry::instance().reset();
  restartNumberedFileNames();
  std::unique_ptr<CJVMTILoggingAgent> agent;
  try {
    agent = std::make_unique<CJVMTILoggingAgent>(vm, CJVMTILoggingAgent::Attached{});
  } catch (const AttachRefused& refused) {
    printMessage(&std::cerr, refused.what());
    return JNI_ERR;
  }
  try {
    agent->loadSettings(settingsFile);
  } catch (...) {
    // Settings that could not be applied leave the defaults.
  }
  // A refused agent is torn down here, unpublished, as at the end of a run.
  if (!agent->prepareAttachedCapture()) return JNI_ERR;
  // Callbacks reach the agent once it is whole.
  setVmPhase(VmPhase::Live);
  publishAgent(agent.get());
  CJVMTILoggingAgent* started = agent.release();
  started->startCapture(jni);
  printMessage(&std::cout, "attached: " + classes(started->classesRewrittenAtStart()) +
                               " retransformed in " + millisecondsSince(begin));
  return JNI_OK;
}

jint detach(JNIEnv* jni) {
  CJVMTILoggingAgent* agent = getAgent(nullptr);
  if (agent == nullptr) {
    printMessage(&std::cout, "not tracing: nothing to detach");
    return JNI_ERR;
  }
  if (!agent->attached()) {
    printMessage(&std::cout, "tracing since the VM started: only an attached agent detaches");
    return JNI_ERR;
  }
  // Once no callback is inside, hooks do nothing and the class file load
  // hook passes bytes through, so that retransformation gives each class
  // the bytes it had before. Frames still running rewritten code call
  // hooks on their way out, which find the gate closed, or no engine.
  const auto begin = std::chrono::steady_clock::now();
  closeCallbackGateAndWait();
  const std::size_t restored = agent->restoreClasses(jni);
  printMessage(&std::cout, "detached: " + classes(restored) + " given back their bytes in " +
                               millisecondsSince(begin));
  // The run ends as at the VM's death: logs flushed and closed, capabilities
  // and events given back.
  delete agent;
  reopenCallbackGate();
  return JNI_OK;
}

}  // namespace

jint attachOrDetach(JavaVM* vm, const std::string& options) {
  boost::lock_guard<boost::mutex> guard(lifecycleLock());
  keepLibraryLoaded();
  JNIEnv* jni = nullptr;
  if (isVmDead() || vm->GetEnv(reinterpret_cast<void**>(&jni), JNI_VERSION_1_6) != JNI_OK) {
    return JNI_ERR;
  }
  if (options == kDetachOption) return detach(jni);
  return attach(vm, jni, options);
}

void endRunAtVmDeath() {
  boost::lock_guard<boost::mutex> guard(lifecycleLock());
  setVmPhase(VmPhase::Dead);
  closeCallbackGateAndWait();
  delete getAgent(nullptr);
}

}  // namespace kolvaprof
