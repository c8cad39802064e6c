#pragma once

#include <jvmti.h>

#include <string>

namespace kolvaprof {

class CLoggingAgent;

// java.lang.VirtualThread.mount() runs on the carrier and ends inside the
// mount transition, where the VM reports no method events: its exit never
// comes, and the carrier's later calls would all nest inside it. Its entry
// is noted on the carrier's OS thread, and the carrier's frame is closed at
// the next event there, the mounted virtual thread's first.
class MountFrame {
 public:
  // Called for every method of every registered class; remembers mount().
  static void noteMethod(const std::string& dottedClass, jmethodID method, const char* name,
                         const char* descriptor);
  // Before each method event of the OS thread, then after each entry.
  static void closePending(CLoggingAgent& core, JNIEnv* carrier);
  static void noteEntry(jmethodID method, JNIEnv* jni, const void* threadKey);
};

}  // namespace kolvaprof
