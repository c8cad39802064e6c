#pragma once

#include <jvmti.h>

#include <string>

#include "core/logging_agent.h"
#include "registry/method_table.h"

namespace kolvaprof {

// The logging core bound to one JVMTI environment: sets up capabilities,
// events and callbacks, registers classes and answers the caller questions
// from the current thread's stack.
class CJVMTILoggingAgent : public CLoggingAgent {
 public:
  // May end the process with status 2 when the VM refuses what logging needs.
  explicit CJVMTILoggingAgent(JavaVM* vm);
  ~CJVMTILoggingAgent() override;

  const MethodInfo* getCallerMethod(ThreadContext* context, int32_t depth) override;
  std::string getCallerBytecodeIndex(ThreadContext* context, int32_t depth) override;
  std::string getCallerSourceLine(ThreadContext* context, int32_t depth) override;
  jlong getReceiverTag(jmethodID method) override;

  void registerClass(jvmtiEnv* env, jclass klass);
  // "La/b/C;" becomes "a.b.C"; empty when the VM gives no signature.
  std::string getDottedClassName(jvmtiEnv* env, jclass klass);

  // Event work, called by the thin callbacks once they are let through.
  void onThreadStart(jvmtiEnv* env, JNIEnv* jni, jthread thread);
  void onException(jvmtiEnv* env, JNIEnv* jni, jobject exception);
  void onMethodEntry(jvmtiEnv* env, JNIEnv* jni, jmethodID method);

  bool isStaticMethod(jmethodID method) const { return staticMethods.contains(method); }
  bool lineNumbers() const { return lineNumbersAvailable; }
  bool bytecodeLocations() const { return locationIsBytecodeIndex; }

 private:
  jlong receiverTag(jvmtiEnv* env, jmethodID method);

  jvmtiEnv* jvmti = nullptr;
  bool locationIsBytecodeIndex = false;
  bool lineNumbersAvailable = false;
  MethodTable<bool> staticMethods;
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
