#include <iostream>

#include <boost/thread/lock_guard.hpp>

#include "agent/jvmti_buffer.h"
#include "agent/jvmti_logging_agent.h"
#include "core/console.h"
#include "registry/method_registry.h"

namespace kolvaprof {
namespace {

constexpr jint kStaticModifier = 0x0008;

}  // namespace

std::string dottedNameFromSignature(const char* signature) {
  if (signature == nullptr) return std::string();
  if (*signature == 'L') ++signature;
  std::string name;
  for (; *signature != '\0' && *signature != ';'; ++signature) {
    name.push_back(*signature == '/' ? '.' : *signature);
  }
  return name;
}

std::string CJVMTILoggingAgent::getDottedClassName(jvmtiEnv* env, jclass klass) {
  JvmtiBuffer<char> signature(env);
  if (env->GetClassSignature(klass, signature.out(), nullptr) != JVMTI_ERROR_NONE) {
    return std::string();
  }
  return dottedNameFromSignature(signature.get());
}

void CJVMTILoggingAgent::registerClass(jvmtiEnv* env, jclass klass) {
  const std::string dottedName = getDottedClassName(env, klass);
  if (dottedName.empty()) return;  // no signature: nothing to register it under

  // One registrant per class; a thread that comes second waits here until the
  // records of the first are all stored, and then finds them.
  boost::lock_guard<boost::mutex> guard(MethodRegistry::instance().registrationLock());
  if (isClassRegistered(dottedName)) return;
  markClassRegistered(dottedName);
  if (verbose()) printMessage(&std::cout, "register class " + dottedName);

  const std::size_t dot = dottedName.rfind('.');
  const std::string packageName = dot == std::string::npos ? "" : dottedName.substr(0, dot);
  const std::string className = dot == std::string::npos ? dottedName : dottedName.substr(dot + 1);

  jint count = 0;
  JvmtiBuffer<jmethodID> methods(env);
  if (env->GetClassMethods(klass, &count, methods.out()) != JVMTI_ERROR_NONE) return;
  for (jint i = 0; i < count; ++i) {
    const jmethodID method = methods[i];
    JvmtiBuffer<char> name(env);
    JvmtiBuffer<char> signature(env);
    jint modifiers = 0;
    if (env->GetMethodName(method, name.out(), signature.out(), nullptr) != JVMTI_ERROR_NONE ||
        name.get() == nullptr || signature.get() == nullptr ||
        env->GetMethodModifiers(method, &modifiers) != JVMTI_ERROR_NONE) {
      continue;  // no partial record for a method the VM would not describe
    }
    const bool excluded = evaluateFilters(packageName, className, name.get());
    addMethod(method, packageName, className, name.get(), signature.get(), excluded);
    if ((modifiers & kStaticModifier) != 0) staticMethods.insert(method, true);
  }
}

}  // namespace kolvaprof
