#pragma once

#include <cstdio>
#include <string>

namespace kolvaprof::reader {

class CallTree;

struct FlamegraphOptions {
  std::string title = "Calls";
  int width = 1200;
};

// A self-contained SVG flame graph (no scripts, no fonts to load): one box
// per stack, as wide as the calls made at that stack and below it, callers
// under callees, each box with a tooltip. `tree` gets its totals computed.
void writeFlamegraph(CallTree& tree, const FlamegraphOptions& options, std::FILE* out);

}  // namespace kolvaprof::reader
