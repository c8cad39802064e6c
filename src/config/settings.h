#pragma once

#include <string>

namespace kolvaprof {

inline constexpr std::size_t kMaxSettingsLineLength = 255;

// Strips space, tab, line feed, vertical tab, form feed and carriage return
// from both ends.
std::string trimWhitespace(const std::string& text);

}  // namespace kolvaprof
