#include "output/console.h"

namespace kolvaprof {

void printMessage(std::ostream* stream, const std::string& text) {
  if (stream == nullptr) return;
  std::string line;
  line.reserve(text.size() + 11);
  line.append("profiler> ").append(text).push_back('\n');
  stream->write(line.data(), static_cast<std::streamsize>(line.size()));
  stream->flush();
}

}  // namespace kolvaprof
