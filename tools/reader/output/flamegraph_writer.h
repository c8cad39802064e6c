#pragma once

#include <cstdio>
#include <string>

#include "reader/output/writer.h"

namespace kolvaprof::reader {

class CallTree;

struct FlamegraphOptions {
  std::string title = "Calls";
  int width = 1200;
};

// A self-contained SVG flame graph (no scripts, no fonts to load): one box
// per stack, as wide as the calls made (or the self time spent, as the tree
// weighs) at that stack and below it, callers under callees, each box with a
// tooltip. `tree` gets its totals computed.
void writeFlamegraphTree(CallTree& tree, const FlamegraphOptions& options, std::FILE* out);

// The run's call tree as a flame graph, titled "Calls in <run>" ("Self time
// in <run>" by self time) unless options.title says otherwise.
int writeFlamegraph(Run& run, Diagnostics& diagnostics, const WriterOptions& options, std::FILE* out);

}  // namespace kolvaprof::reader
