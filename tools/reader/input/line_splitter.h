#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace kolvaprof::reader {

// Cuts a stream of bytes, fed in pieces of any size, into lines. A line never
// costs more than kMaxLine bytes of memory: the rest of a longer one (a
// garbage file without line feeds) is skipped and the line is flagged.
class LineSplitter {
 public:
  static constexpr std::size_t kMaxLine = 1 << 16;

  struct Line {
    std::string_view text;  // without the line feed
    std::uint64_t number;   // 1-based
    std::uint64_t offset;   // of its first byte
    bool complete;          // ended by a line feed
    bool tooLong;           // cut at kMaxLine bytes
  };

  template <class OnLine>
  void feed(std::string_view data, OnLine&& onLine) {
    while (!data.empty()) {
      const void* found = std::memchr(data.data(), '\n', data.size());
      const std::size_t length =
          found ? static_cast<std::size_t>(static_cast<const char*>(found) - data.data()) : data.size();
      if (!skipping && pending.empty() && found) {
        onLine(Line{data.substr(0, length), ++lines, consumed, true, false});
      } else if (!skipping) {
        const std::size_t room = kMaxLine - pending.size();
        pending.append(data.substr(0, length < room ? length : room));
        if (length >= room && pending.size() == kMaxLine) {
          onLine(Line{pending, ++lines, lineStart, false, true});
          pending.clear();
          skipping = !found;
        } else if (found) {
          onLine(Line{pending, ++lines, lineStart, true, false});
          pending.clear();
        }
      } else if (found) {
        skipping = false;
      }
      const std::size_t used = length + (found ? 1 : 0);
      consumed += used;
      data.remove_prefix(used);
      if (found || (!skipping && pending.empty())) lineStart = consumed;
    }
  }

  // The bytes after the last line feed, if any, as an incomplete line.
  template <class OnLine>
  void finish(OnLine&& onLine) {
    if (!pending.empty()) onLine(Line{pending, ++lines, lineStart, false, false});
    pending.clear();
    skipping = false;
  }

  std::uint64_t bytesConsumed() const { return consumed; }

 private:
  std::string pending;
  std::uint64_t lines = 0;
  std::uint64_t consumed = 0;
  std::uint64_t lineStart = 0;
  bool skipping = false;
};

}  // namespace kolvaprof::reader
