#pragma once

#include <jvmti.h>

#include <string>

namespace kolvaprof {

// "Lpkg/Name;" to "pkg.Name": the text between a leading 'L' and the first
// ';', with '/' turned into '.'.
std::string dottedNameFromSignature(const char* signature);

// The class's name as records give it; empty when the VM gives no signature.
std::string dottedClassName(jvmtiEnv* env, jclass klass);
// The name of the object's class (an exception's, a receiver's); empty for
// null.
std::string objectClassName(jvmtiEnv* env, JNIEnv* jni, jobject object);

}  // namespace kolvaprof
