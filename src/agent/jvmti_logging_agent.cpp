#include "agent/jvmti_logging_agent.h"

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <new>

#include "agent/callbacks.h"
#include "agent/event_call_site.h"
#include "agent/mount_frame.h"
#include "agent/suspend_window.h"
#include "capture/thread_key.h"
#include "capture/vm_phase.h"
#include "bytecode/bytecode_engine.h"
#include "capture/jvmti_buffer.h"
#include "config/settings.h"
#include "output/console.h"
#include "output/thread_registry.h"
#include "registry/method_registry.h"

namespace kolvaprof {
namespace {

CJVMTILoggingAgent* singleAgent = nullptr;

// The events every engine needs, switched on at load.
constexpr jvmtiEvent kCommonEvents[] = {
    JVMTI_EVENT_VM_INIT,
    JVMTI_EVENT_VM_DEATH,
    JVMTI_EVENT_THREAD_START,
    JVMTI_EVENT_THREAD_END,
};
// Those of the method events engine, once the settings chose it.
constexpr jvmtiEvent kMethodEvents[] = {
    JVMTI_EVENT_METHOD_ENTRY,
    JVMTI_EVENT_METHOD_EXIT,
    JVMTI_EVENT_EXCEPTION,
    JVMTI_EVENT_CLASS_PREPARE,
};
// Every event, in the order they are switched off at teardown.
constexpr jvmtiEvent kEvents[] = {
    JVMTI_EVENT_VM_INIT,      JVMTI_EVENT_VM_DEATH,     JVMTI_EVENT_METHOD_ENTRY,
    JVMTI_EVENT_METHOD_EXIT,  JVMTI_EVENT_EXCEPTION,    JVMTI_EVENT_THREAD_START,
    JVMTI_EVENT_THREAD_END,   JVMTI_EVENT_CLASS_PREPARE, JVMTI_EVENT_CLASS_FILE_LOAD_HOOK,
};

[[noreturn]] void fatal(const char* message) {
  std::fputs(message, stderr);
  std::fputc('\n', stderr);
  std::fflush(stderr);
  std::exit(2);
}

jvmtiCapabilities commonCapabilities() {
  jvmtiCapabilities capabilities{};
  capabilities.can_tag_objects = 1;
  capabilities.can_get_line_numbers = 1;
  return capabilities;
}

// Method events keep every thread that has them in the interpreter; these
// are asked for only when the settings choose them.
jvmtiCapabilities methodEventCapabilities() {
  jvmtiCapabilities capabilities{};
  capabilities.can_access_local_variables = 1;
  capabilities.can_generate_exception_events = 1;
  capabilities.can_generate_method_entry_events = 1;
  capabilities.can_generate_method_exit_events = 1;
  return capabilities;
}

}  // namespace

CJVMTILoggingAgent* getAgent(JavaVM* vm) {
  if (singleAgent != nullptr) return singleAgent;
  if (isVmDead() || vm == nullptr) return nullptr;
  // Construction stores itself as the single agent only once it is complete.
  singleAgent = new (std::nothrow) CJVMTILoggingAgent(vm);
  return singleAgent;
}

void forgetAgent(const CJVMTILoggingAgent* agent) {
  if (singleAgent == agent) singleAgent = nullptr;
}

CJVMTILoggingAgent::CJVMTILoggingAgent(JavaVM* vm, const Clock& clock)
    : CLoggingAgent(clock) {
  void* env = nullptr;
  if (vm->GetEnv(&env, JVMTI_VERSION_1_0) != JNI_OK || env == nullptr) {
    fatal("Unable to get a JVMTI 1.0 environment");
  }
  jvmti = static_cast<jvmtiEnv*>(env);

  const jvmtiCapabilities capabilities = commonCapabilities();
  if (jvmti->AddCapabilities(&capabilities) != JVMTI_ERROR_NONE) {
    fatal("Unable to get necessary JVMTI capabilities");
  }
  // Only where offered: without it a virtual thread's calls would be told
  // apart from its carrier's by nothing.
  virtualThreads = addVirtualThreadsCapability(jvmti);
  for (const jvmtiEvent event : kCommonEvents) {
    jvmti->SetEventNotificationMode(JVMTI_ENABLE, event, nullptr);
  }
  if (virtualThreads) {
    jvmti->SetEventNotificationMode(JVMTI_ENABLE, kVirtualThreadStartEvent, nullptr);
    jvmti->SetEventNotificationMode(JVMTI_ENABLE, kVirtualThreadEndEvent, nullptr);
  }
  const EventCallbacksWithVirtualThreads callbacks = makeEventCallbacksWithVirtualThreads();
  // The older VMs get the table of their own size.
  const jint tableSize =
      static_cast<jint>(virtualThreads ? sizeof callbacks : sizeof callbacks.base);
  if (jvmti->SetEventCallbacks(&callbacks.base, tableSize) != JVMTI_ERROR_NONE) {
    fatal("Cannot set jvmti callbacks");
  }

  locations = kolvaprof::locationSupport(jvmti);
  printMessage(&std::cout, ".... ok ");
}

CJVMTILoggingAgent::~CJVMTILoggingAgent() {
  // At the end of the run, when every class has come by: before "exit".
  if (bytecode) bytecode->reportUntraced();
  forgetAgent(this);
  jvmti->SetEventCallbacks(nullptr, 0);
  for (const jvmtiEvent event : kEvents) {
    jvmti->SetEventNotificationMode(JVMTI_DISABLE, event, nullptr);
  }
  if (virtualThreads) {
    jvmti->SetEventNotificationMode(JVMTI_DISABLE, kVirtualThreadStartEvent, nullptr);
    jvmti->SetEventNotificationMode(JVMTI_DISABLE, kVirtualThreadEndEvent, nullptr);
  }
}

void CJVMTILoggingAgent::loadSettings(const std::string& optionString) {
  configure(readSettingsFile(optionString, startTimeStamp()));
}

void CJVMTILoggingAgent::startCapture() {
  if (options().captureMode == CaptureMode::Bytecode) {
    const jvmtiCapabilities capabilities = BytecodeEngine::capabilities();
    if (jvmti->AddCapabilities(&capabilities) == JVMTI_ERROR_NONE) {
      bytecode = std::make_unique<BytecodeEngine>(*this, jvmti);
      jvmti->SetEventNotificationMode(JVMTI_ENABLE, JVMTI_EVENT_CLASS_FILE_LOAD_HOOK, nullptr);
      return;
    }
    printMessage(&std::cout, "cannot rewrite classes in this VM: capture calls by events.");
  }
  const jvmtiCapabilities capabilities = methodEventCapabilities();
  if (jvmti->AddCapabilities(&capabilities) != JVMTI_ERROR_NONE) {
    fatal("Unable to get necessary JVMTI capabilities");
  }
  for (const jvmtiEvent event : kMethodEvents) {
    jvmti->SetEventNotificationMode(JVMTI_ENABLE, event, nullptr);
  }
}

void CJVMTILoggingAgent::onThreadStart(jvmtiEnv* env, JNIEnv* jni, jthread thread) {
  jvmtiThreadInfo info{};
  if (env->GetThreadInfo(thread, &info) != JVMTI_ERROR_NONE) return;  // stays unnamed
  JvmtiBuffer<char> name(env);
  *name.out() = info.name;
  if (name.get() == nullptr) return;
  ThreadRegistry::instance().onThreadStart(jni, name.get());
}

void CJVMTILoggingAgent::onVirtualThreadStart(jvmtiEnv* env, jthread thread) {
  // Every receiver fetch on a virtual thread holds up the mounting of all
  // virtual threads until the VM has the object: fetching at every call
  // slows a server of virtual threads by orders of magnitude, enough that
  // its clients give up. Said rather than changed, since the mode decides
  // which objects take which numbers.
  if (!bytecode && options().receiverTags == ReceiverTagMode::BeforeGates &&
      !warnedOfReceiverFetches.exchange(true, std::memory_order_relaxed)) {
    printMessage(&std::cout,
                 "virtual threads: fetching the receiver of every call (ReceiverTags=1) stalls them all; "
                 "CaptureMode=bytecode or ReceiverTags=2 keeps them fast.");
  }
  const ThreadKey key = identifyVirtualThread(env);
  if (key == nullptr) return;  // its calls stay with its carrier's
  std::string name;
  jvmtiThreadInfo info{};
  if (env->GetThreadInfo(thread, &info) == JVMTI_ERROR_NONE) {
    JvmtiBuffer<char> given(env);
    *given.out() = info.name;
    if (given.get() != nullptr) name = given.get();
  }
  ThreadRegistry::instance().onVirtualThreadStart(key, name);
}

void CJVMTILoggingAgent::onVirtualThreadEnd(jvmtiEnv* env) {
  const ThreadKey key = virtualThreadIdentity(env);
  if (key == nullptr) return;
  if (bytecode) bytecode->onThreadEnd(key);
  ThreadRegistry::instance().onThreadEnd(key);
  releaseVirtualThreadIdentity(env, key);
}

void CJVMTILoggingAgent::onException(jvmtiEnv* env, JNIEnv* jni, jobject exception) {
  if (exception == nullptr) return;
  jclass klass = jni->GetObjectClass(exception);
  if (klass == nullptr) return;
  setLastExceptionClass(currentThreadKey(env, jni), getDottedClassName(env, klass));
  jni->DeleteLocalRef(klass);
}

void CJVMTILoggingAgent::onMethodEntry(jvmtiEnv* env, JNIEnv* jni, jmethodID method) {
  const MethodInfo* info = findMethodInfo(method);
  if (info == nullptr && !ignoreBuiltInClass()) {
    jclass klass = nullptr;
    if (env->GetMethodDeclaringClass(method, &klass) != JVMTI_ERROR_NONE || klass == nullptr) {
      return;
    }
    registerClass(env, klass);
    jni->DeleteLocalRef(klass);
    info = findMethodInfo(method);
  }
  if (info == nullptr) return;
  EventCallSite site(*this, env, jni);
  MountFrame::closePending(*this, jni);
  SuspendWindow::closeLeftCalls(*this, env, site.threadKey(), true);
  logMethodEntry(site, *info);
  MountFrame::noteEntry(method, jni, site.threadKey());
}

void CJVMTILoggingAgent::onMethodExit(jvmtiEnv* env, JNIEnv* jni, jmethodID method,
                                      bool poppedByException) {
  const MethodInfo* info = findMethodInfo(method);
  if (info == nullptr) return;
  EventCallSite site(*this, env, jni);
  MountFrame::closePending(*this, jni);
  SuspendWindow::closeLeftCalls(*this, env, site.threadKey(), false);
  logMethodExit(site, *info, poppedByException);
  SuspendWindow::noteExit(*this, env, method, site.threadKey());
}

}  // namespace kolvaprof
