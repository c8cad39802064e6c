#include "bytecode/hook_natives.h"

#include "bytecode/bytecode_engine.h"
#include "bytecode/hooks_class.h"
#include "capture/callback_gate.h"

namespace kolvaprof {
namespace {

// Like every callback, through the callback gate.
template <typename Work>
void forward(Work work) {
  throughCallbackGate([&] {
    if (BytecodeEngine* engine = BytecodeEngine::active()) work(*engine);
  });
}

void JNICALL enterHook(JNIEnv* jni, jclass, jint number, jobject receiver) {
  forward([&](BytecodeEngine& engine) { engine.enter(jni, number, receiver); });
}

void JNICALL enterInitHook(JNIEnv* jni, jclass, jint number) {
  forward([&](BytecodeEngine& engine) { engine.enterInit(jni, number); });
}

void JNICALL chainInitHook(JNIEnv* jni, jclass, jint key) {
  forward([&](BytecodeEngine& engine) { engine.chainInit(jni, key); });
}

void JNICALL bindInitHook(JNIEnv* jni, jclass, jobject self) {
  forward([&](BytecodeEngine& engine) { engine.bindInit(jni, self); });
}

void JNICALL exitHook(JNIEnv* jni, jclass, jint number) {
  forward([&](BytecodeEngine& engine) { engine.exit(jni, number); });
}

void JNICALL exitThrowHook(JNIEnv* jni, jclass, jthrowable exception, jint number) {
  forward([&](BytecodeEngine& engine) { engine.exitThrow(jni, exception, number); });
}

jlong JNICALL receiverNumberHook(JNIEnv* jni, jclass, jobject receiver) {
  jlong number = 0;
  forward([&](BytecodeEngine& engine) { number = engine.receiverNumber(jni, receiver); });
  return number;
}

void JNICALL enterNumberedHook(JNIEnv* jni, jclass, jint number, jlong receiver) {
  forward([&](BytecodeEngine& engine) { engine.enterNumbered(jni, number, receiver); });
}

void JNICALL leafHook(JNIEnv* jni, jclass, jint number, jobject receiver) {
  forward([&](BytecodeEngine& engine) { engine.leaf(jni, number, receiver); });
}

void JNICALL leafNumberedHook(JNIEnv* jni, jclass, jint number, jlong receiver) {
  forward([&](BytecodeEngine& engine) { engine.leafNumbered(jni, number, receiver); });
}

void JNICALL caughtHook(JNIEnv* jni, jclass, jthrowable exception, jint number) {
  forward([&](BytecodeEngine& engine) { engine.caught(jni, exception, number); });
}

JNINativeMethod native(classfile::Hook hook, void* function) {
  const classfile::HookSignature signature = classfile::hookSignature(hook);
  return JNINativeMethod{const_cast<char*>(signature.name),
                         const_cast<char*>(signature.descriptor), function};
}

}  // namespace

const JNINativeMethod* hookNatives() {
  static const JNINativeMethod natives[] = {
      native(classfile::Hook::Enter, reinterpret_cast<void*>(&enterHook)),
      native(classfile::Hook::EnterInit, reinterpret_cast<void*>(&enterInitHook)),
      native(classfile::Hook::ChainInit, reinterpret_cast<void*>(&chainInitHook)),
      native(classfile::Hook::BindInit, reinterpret_cast<void*>(&bindInitHook)),
      native(classfile::Hook::Exit, reinterpret_cast<void*>(&exitHook)),
      native(classfile::Hook::ExitThrow, reinterpret_cast<void*>(&exitThrowHook)),
      native(classfile::Hook::ReceiverNumber, reinterpret_cast<void*>(&receiverNumberHook)),
      native(classfile::Hook::EnterNumbered, reinterpret_cast<void*>(&enterNumberedHook)),
      native(classfile::Hook::Caught, reinterpret_cast<void*>(&caughtHook)),
      native(classfile::Hook::Leaf, reinterpret_cast<void*>(&leafHook)),
      native(classfile::Hook::LeafNumbered, reinterpret_cast<void*>(&leafNumberedHook)),
  };
  return natives;
}

}  // namespace kolvaprof
