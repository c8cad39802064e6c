#pragma once

#include <jvmti.h>

#include <atomic>
#include <memory>
#include <stdexcept>
#include <string>

#include "capture/frame_location.h"
#include "core/logging_agent.h"

namespace kolvaprof {

class BytecodeEngine;
class CaptureEngine;
class EventsEngine;

// The logging core bound to one JVMTI environment: sets up the capabilities,
// events and callbacks every engine needs, reads the settings, and runs the
// capture engine they choose (events or bytecode), which holds the core by
// reference.
class CJVMTILoggingAgent : public CLoggingAgent {
 public:
  // May end the process with status 2 when the VM refuses what logging needs.
  explicit CJVMTILoggingAgent(JavaVM* vm, const Clock& clock = systemClock());
  // Loaded into a running VM: a JVMTI environment of its own, which goes
  // with the agent; throws AttachRefused instead of ending the process.
  struct Attached {};
  CJVMTILoggingAgent(JavaVM* vm, Attached, const Clock& clock = systemClock());
  ~CJVMTILoggingAgent() override;

  // Settings file: read once, at load time.
  void loadSettings(const std::string& optionString);
  // Prepares the engine the settings chose, once they are read (or failed
  // to be): method events, or hooks in the bytecode.
  void prepareCapture();
  // The same in a running VM, where only the bytecode engine can start (the
  // method events are granted at start-up alone); false, and a console line
  // saying why, when it cannot.
  bool prepareAttachedCapture();
  bool attached() const { return attachedToRunningVm; }
  // Gives every class the engine changed its own bytes back; the callback
  // gate must be closed, so that the class file load hook passes them through.
  // Returns how many classes were retransformed.
  std::size_t restoreClasses(JNIEnv* jni);
  // How many loaded classes the start of capture retransformed.
  std::size_t classesRewrittenAtStart() const;
  // Once the engine is prepared: run.json names it and the VM.
  void writeRunManifest();
  // The VM runs Java code: the engine starts catching calls.
  void startCapture(JNIEnv* jni);
  // The engine that catches calls, by its kind; null for the other kind.
  BytecodeEngine* bytecodeEngine() const { return bytecode; }
  EventsEngine* eventsEngine() const { return events; }

  // Thread work of every engine, called by the thin callbacks once they are
  // let through.
  void onThreadStart(jvmtiEnv* env, JNIEnv* jni, jthread thread);
  void onThreadEnd(ThreadKey thread);
  // Both run on the virtual thread itself.
  void onVirtualThreadStart(jvmtiEnv* env, jthread thread);
  void onVirtualThreadEnd(jvmtiEnv* env);

  bool lineNumbers() const { return locations.lineNumbers; }
  bool bytecodeLocations() const { return locations.bytecodeIndex; }

 private:
  void setUpEnvironment(JavaVM* vm);

  jvmtiEnv* jvmti = nullptr;
  bool attachedToRunningVm = false;
  // The settings of an attached agent asked for CaptureMode=events.
  bool eventsAskedOfRunningVm = false;
  LocationSupport locations;
  std::unique_ptr<CaptureEngine> engine;
  // `engine`, by its kind.
  BytecodeEngine* bytecode = nullptr;
  EventsEngine* events = nullptr;
  bool virtualThreads = false;  // the VM sends their start and end
  // Said once, at the first virtual thread, when receiver fetches will stall it.
  std::atomic<bool> warnedOfReceiverFetches{false};
};

// What an agent loaded into a running VM could not get; the text says what.
struct AttachRefused : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// The single agent: created by the first call with a VM (unless the VM is
// dead), returned by every later call; a null VM never creates one.
CJVMTILoggingAgent* getAgent(JavaVM* vm);
// Makes an agent attached to a running VM, made and prepared aside, the
// single agent: callbacks reach it from now on.
void publishAgent(CJVMTILoggingAgent* agent);
// Clears the single-agent pointer if it names this agent.
void forgetAgent(const CJVMTILoggingAgent* agent);

}  // namespace kolvaprof
