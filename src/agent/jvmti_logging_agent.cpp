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

// Read by callbacks on every thread; an attached agent is published once it
// is whole.
std::atomic<CJVMTILoggingAgent*> singleAgent{nullptr};

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
  if (CJVMTILoggingAgent* agent = singleAgent.load(std::memory_order_acquire)) return agent;
  if (isVmDead() || vm == nullptr) return nullptr;
  // Construction stores itself as the single agent only once it is complete.
  CJVMTILoggingAgent* made = new (std::nothrow) CJVMTILoggingAgent(vm);
  singleAgent.store(made, std::memory_order_release);
  return made;
}

void publishAgent(CJVMTILoggingAgent* agent) {
  singleAgent.store(agent, std::memory_order_release);
}

void forgetAgent(const CJVMTILoggingAgent* agent) {
  CJVMTILoggingAgent* expected = const_cast<CJVMTILoggingAgent*>(agent);
  singleAgent.compare_exchange_strong(expected, nullptr, std::memory_order_acq_rel);
}

CJVMTILoggingAgent::CJVMTILoggingAgent(JavaVM* vm, const Clock& clock)
    : CLoggingAgent(clock) {
  setUpEnvironment(vm);
}

CJVMTILoggingAgent::CJVMTILoggingAgent(JavaVM* vm, Attached, const Clock& clock)
    : CLoggingAgent(clock), attachedToRunningVm(true) {
  setUpEnvironment(vm);
}

// The VM that refuses an agent loaded into it while it runs goes on as it
// was; one that refuses it at start-up ends.
void CJVMTILoggingAgent::setUpEnvironment(JavaVM* vm) {
  const auto refuse = [&](const char* message) {
    if (!attachedToRunningVm) fatal(message);
    if (jvmti != nullptr) jvmti->DisposeEnvironment();
    jvmti = nullptr;
    throw AttachRefused(message);
  };
  void* env = nullptr;
  if (vm->GetEnv(&env, JVMTI_VERSION_1_0) != JNI_OK || env == nullptr) {
    refuse("Unable to get a JVMTI 1.0 environment");
  }
  jvmti = static_cast<jvmtiEnv*>(env);

  const jvmtiCapabilities capabilities = commonCapabilities();
  if (jvmti->AddCapabilities(&capabilities) != JVMTI_ERROR_NONE) {
    refuse("Unable to get necessary JVMTI capabilities");
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
    refuse("Cannot set jvmti callbacks");
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
  if (!attachedToRunningVm) return;
  // The VM goes on: what the agent held goes back, the object tags with it.
  jvmtiCapabilities held{};
  if (jvmti->GetCapabilities(&held) == JVMTI_ERROR_NONE) jvmti->RelinquishCapabilities(&held);
  jvmti->DisposeEnvironment();
  forgetVirtualThreadIdentities();
}

void CJVMTILoggingAgent::loadSettings(const std::string& optionString) {
  Settings read = readSettingsFile(optionString, startTimeStamp());
  // An attach that will be refused takes no directory and says nothing of
  // settings it does not act on.
  eventsAskedOfRunningVm = attachedToRunningVm && read.captureModeGiven &&
                           read.options.captureMode == CaptureMode::Events;
  if (!eventsAskedOfRunningVm) configure(read);
}

bool CJVMTILoggingAgent::prepareAttachedCapture() {
  if (eventsAskedOfRunningVm) {
    // HotSpot grants method events to agents loaded at start-up only (JDK 17
    // and 25 offer none to one loaded later), and where a VM does grant
    // them, every thread that has them runs interpreted from then on:
    // attaching rewrites bytecode only. The line says which case this is.
    jvmtiCapabilities potential{};
    const bool granted = jvmti->GetPotentialCapabilities(&potential) == JVMTI_ERROR_NONE &&
                         potential.can_generate_method_entry_events &&
                         potential.can_generate_method_exit_events;
    printMessage(&std::cout, std::string("CaptureMode=events cannot attach") +
                                 (granted ? "" : " (this VM grants no method events once it runs)") +
                                 ": use CaptureMode=bytecode, or no CaptureMode line.");
    return false;
  }
  auto rewriting = std::make_unique<BytecodeEngine>(*this, jvmti, true);
  if (!rewriting->prepare()) {
    printMessage(&std::cout, "cannot rewrite classes in this VM: nothing is traced.");
    return false;
  }
  bytecode = rewriting.get();
  engine = std::move(rewriting);
  return true;
}

std::size_t CJVMTILoggingAgent::restoreClasses(JNIEnv* jni) {
  return bytecode != nullptr ? bytecode->restoreClasses(jni) : 0;
}

std::size_t CJVMTILoggingAgent::classesRewrittenAtStart() const {
  return bytecode != nullptr ? bytecode->classesRewrittenAtStart() : 0;
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
