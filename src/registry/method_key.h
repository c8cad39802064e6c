#pragma once

namespace kolvaprof {

// What a capture engine names a method by when it looks its record up (the
// VM's method ID, for the method events): chosen above, only compared here.
using MethodKey = const void*;

}  // namespace kolvaprof
