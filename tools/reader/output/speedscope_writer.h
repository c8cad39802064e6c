#pragma once

#include "reader/output/writer.h"

namespace kolvaprof::reader {

// A speedscope file: one "evented" profile per thread, "at" counting the
// thread's events (unit "none"), every call still open at the end closed
// there, and the frames shared. A profile's events must be contiguous, so
// after one pass that finds the threads each thread gets its own pass over
// the files it appears in: memory stays flat, and with per-thread files
// every file is read twice.
int writeSpeedscope(Run& run, Diagnostics& diagnostics, const WriterOptions& options, std::FILE* out);

}  // namespace kolvaprof::reader
