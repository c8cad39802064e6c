// The library's ways in: at start-up, and into a running VM. Both stay
// small and never let an exception reach the VM.
#include <jvmti.h>

#include <string>

#include "agent/attach.h"
#include "agent/jvmti_logging_agent.h"

extern "C" JNIEXPORT jint JNICALL Agent_OnLoad(JavaVM* vm, char* options, void* /*reserved*/) {
  try {
    kolvaprof::CJVMTILoggingAgent* agent = kolvaprof::getAgent(vm);
    if (agent == nullptr) return JNI_OK;
    try {
      agent->loadSettings(options != nullptr ? std::string(options) : std::string());
    } catch (...) {
      // Settings that could not be applied leave the defaults; the VM goes on.
    }
    agent->prepareCapture();
    agent->writeRunManifest();
  } catch (...) {
    // Nothing is traced; the VM goes on.
  }
  return JNI_OK;
}

extern "C" JNIEXPORT jint JNICALL Agent_OnAttach(JavaVM* vm, char* options, void* /*reserved*/) {
  try {
    return kolvaprof::attachOrDetach(vm, options != nullptr ? std::string(options) : std::string());
  } catch (...) {
    return JNI_ERR;
  }
}
