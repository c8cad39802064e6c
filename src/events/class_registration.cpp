// Reading a class's methods from the VM for the method registry.
#include <jvmti.h>

#include <iostream>

#include "capture/class_names.h"
#include "core/logging_agent.h"
#include "events/events_engine.h"
#include "events/mount_frame.h"
#include "events/suspend_window.h"
#include "capture/jvmti_buffer.h"
#include "output/console.h"
#include "registry/method_registry.h"

namespace kolvaprof {
namespace {

constexpr jint kStaticModifier = 0x0008;

// No class name holds a '.' but a hidden class's, which the VM writes as
// "Lpkg/Name.0x<address>;".
ClassDeclaration declarationFromSignature(const char* signature) {
  ClassDeclaration declaration;
  std::string name = signature;
  const std::size_t dot = name.find('.');
  declaration.hidden = dot != std::string::npos;
  if (declaration.hidden) name.erase(dot);
  declaration.dottedName = dottedNameFromSignature(name.c_str());
  return declaration;
}

}  // namespace

void EventsEngine::registerClass(jvmtiEnv* env, jclass klass) {
  JvmtiBuffer<char> signature(env);
  if (env->GetClassSignature(klass, signature.out(), nullptr) != JVMTI_ERROR_NONE ||
      signature.get() == nullptr) {
    return;
  }
  ClassDeclaration declaration = declarationFromSignature(signature.get());
  if (declaration.dottedName.empty()) return;  // nothing to register it under

  jint count = 0;
  JvmtiBuffer<jmethodID> methods(env);
  if (env->GetClassMethods(klass, &count, methods.out()) != JVMTI_ERROR_NONE) return;
  declaration.methods.assign(methods.get(), methods.get() + count);
  ClassRegistration registration = MethodRegistry::instance().beginClass(declaration);
  if (!registration) return;
  const std::string dottedName = registration.dottedName();
  if (core.verbose()) printMessage(&std::cout, "register class " + dottedName);

  for (jint i = 0; i < count; ++i) {
    const jmethodID method = methods[i];
    JvmtiBuffer<char> name(env);
    JvmtiBuffer<char> descriptor(env);
    jint modifiers = 0;
    if (env->GetMethodName(method, name.out(), descriptor.out(), nullptr) != JVMTI_ERROR_NONE ||
        name.get() == nullptr || descriptor.get() == nullptr ||
        env->GetMethodModifiers(method, &modifiers) != JVMTI_ERROR_NONE) {
      continue;  // no partial record for a method the VM would not describe
    }
    MountFrame::noteMethod(dottedName, method, name.get(), descriptor.get());
    SuspendWindow::noteMethod(dottedName, method, name.get(), descriptor.get());
    registration.add(
        MethodDeclaration{method, name.get(), descriptor.get(), (modifiers & kStaticModifier) != 0});
  }
}

}  // namespace kolvaprof
