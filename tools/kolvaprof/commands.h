#pragma once

#include <cstdio>

#include "kolvaprof/command_line.h"

namespace kolvaprof::command {

// The whole tool: parses the command line, runs the command and returns the
// exit status (run: the program's; otherwise 0, 1 for an error, 2 for a
// command line that cannot be understood).
int runCommand(int argc, const char* const* argv);

}  // namespace kolvaprof::command
