// A JNI library the attach tests' Java program loads: the bytecodes of a
// method as the VM runs them now, so that a test sees hooks go in and out.
#include <jvmti.h>

namespace {

jvmtiEnv* probeEnvironment(JNIEnv* jni) {
  static jvmtiEnv* jvmti = nullptr;
  if (jvmti != nullptr) return jvmti;
  JavaVM* vm = nullptr;
  void* env = nullptr;
  if (jni->GetJavaVM(&vm) != JNI_OK || vm->GetEnv(&env, JVMTI_VERSION_1_2) != JNI_OK) return nullptr;
  jvmtiCapabilities capabilities{};
  capabilities.can_get_bytecodes = 1;
  auto* made = static_cast<jvmtiEnv*>(env);
  if (made->AddCapabilities(&capabilities) != JVMTI_ERROR_NONE) return nullptr;
  jvmti = made;
  return jvmti;
}

}  // namespace

extern "C" JNIEXPORT jbyteArray JNICALL Java_itest_Attachable_bytecodes(JNIEnv* jni, jclass,
                                                                       jobject method) {
  jvmtiEnv* jvmti = probeEnvironment(jni);
  if (jvmti == nullptr) return jni->NewByteArray(0);
  jint count = 0;
  unsigned char* bytes = nullptr;
  if (jvmti->GetBytecodes(jni->FromReflectedMethod(method), &count, &bytes) != JVMTI_ERROR_NONE) {
    return jni->NewByteArray(0);
  }
  jbyteArray copy = jni->NewByteArray(count);
  if (copy != nullptr) jni->SetByteArrayRegion(copy, 0, count, reinterpret_cast<jbyte*>(bytes));
  jvmti->Deallocate(bytes);
  return copy;
}
