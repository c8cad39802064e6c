#pragma once

#include <cstdio>

namespace kolvaprof::reader {

// The whole command line tool. Exit status: 0 done (check: clean), 1 check
// found damage, 2 the run could not be read or the command line is wrong.
int runCli(int argc, const char* const* argv, std::FILE* out, std::FILE* err);

}  // namespace kolvaprof::reader
