// Reading a class's methods from the VM for the method registry.
#include <iostream>

#include "agent/jvmti_buffer.h"
#include "agent/jvmti_logging_agent.h"
#include "output/console.h"
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

  ClassRegistration registration = MethodRegistry::instance().beginClass(dottedName);
  if (!registration) return;
  if (verbose()) printMessage(&std::cout, "register class " + dottedName);

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
    registration.add(
        MethodDeclaration{method, name.get(), signature.get(), (modifiers & kStaticModifier) != 0});
  }
}

}  // namespace kolvaprof
