#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

namespace kolvaprof::reader {

class Diagnostics;
class Run;

// What the command line asks of an output; each writer reads what it needs.
struct WriterOptions {
  std::string runName;          // "20261207153012" for "logs/20261207153012/"
  std::string outputDirectory;  // text -o: files go there instead of to `out`
  std::size_t top = 10;         // summary: the most-called methods, 0 for all
  bool byThread = false;        // collapsed, flamegraph: one root per thread
  bool selfTime = false;        // collapsed, flamegraph: weigh stacks by self time, not calls
  std::string title;            // flamegraph: "" for "Calls in <run>"
  int width = 1200;             // flamegraph
  bool allThreads = false;      // summary: every thread, not only the top ones
  // speedscope, chrome, collapsed, flamegraph: calls deeper than this are
  // left out (folded into their ancestor at this depth where weights are
  // added up); 0 for no limit.
  std::size_t maxDepth = 0;
  double minShare = 0;          // collapsed, flamegraph: percent of the total below which a stack is folded
  bool commonStart = false;     // speedscope: every profile starts at the start of the run
  bool merge = false;           // text: one stream of every log, in time order
};

// The shape of every output: it reads the run (as often as it needs),
// problems going to `diagnostics`, writes to `out` and returns the exit
// status. Throws ReaderError when the output cannot be written.
using Writer = int (*)(Run& run, Diagnostics& diagnostics, const WriterOptions& options, std::FILE* out);

}  // namespace kolvaprof::reader
