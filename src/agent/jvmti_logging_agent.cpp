#include "agent/jvmti_logging_agent.h"

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <new>

#include "agent/callbacks.h"
#include "bytecode/bytecode_engine.h"
#include "capture/jvmti_buffer.h"
#include "capture/thread_key.h"
#include "capture/vm_description.h"
#include "capture/vm_phase.h"
#include "config/settings.h"
#include "events/events_engine.h"
#include "output/console.h"
#include "output/thread_registry.h"

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
  // Before "exit", which the core's teardown prints.
  if (engine) engine->stop();
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

void CJVMTILoggingAgent::prepareCapture() {
  if (options().captureMode == CaptureMode::Bytecode) {
    auto rewriting = std::make_unique<BytecodeEngine>(*this, jvmti);
    if (rewriting->prepare()) {
      bytecode = rewriting.get();
      engine = std::move(rewriting);
      return;
    }
    printMessage(&std::cout, "cannot rewrite classes in this VM: capture calls by events.");
  }
  auto methodEvents = std::make_unique<EventsEngine>(*this, jvmti, locations);
  if (!methodEvents->prepare()) fatal("Unable to get necessary JVMTI capabilities");
  events = methodEvents.get();
  engine = std::move(methodEvents);
}

void CJVMTILoggingAgent::writeRunManifest() {
  describeRun(bytecode != nullptr ? "bytecode" : "events", describeVm(jvmti));
}

void CJVMTILoggingAgent::startCapture(JNIEnv* jni) {
  if (engine) engine->start(jni);
}

void CJVMTILoggingAgent::onThreadEnd(ThreadKey thread) {
  if (engine) engine->onThreadEnd(thread);
  ThreadRegistry::instance().onThreadEnd(thread);
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
  if (events != nullptr && options().receiverTags == ReceiverTagMode::BeforeGates &&
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
  onThreadEnd(key);
  releaseVirtualThreadIdentity(env, key);
}

}  // namespace kolvaprof
