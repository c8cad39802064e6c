#pragma once

#include <string>
#include <string_view>

namespace kolvaprof::reader {

// Names come as the VM gave them, in its modified UTF-8 (NUL as C0 80,
// supplementary characters as surrogate pairs) or any bytes at all; JSON and
// SVG need valid UTF-8. Each byte that does not start a valid sequence
// becomes U+FFFD.
std::string validUtf8(std::string_view text);

}  // namespace kolvaprof::reader
