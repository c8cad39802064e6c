#include "support/fake_jvmti.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <stdexcept>

#include <boost/thread/lock_guard.hpp>

namespace kolvaprof::fake {

namespace {

FakeJvmti* activeFake = nullptr;

// Never shrinks: addresses stay unique for the whole test process.
std::deque<FakeClass>& allClasses() {
  static std::deque<FakeClass> classes;
  return classes;
}
std::deque<FakeMethod>& allMethods() {
  static std::deque<FakeMethod> methods;
  return methods;
}

using Guard = boost::lock_guard<boost::mutex>;

}  // namespace

// The function-table entries; a struct so that FakeJvmti can befriend them.
struct FakeFunctions {
  static FakeJvmti& fake() { return FakeJvmti::active(); }

  static jint JNICALL getEnv(JavaVM*, void** penv, jint version) {
    FakeJvmti& f = fake();
    Guard guard(f.lock);
    f.journal.push_back("GetEnv " + std::to_string(version));
    if (f.getEnvResult != JNI_OK) {
      *penv = nullptr;
      return f.getEnvResult;
    }
    *penv = &f.jvmtiEnvironment;
    return JNI_OK;
  }

  static jvmtiError JNICALL addCapabilities(jvmtiEnv*, const jvmtiCapabilities* caps) {
    FakeJvmti& f = fake();
    Guard guard(f.lock);
    f.journal.push_back("AddCapabilities");
    f.addedCapabilities.push_back(*caps);
    return f.addCapabilitiesResult;
  }

  static jvmtiError JNICALL setEventNotificationMode(jvmtiEnv*, jvmtiEventMode mode,
                                                     jvmtiEvent event, jthread thread, ...) {
    FakeJvmti& f = fake();
    Guard guard(f.lock);
    f.journal.push_back(std::string("SetEventNotificationMode ") +
           (mode == JVMTI_ENABLE ? "enable " : mode == JVMTI_DISABLE ? "disable " : "other ") +
           std::to_string(event) + (thread == nullptr ? " all" : " one"));
    f.eventModes.push_back({mode, event, thread});
    return JVMTI_ERROR_NONE;
  }

  static jvmtiError JNICALL setEventCallbacks(jvmtiEnv*, const jvmtiEventCallbacks* table,
                                              jint size) {
    FakeJvmti& f = fake();
    Guard guard(f.lock);
    f.journal.push_back(std::string("SetEventCallbacks ") + (table ? "table " : "null ") + std::to_string(size));
    FakeJvmti::CallbacksCall call{table != nullptr, {}, size};
    if (table != nullptr) {
      // Copy only what the caller says it passed.
      std::memcpy(&call.table, table,
                  std::min<std::size_t>(sizeof call.table, size < 0 ? 0 : std::size_t(size)));
    }
    f.callbacksCalls.push_back(call);
    return table != nullptr ? f.setEventCallbacksResult : JVMTI_ERROR_NONE;
  }

  static jvmtiError JNICALL getPotentialCapabilities(jvmtiEnv*, jvmtiCapabilities* caps) {
    FakeJvmti& f = fake();
    Guard guard(f.lock);
    f.journal.push_back("GetPotentialCapabilities");
    if (f.potentialCapabilitiesResult != JVMTI_ERROR_NONE) return f.potentialCapabilitiesResult;
    *caps = f.potentialCapabilities;
    return JVMTI_ERROR_NONE;
  }

  static jvmtiError JNICALL getJLocationFormat(jvmtiEnv*, jvmtiJlocationFormat* format) {
    FakeJvmti& f = fake();
    Guard guard(f.lock);
    f.journal.push_back("GetJLocationFormat");
    if (f.locationFormatResult != JVMTI_ERROR_NONE) return f.locationFormatResult;
    *format = f.locationFormat;
    return JVMTI_ERROR_NONE;
  }

  static jvmtiError JNICALL allocate(jvmtiEnv*, jlong size, unsigned char** mem) {
    FakeJvmti& f = fake();
    Guard guard(f.lock);
    *mem = f.allocate(size < 0 ? 0 : std::size_t(size));
    return JVMTI_ERROR_NONE;
  }

  static jvmtiError JNICALL deallocate(jvmtiEnv*, unsigned char* mem) {
    FakeJvmti& f = fake();
    Guard guard(f.lock);
    if (mem == nullptr) return JVMTI_ERROR_NONE;
    if (f.outstandingBuffers.erase(mem) == 0) {
      ++f.strayDeallocations;  // not ours or already freed: leave it alone
      return JVMTI_ERROR_ILLEGAL_ARGUMENT;
    }
    ++f.deallocations;
    std::free(mem);
    return JVMTI_ERROR_NONE;
  }

  static jvmtiError JNICALL getClassSignature(jvmtiEnv*, jclass klass, char** signature,
                                              char** generic) {
    FakeJvmti& f = fake();
    Guard guard(f.lock);
    const FakeClass& c = FakeJvmti::classOf(klass);
    if (c.failSignature) return JVMTI_ERROR_INVALID_CLASS;
    if (signature != nullptr) *signature = f.copyOut(c.signature);
    if (generic != nullptr) *generic = nullptr;
    return JVMTI_ERROR_NONE;
  }

  static jvmtiError JNICALL getClassMethods(jvmtiEnv*, jclass klass, jint* count,
                                            jmethodID** methods) {
    FakeJvmti& f = fake();
    if (f.onClassMethods) f.onClassMethods(klass);
    Guard guard(f.lock);
    FakeClass& c = FakeJvmti::classOf(klass);
    ++c.methodListings;
    if (c.failMethods) return JVMTI_ERROR_CLASS_NOT_PREPARED;
    *count = static_cast<jint>(c.methods.size());
    *methods = reinterpret_cast<jmethodID*>(f.allocate(sizeof(jmethodID) * c.methods.size()));
    if (!c.methods.empty()) {
      std::memcpy(*methods, c.methods.data(), sizeof(jmethodID) * c.methods.size());
    }
    return JVMTI_ERROR_NONE;
  }

  static jvmtiError JNICALL getMethodName(jvmtiEnv*, jmethodID method, char** name,
                                          char** signature, char** generic) {
    FakeJvmti& f = fake();
    Guard guard(f.lock);
    const FakeMethod& m = FakeJvmti::methodOf(method);
    if (m.failName) return JVMTI_ERROR_INVALID_METHODID;
    if (name != nullptr) *name = f.copyOut(m.name);
    if (signature != nullptr) *signature = f.copyOut(m.descriptor);
    if (generic != nullptr) *generic = nullptr;
    return JVMTI_ERROR_NONE;
  }

  static jvmtiError JNICALL getMethodModifiers(jvmtiEnv*, jmethodID method, jint* modifiers) {
    FakeJvmti& f = fake();
    Guard guard(f.lock);
    const FakeMethod& m = FakeJvmti::methodOf(method);
    if (m.failModifiers) return JVMTI_ERROR_INVALID_METHODID;
    *modifiers = m.modifiers;
    return JVMTI_ERROR_NONE;
  }

  static jvmtiError JNICALL getMethodDeclaringClass(jvmtiEnv*, jmethodID method, jclass* klass) {
    FakeJvmti& f = fake();
    Guard guard(f.lock);
    const FakeMethod& m = FakeJvmti::methodOf(method);
    if (m.failDeclaringClass) return JVMTI_ERROR_INVALID_METHODID;
    *klass = m.owner;
    return JVMTI_ERROR_NONE;
  }
};

FakeJvmti::FakeJvmti() {
  if (activeFake != nullptr) throw std::logic_error("only one FakeJvmti may be active");
  potentialCapabilities.can_get_line_numbers = 1;

  jvmtiFunctions.SetEventNotificationMode = &FakeFunctions::setEventNotificationMode;
  jvmtiFunctions.Allocate = &FakeFunctions::allocate;
  jvmtiFunctions.Deallocate = &FakeFunctions::deallocate;
  jvmtiFunctions.GetClassSignature = &FakeFunctions::getClassSignature;
  jvmtiFunctions.GetClassMethods = &FakeFunctions::getClassMethods;
  jvmtiFunctions.GetMethodName = &FakeFunctions::getMethodName;
  jvmtiFunctions.GetMethodDeclaringClass = &FakeFunctions::getMethodDeclaringClass;
  jvmtiFunctions.GetMethodModifiers = &FakeFunctions::getMethodModifiers;
  jvmtiFunctions.SetEventCallbacks = &FakeFunctions::setEventCallbacks;
  jvmtiFunctions.GetJLocationFormat = &FakeFunctions::getJLocationFormat;
  jvmtiFunctions.GetPotentialCapabilities = &FakeFunctions::getPotentialCapabilities;
  jvmtiFunctions.AddCapabilities = &FakeFunctions::addCapabilities;
  jvmtiEnvironment.functions = &jvmtiFunctions;

  invokeFunctions.GetEnv = &FakeFunctions::getEnv;
  javaVm.functions = &invokeFunctions;
  activeFake = this;
}

FakeJvmti::~FakeJvmti() {
  activeFake = nullptr;
  for (void* buffer : outstandingBuffers) std::free(buffer);
}

FakeJvmti& FakeJvmti::active() {
  if (activeFake == nullptr) std::abort();  // a JVMTI call outlived its fake
  return *activeFake;
}

jclass FakeJvmti::addClass(const std::string& signature) {
  allClasses().push_back(FakeClass{signature, {}, false, false, 0});
  return reinterpret_cast<jclass>(&allClasses().back());
}

jmethodID FakeJvmti::addMethod(jclass owner, const std::string& name,
                               const std::string& descriptor, jint modifiers) {
  allMethods().push_back(FakeMethod{owner, name, descriptor, modifiers, false, false, false});
  const jmethodID id = reinterpret_cast<jmethodID>(&allMethods().back());
  classOf(owner).methods.push_back(id);
  return id;
}

FakeClass& FakeJvmti::classOf(jclass klass) { return *reinterpret_cast<FakeClass*>(klass); }
FakeMethod& FakeJvmti::methodOf(jmethodID method) {
  return *reinterpret_cast<FakeMethod*>(method);
}

void FakeJvmti::clearJournal() {
  Guard guard(lock);
  journal.clear();
  addedCapabilities.clear();
  eventModes.clear();
  callbacksCalls.clear();
}

unsigned char* FakeJvmti::allocate(std::size_t size) {
  // Never a zero-sized request: every buffer handed out has its own address.
  auto* buffer = static_cast<unsigned char*>(std::malloc(size == 0 ? 1 : size));
  outstandingBuffers.insert(buffer);
  ++allocations;
  return buffer;
}

char* FakeJvmti::copyOut(const std::string& text) {
  char* buffer = reinterpret_cast<char*>(allocate(text.size() + 1));
  std::memcpy(buffer, text.c_str(), text.size() + 1);
  return buffer;
}

}  // namespace kolvaprof::fake
