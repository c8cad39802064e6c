#include "capture/class_names.h"

#include "capture/jvmti_buffer.h"

namespace kolvaprof {

std::string dottedNameFromSignature(const char* signature) {
  if (signature == nullptr) return std::string();
  if (*signature == 'L') ++signature;
  std::string name;
  for (; *signature != '\0' && *signature != ';'; ++signature) {
    name.push_back(*signature == '/' ? '.' : *signature);
  }
  return name;
}

std::string dottedClassName(jvmtiEnv* env, jclass klass) {
  JvmtiBuffer<char> signature(env);
  if (env->GetClassSignature(klass, signature.out(), nullptr) != JVMTI_ERROR_NONE) {
    return std::string();
  }
  return dottedNameFromSignature(signature.get());
}

std::string objectClassName(jvmtiEnv* env, JNIEnv* jni, jobject object) {
  if (object == nullptr) return std::string();
  jclass klass = jni->GetObjectClass(object);
  if (klass == nullptr) return std::string();
  std::string name = dottedClassName(env, klass);
  jni->DeleteLocalRef(klass);
  return name;
}

}  // namespace kolvaprof
