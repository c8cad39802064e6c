#include "format/name_escape.h"

namespace kolvaprof {
namespace {

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

bool needsEscape(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return c == '"' || c == '\\' || byte < 0x20 || byte == 0x7f;
}

void appendEscapedByte(std::string& out, char c) {
  out.push_back('\\');
  switch (c) {
    case '"': out.push_back('"'); return;
    case '\\': out.push_back('\\'); return;
    case '\n': out.push_back('n'); return;
    case '\t': out.push_back('t'); return;
    case '\r': out.push_back('r'); return;
    default: break;
  }
  constexpr char kDigits[] = "0123456789abcdef";
  const auto byte = static_cast<unsigned char>(c);
  out.push_back('x');
  out.push_back(kDigits[byte >> 4]);
  out.push_back(kDigits[byte & 0xf]);
}

void appendEscapedName(std::string& out, std::string_view name) {
  for (const char c : name) {
    if (needsEscape(c)) appendEscapedByte(out, c);
    else out.push_back(c);
  }
}

std::string escapeName(std::string_view name) {
  std::string out;
  appendEscapedName(out, name);
  return out;
}

std::string unescapeName(std::string_view text) {
  std::string name;
  name.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    const char next = i + 1 < text.size() ? text[i + 1] : '\0';
    if (c != '\\' || i + 1 == text.size()) {
      name.push_back(c);
      continue;
    }
    switch (next) {
      case '"': case '\\': name.push_back(next); ++i; continue;
      case 'n': name.push_back('\n'); ++i; continue;
      case 't': name.push_back('\t'); ++i; continue;
      case 'r': name.push_back('\r'); ++i; continue;
      default: break;
    }
    const int high = next == 'x' && i + 3 < text.size() ? hexValue(text[i + 2]) : -1;
    const int low = high >= 0 ? hexValue(text[i + 3]) : -1;
    if (low >= 0) {
      name.push_back(static_cast<char>(high << 4 | low));
      i += 3;
    } else {
      name.push_back(c);
    }
  }
  return name;
}

}  // namespace kolvaprof
