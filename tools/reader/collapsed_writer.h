#pragma once

#include <cstdio>

namespace kolvaprof::reader {

class CallTree;

// Folded stacks, one line per stack that made calls: "a;b;c 12", where 12 is
// the number of calls made with exactly that stack (each call counted once,
// at its own stack). Lines come in depth-first order, siblings by name.
void writeCollapsed(const CallTree& tree, std::FILE* out);

}  // namespace kolvaprof::reader
