#pragma once

#include "reader/output/writer.h"

namespace kolvaprof::reader {

// Calls per thread, maximum depth, calls still open at the end and the
// `top` most-called methods (all with top 0); when the logs carry times, each
// thread's total and self time and the `top` methods by total time with
// their self time.
int writeSummary(Run& run, Diagnostics& diagnostics, const WriterOptions& options, std::FILE* out);

}  // namespace kolvaprof::reader
