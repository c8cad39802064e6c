#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace kolvaprof::reader {

// A run that cannot be read at all; main() prints it and exits with 2.
struct ReaderError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// A piece of input shown in a message: at most 60 bytes, control bytes as "?".
std::string quoted(std::string_view text);

// "1 call", "2 calls": every noun counted in the reader's messages takes a
// plain "s".
std::string counted(std::uint64_t count, std::string_view noun);

// Where something was found: a record of a binary log (index and byte
// offset) or a line of a text file.
struct Position {
  std::string_view file;
  std::uint64_t record = 0;  // 0-based, binary logs
  std::uint64_t line = 0;    // 1-based, text files; 0 for binary logs
  std::uint64_t byteOffset = 0;

  std::string describe() const;
};

enum class Problem {
  MissingIndex,
  IndexLine,
  UnreadableFile,
  TruncatedRecord,
  IncompleteLine,
  StrayLine,
  UnknownMethod,
  UnknownThread,
  NonZeroExitWords,
  DepthMismatch,
  UnbalancedExit,
  TooDeep,
  TimeBackwards,
  DamagedBlock,
  OpenAtThreadEnd,
};
inline constexpr std::size_t kProblemKinds = static_cast<std::size_t>(Problem::OpenAtThreadEnd) + 1;

const char* problemName(Problem problem);

// Counts every problem and keeps the first few places of each kind, so that
// a damaged trace of any size costs a bounded amount of memory.
class Diagnostics {
 public:
  static constexpr std::size_t kSamplesPerKind = 5;

  explicit Diagnostics(bool muted = false) : muted(muted) {}

  void report(Problem problem, const Position& where, const std::string& detail);
  void report(Problem problem, const std::string& text);

  std::uint64_t count(Problem problem) const { return kinds[static_cast<std::size_t>(problem)].count; }
  std::uint64_t total() const;
  bool clean() const { return total() == 0; }

  // Every kind found, its count and its first places, one per line.
  void printReport(std::FILE* out, const char* indent) const;
  // One warning line per kind found, for the commands other than check.
  void printWarnings(std::FILE* err) const;

 private:
  struct Kind {
    std::uint64_t count = 0;
    std::vector<std::string> samples;
  };
  std::array<Kind, kProblemKinds> kinds;
  bool muted;
};

}  // namespace kolvaprof::reader
