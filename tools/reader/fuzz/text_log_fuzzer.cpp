// Text logs of any bytes, fed in two pieces cut where the first byte says.

#include <cstdint>
#include <string_view>

#include "reader/fuzz/fuzz_support.h"
#include "reader/input/index_file_parser.h"
#include "reader/input/run_directory.h"
#include "reader/input/text_log_parser.h"

using namespace kolvaprof::reader;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
  const Index index;
  Diagnostics diagnostics;
  FrameTable frames(&index);
  fuzz::AllOutputs outputs(frames);
  CallStream stream(frames, index, diagnostics, outputs);
  const LogFileInfo file{0, "main.log", "", text.size()};
  stream.beginFile(file);
  TextLogParser parser(file, stream, diagnostics);
  const std::size_t cut = data[0] % (text.size() + 1);
  parser.feed(text.substr(0, cut));
  parser.feed(text.substr(cut));
  parser.finish();
  stream.endFile(file);
  stream.finish();
  diagnostics.printReport(fuzz::devNull(), "");
  return 0;
}
