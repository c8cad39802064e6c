#pragma once

#include <cstdint>
#include <string>

#include "core/logging_agent.h"

namespace kolvaprof::testing {

// The logging core without a VM: the caller queries answer whatever the test
// has put into the public fields (by default: no caller, no location).
class TestAgent : public CLoggingAgent {
 public:
  TestAgent() : CLoggingAgent(nullptr) {}

  const MethodInfo* getCallerMethod(ThreadContext*, int32_t) override { return callerMethod; }
  std::string getCallerBytecodeIndex(ThreadContext*, int32_t) override {
    return callerBytecodeIndex;
  }
  std::string getCallerSourceLine(ThreadContext*, int32_t) override { return callerSourceLine; }

  const MethodInfo* callerMethod = nullptr;
  std::string callerBytecodeIndex;
  std::string callerSourceLine;
};

}  // namespace kolvaprof::testing
