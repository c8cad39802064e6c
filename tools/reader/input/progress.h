#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

namespace kolvaprof::reader {

// A bar on standard error for long reads, redrawn at most ten times a second;
// silent when disabled (stderr not a terminal, or a small run).
class ProgressBar {
 public:
  ProgressBar(std::FILE* err, std::uint64_t total, bool enabled, std::string label);
  ~ProgressBar();
  ProgressBar(const ProgressBar&) = delete;
  ProgressBar& operator=(const ProgressBar&) = delete;

  void advance(std::uint64_t bytes);

  // Whether a run of this many bytes deserves a bar on this stream.
  static bool wanted(std::FILE* err, std::uint64_t totalBytes);

 private:
  void draw();

  std::FILE* err;
  std::uint64_t total;
  std::uint64_t done = 0;
  bool enabled;
  std::string label;
  std::chrono::steady_clock::time_point lastDraw;
};

}  // namespace kolvaprof::reader
