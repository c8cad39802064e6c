#include "reader/input/progress.h"

#include <fmt/format.h>
#include <unistd.h>

namespace kolvaprof::reader {

namespace {
constexpr std::uint64_t kBarThreshold = 50ull << 20;
constexpr int kWidth = 40;
}  // namespace

bool ProgressBar::wanted(std::FILE* err, std::uint64_t totalBytes) {
  return totalBytes > kBarThreshold && isatty(fileno(err));
}

ProgressBar::ProgressBar(std::FILE* err, std::uint64_t total, bool enabled, std::string label)
    : err(err), total(total), enabled(enabled && total > 0), label(std::move(label)) {}

ProgressBar::~ProgressBar() {
  if (!enabled) return;
  done = total;
  draw();
  std::fputc('\n', err);
}

void ProgressBar::advance(std::uint64_t bytes) {
  done += bytes;
  if (!enabled) return;
  const auto now = std::chrono::steady_clock::now();
  if (now - lastDraw < std::chrono::milliseconds(100)) return;
  lastDraw = now;
  draw();
}

void ProgressBar::draw() {
  const double fraction = done >= total ? 1.0 : static_cast<double>(done) / static_cast<double>(total);
  const int filled = static_cast<int>(fraction * kWidth);
  fmt::print(err, "\r{} [{:#<{}}{:.<{}}] {:3.0f}% {}/{} MB", label, "", filled, "", kWidth - filled,
             fraction * 100, done >> 20, total >> 20);
  std::fflush(err);
}

}  // namespace kolvaprof::reader
