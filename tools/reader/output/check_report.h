#pragma once

#include "reader/output/writer.h"

namespace kolvaprof::reader {

// The check report: per-file figures, calls still open at the end (listed,
// but not damage) and the problems found. Status 0 clean, 1 damaged.
int writeCheck(Run& run, Diagnostics& diagnostics, const WriterOptions& options, std::FILE* out);

}  // namespace kolvaprof::reader
