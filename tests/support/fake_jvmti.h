#pragma once

#include <jvmti.h>

#include <cstddef>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include <boost/thread/mutex.hpp>

namespace kolvaprof::fake {

// A class as the fake VM describes it. Its jclass is the address of this
// object; the fail flags make the matching JVMTI query return an error.
struct FakeClass {
  std::string signature;  // "La/b/Outer$Inner;"
  std::vector<jmethodID> methods;
  bool failSignature = false;
  bool failMethods = false;
  int methodListings = 0;  // GetClassMethods calls, failed ones included
};

// A method of a FakeClass. Its jmethodID is the address of this object.
struct FakeMethod {
  jclass owner = nullptr;
  std::string name;
  std::string descriptor;
  jint modifiers = 0;
  bool failName = false;
  bool failModifiers = false;
  bool failDeclaringClass = false;
};

// A JavaVM and a jvmtiEnv for unit tests. The function tables are zero-filled
// except for the functions the fake serves, so an unexpected call crashes the
// test instead of passing unnoticed. JVMTI functions carry no user data, hence
// one instance at a time is active; it must outlive every agent built on it.
class FakeJvmti {
 public:
  FakeJvmti();
  ~FakeJvmti();
  FakeJvmti(const FakeJvmti&) = delete;
  FakeJvmti& operator=(const FakeJvmti&) = delete;

  static FakeJvmti& active();

  JavaVM* vm() { return &javaVm; }
  jvmtiEnv* env() { return &jvmtiEnvironment; }

  // Fake classes and methods are never freed, so no identifier is ever handed
  // out twice in one test process (the method registry is process-wide).
  jclass addClass(const std::string& signature);
  jmethodID addMethod(jclass owner, const std::string& name, const std::string& descriptor,
                      jint modifiers = 0);
  static FakeClass& classOf(jclass klass);
  static FakeMethod& methodOf(jmethodID method);

  // Results the VM gives.
  jint getEnvResult = JNI_OK;
  jvmtiError addCapabilitiesResult = JVMTI_ERROR_NONE;
  jvmtiError setEventCallbacksResult = JVMTI_ERROR_NONE;
  jvmtiError potentialCapabilitiesResult = JVMTI_ERROR_NONE;
  jvmtiCapabilities potentialCapabilities{};  // can_get_line_numbers set by default
  jvmtiError locationFormatResult = JVMTI_ERROR_NONE;
  jvmtiJlocationFormat locationFormat = JVMTI_JLOCATION_JVMBCI;

  // Called inside GetClassMethods, before it answers.
  std::function<void(jclass)> onClassMethods;

  struct EventModeCall {
    jvmtiEventMode mode;
    jvmtiEvent event;
    jthread thread;
  };
  struct CallbacksCall {
    bool tableGiven;
    jvmtiEventCallbacks table;
    jint size;
  };

  // What the agent asked for during setup and teardown, in call order, as
  // lines such as "SetEventNotificationMode enable 50 all" or
  // "SetEventCallbacks null 0"; the typed records below hold the details.
  // Written under the lock; read them once the agent's threads are done.
  std::vector<std::string> journal;
  std::vector<jvmtiCapabilities> addedCapabilities;
  std::vector<EventModeCall> eventModes;
  std::vector<CallbacksCall> callbacksCalls;
  void clearJournal();

  // Buffers the fake handed out (strings, method arrays, Allocate) and those
  // given back. A Deallocate of a pointer that is not outstanding (a double
  // or foreign free) is counted as stray; null is accepted and ignored.
  std::set<void*> outstandingBuffers;
  std::size_t allocations = 0;
  std::size_t deallocations = 0;
  std::size_t strayDeallocations = 0;

 private:
  friend struct FakeFunctions;
  unsigned char* allocate(std::size_t size);  // caller holds lock
  char* copyOut(const std::string& text);      // caller holds lock

  boost::mutex lock;
  jvmtiInterface_1_ jvmtiFunctions{};
  _jvmtiEnv jvmtiEnvironment{};
  JNIInvokeInterface_ invokeFunctions{};
  JavaVM_ javaVm{};
};

}  // namespace kolvaprof::fake
