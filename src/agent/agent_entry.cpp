// The library's one way in. Agent_OnLoad stays small and never lets an
// exception reach the VM.
#include <jvmti.h>

#include <new>
#include <string>

#include "agent/jvmti_logging_agent.h"
#include "agent/vm_phase.h"

namespace kolvaprof {
namespace {

CJVMTILoggingAgent* singleAgent = nullptr;

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

}  // namespace kolvaprof

extern "C" JNIEXPORT jint JNICALL Agent_OnLoad(JavaVM* vm, char* options, void* /*reserved*/) {
  try {
    kolvaprof::CJVMTILoggingAgent* agent = kolvaprof::getAgent(vm);
    if (agent == nullptr) return JNI_OK;
    agent->loadSettings(options != nullptr ? std::string(options) : std::string());
  } catch (...) {
    // Settings that could not be applied leave the defaults; the VM goes on.
  }
  return JNI_OK;
}
