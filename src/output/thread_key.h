#pragma once

namespace kolvaprof {

// What tells the threads of the traced program apart: chosen by the capture
// engine (the JNIEnv pointer of a platform thread, for instance), only
// compared below it.
using ThreadKey = const void*;

}  // namespace kolvaprof
