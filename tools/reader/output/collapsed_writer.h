#pragma once

#include <cstdio>

#include "reader/output/writer.h"

namespace kolvaprof::reader {

class CallTree;

// Folded stacks, one line per stack that made calls: "a;b;c 12", where 12 is
// the number of calls made with exactly that stack (each call counted once,
// at its own stack), or, for a tree weighing self time, the nanoseconds
// spent in exactly that stack. Lines come in depth-first order, siblings by
// name.
// Frames are escaped as Index.dat escapes thread names, and ";" as "\x3b".
void writeCollapsedTree(const CallTree& tree, std::FILE* out);

// The run's call tree, folded.
int writeCollapsed(Run& run, Diagnostics& diagnostics, const WriterOptions& options, std::FILE* out);

}  // namespace kolvaprof::reader
