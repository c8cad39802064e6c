#pragma once

#include <jvmti.h>

#include <atomic>
#include <memory>
#include <string>

#include "capture/frame_location.h"
#include "core/logging_agent.h"

namespace kolvaprof {

class BytecodeEngine;

// The logging core bound to one JVMTI environment: sets up capabilities,
// events and callbacks, registers classes, and hands method events to the
// core through EventCallSite.
class CJVMTILoggingAgent : public CLoggingAgent {
 public:
  // May end the process with status 2 when the VM refuses what logging needs.
  explicit CJVMTILoggingAgent(JavaVM* vm, const Clock& clock = systemClock());
  ~CJVMTILoggingAgent() override;

  // Settings file: read once, at load time.
  void loadSettings(const std::string& optionString);
  // Switches on the way of catching calls the settings chose, once they are
  // read (or failed to be): method events, or hooks in the bytecode.
  void startCapture();
  // The bytecode engine, when it is the one catching calls.
  BytecodeEngine* bytecodeEngine() const { return bytecode.get(); }

  void registerClass(jvmtiEnv* env, jclass klass);
  // "La/b/C;" becomes "a.b.C"; empty when the VM gives no signature.
  std::string getDottedClassName(jvmtiEnv* env, jclass klass);

  // Event work, called by the thin callbacks once they are let through.
  void onThreadStart(jvmtiEnv* env, JNIEnv* jni, jthread thread);
  void onException(jvmtiEnv* env, JNIEnv* jni, jobject exception);
  void onMethodEntry(jvmtiEnv* env, JNIEnv* jni, jmethodID method);
  void onMethodExit(jvmtiEnv* env, JNIEnv* jni, jmethodID method, bool poppedByException);
  // Both run on the virtual thread itself.
  void onVirtualThreadStart(jvmtiEnv* env, jthread thread);
  void onVirtualThreadEnd(jvmtiEnv* env);

  bool lineNumbers() const { return locations.lineNumbers; }
  bool bytecodeLocations() const { return locations.bytecodeIndex; }
  const LocationSupport& locationSupport() const { return locations; }

 private:
  jvmtiEnv* jvmti = nullptr;
  LocationSupport locations;
  std::unique_ptr<BytecodeEngine> bytecode;
  bool virtualThreads = false;  // the VM sends their start and end
  // Said once, at the first virtual thread, when receiver fetches will stall it.
  std::atomic<bool> warnedOfReceiverFetches{false};
};

// The single agent: created by the first call with a VM (unless the VM is
// dead), returned by every later call; a null VM never creates one.
CJVMTILoggingAgent* getAgent(JavaVM* vm);
// Clears the single-agent pointer if it names this agent.
void forgetAgent(const CJVMTILoggingAgent* agent);

// "Lpkg/Name;" to "pkg.Name": the text between a leading 'L' and the first
// ';', with '/' turned into '.'.
std::string dottedNameFromSignature(const char* signature);

}  // namespace kolvaprof
