#pragma once

#include <string>
#include <string_view>

namespace kolvaprof {

// Thread names are free text from the program, but they are written between
// double quotes on a line of their own (`Thread N="..."`, `@thread N = "..."`),
// so a quote, a backslash or a control byte could end the name, the line or
// both early. Those bytes are written as `\"`, `\\`, `\n`, `\t`, `\r` and
// `\xHH` (two lowercase hex digits, for the other bytes below 0x20 and 0x7f);
// every other byte, UTF-8 included, is written as it is, so ordinary names
// read the same as before.
bool needsEscape(char c);
// The escape of one byte (`\"`, `\\`, `\n`, `\t`, `\r` or `\xHH`); `c` need
// not be one that needsEscape, so other formats can escape more bytes alike.
void appendEscapedByte(std::string& out, char c);
void appendEscapedName(std::string& out, std::string_view name);
std::string escapeName(std::string_view name);

// The name back. Lenient, because runs written before names were escaped
// still read: a backslash that starts no known escape stays as it is, and so
// does a stray quote.
std::string unescapeName(std::string_view text);

}  // namespace kolvaprof
