#include "reader/index_file_parser.h"

#include <fmt/format.h>

#include <cstdio>
#include <limits>
#include <memory>

#include "reader/diagnostics.h"

namespace kolvaprof::reader {

std::optional<std::int64_t> parseNumber(std::string_view text, bool allowMinus) {
  bool negative = false;
  if (allowMinus && !text.empty() && text.front() == '-') {
    negative = true;
    text.remove_prefix(1);
  }
  if (text.empty() || text.size() > 19) return std::nullopt;
  std::uint64_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
  }
  if (value > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) return std::nullopt;
  const auto signedValue = static_cast<std::int64_t>(value);
  return negative ? -signedValue : signedValue;
}

void IndexFileParser::feed(std::string_view data) {
  splitter.feed(data, [this](const LineSplitter::Line& l) { line(l); });
}

void IndexFileParser::finish() {
  splitter.finish([this](const LineSplitter::Line& l) { line(l); });
}

void IndexFileParser::line(const LineSplitter::Line& l) {
  const Position where{fileName, 0, l.number, l.offset};
  if (!l.complete && !l.tooLong)
    diagnostics.report(Problem::IndexLine, where, "incomplete last line " + quoted(l.text));
  std::string_view text = l.text;
  const bool isMethod = text.rfind("Method ", 0) == 0;
  const bool isThread = text.rfind("Thread ", 0) == 0;
  const std::size_t equals = text.find('=');
  std::optional<std::int64_t> number;
  if ((isMethod || isThread) && equals != std::string_view::npos) number = parseNumber(text.substr(7, equals - 7));
  if (!number || *number > std::numeric_limits<std::int32_t>::max() || l.tooLong) {
    diagnostics.report(Problem::IndexLine, where, "not a Method or Thread line: " + quoted(text));
    return;
  }
  const auto key = static_cast<std::int32_t>(*number);
  const std::string_view value = text.substr(equals + 1);
  if (isThread) {
    if (value.size() < 2 || value.front() != '"' || value.back() != '"') {
      diagnostics.report(Problem::IndexLine, where, "malformed Thread line: " + quoted(text));
      return;
    }
    if (!index.threads.emplace(key, std::string(value.substr(1, value.size() - 2))).second)
      diagnostics.report(Problem::IndexLine, where, fmt::format("thread {} named twice", key));
    return;
  }
  std::optional<MethodName> method = parseMethodDeclaration(value);
  if (!method || key == 0) {
    diagnostics.report(Problem::IndexLine, where, "malformed Method line: " + quoted(text));
    return;
  }
  if (!index.methods.emplace(key, std::move(*method)).second)
    diagnostics.report(Problem::IndexLine, where, fmt::format("method {} named twice", key));
}

Index readIndexFile(const std::string& path, Diagnostics& diagnostics) {
  Index index;
  const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"), &std::fclose);
  if (!file) {
    diagnostics.report(Problem::MissingIndex,
                       "Index.dat is missing or unreadable: methods are shown by number");
    return index;
  }
  index.present = true;
  IndexFileParser parser(index, "Index.dat", diagnostics);
  std::string buffer(1 << 16, '\0');
  std::size_t got;
  while ((got = std::fread(buffer.data(), 1, buffer.size(), file.get())) > 0) parser.feed({buffer.data(), got});
  parser.finish();
  return index;
}

}  // namespace kolvaprof::reader
