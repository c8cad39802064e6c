#pragma once

#include <jvmti.h>

namespace kolvaprof {

// Owns one buffer that a JVMTI function allocated and gives it back with
// Deallocate, whatever path leaves the scope.
template <typename T>
class JvmtiBuffer {
 public:
  explicit JvmtiBuffer(jvmtiEnv* env) : env(env) {}
  ~JvmtiBuffer() {
    if (pointer != nullptr) env->Deallocate(reinterpret_cast<unsigned char*>(pointer));
  }
  JvmtiBuffer(const JvmtiBuffer&) = delete;
  JvmtiBuffer& operator=(const JvmtiBuffer&) = delete;

  T** out() { return &pointer; }
  T* get() const { return pointer; }
  T& operator[](long index) const { return pointer[index]; }

 private:
  jvmtiEnv* env;
  T* pointer = nullptr;
};

}  // namespace kolvaprof
