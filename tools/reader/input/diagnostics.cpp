#include "reader/input/diagnostics.h"

#include <fmt/format.h>

#include "reader/input/utf8.h"

namespace kolvaprof::reader {

std::string quoted(std::string_view text) {
  constexpr std::size_t kShown = 60;
  std::string shown = validUtf8(text.substr(0, kShown));
  for (char& c : shown)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
  return "\"" + shown + (text.size() > kShown ? "...\"" : "\"");
}

std::string counted(std::uint64_t count, std::string_view noun) {
  return fmt::format("{} {}{}", count, noun, count == 1 ? "" : "s");
}

std::string Position::describe() const {
  if (line > 0) return fmt::format("{}:{}", file, line);
  return fmt::format("{} record {} (byte {})", file, record, byteOffset);
}

const char* problemName(Problem problem) {
  switch (problem) {
    case Problem::MissingIndex: return "missing Index.dat";
    case Problem::IndexLine: return "bad Index.dat line";
    case Problem::UnreadableFile: return "unreadable file";
    case Problem::TruncatedRecord: return "truncated record";
    case Problem::IncompleteLine: return "incomplete last line";
    case Problem::StrayLine: return "stray line";
    case Problem::UnknownMethod: return "unknown method number";
    case Problem::UnknownThread: return "unknown thread number";
    case Problem::NonZeroExitWords: return "exit record with non-zero words";
    case Problem::DepthMismatch: return "depth mismatch";
    case Problem::UnbalancedExit: return "unbalanced exit";
    case Problem::TooDeep: return "call deeper than the reader follows";
    case Problem::TimeBackwards: return "time going back";
    case Problem::DamagedBlock: return "damaged compact block";
    case Problem::OpenAtThreadEnd: return "calls left open by a thread that ended";
  }
  return "problem";
}

void Diagnostics::report(Problem problem, const Position& where, const std::string& detail) {
  Kind& kind = kinds[static_cast<std::size_t>(problem)];
  if (!muted && kind.samples.size() < kSamplesPerKind) kind.samples.push_back(where.describe() + ": " + detail);
  ++kind.count;
}

void Diagnostics::report(Problem problem, const std::string& text) {
  Kind& kind = kinds[static_cast<std::size_t>(problem)];
  if (!muted && kind.samples.size() < kSamplesPerKind) kind.samples.push_back(text);
  ++kind.count;
}

std::uint64_t Diagnostics::total() const {
  std::uint64_t sum = 0;
  for (const Kind& kind : kinds) sum += kind.count;
  return sum;
}

void Diagnostics::printReport(std::FILE* out, const char* indent) const {
  for (std::size_t i = 0; i < kProblemKinds; ++i) {
    const Kind& kind = kinds[i];
    if (kind.count == 0) continue;
    fmt::print(out, "{}{}: {}\n", indent, problemName(static_cast<Problem>(i)), kind.count);
    for (const std::string& sample : kind.samples) fmt::print(out, "{}  {}\n", indent, sample);
    if (kind.count > kind.samples.size() && !kind.samples.empty())
      fmt::print(out, "{}  ... and {} more\n", indent, kind.count - kind.samples.size());
  }
}

void Diagnostics::printWarnings(std::FILE* err) const {
  for (std::size_t i = 0; i < kProblemKinds; ++i) {
    const Kind& kind = kinds[i];
    if (kind.count == 0 || kind.samples.empty()) continue;
    fmt::print(err, "kolvaprof-read: warning: {} x {}, first: {}\n", kind.count,
               problemName(static_cast<Problem>(i)), kind.samples.front());
  }
}

}  // namespace kolvaprof::reader
