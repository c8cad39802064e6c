#pragma once

#include <ostream>
#include <string>

namespace kolvaprof {

// Every console line of the agent goes out as "profiler> " + text + line feed,
// in one write followed by a flush, so lines of different threads never mix.
void printMessage(std::ostream* stream, const std::string& text);

}  // namespace kolvaprof
