#pragma once

namespace kolvaprof {

// Whole-string match in which '*' stands for any run of characters (the empty
// one included) and every other character stands for itself.
bool wildcardMatch(const char* pattern, const char* text);

}  // namespace kolvaprof
