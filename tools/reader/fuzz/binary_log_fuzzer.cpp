// Binary logs of any bytes, under the layout that the first byte picks, fed
// in two pieces cut where the first byte says.

#include <cstdint>
#include <string_view>

#include "reader/fuzz/fuzz_support.h"
#include "reader/input/binary_log_parser.h"
#include "reader/input/index_file_parser.h"
#include "reader/input/layout_detection.h"
#include "reader/input/run_directory.h"

using namespace kolvaprof::reader;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::uint8_t control = data[0];
  const std::string_view bytes(reinterpret_cast<const char*>(data + 1), size - 1);
  const kolvaprof::RecordLayout layout{(control & 1) != 0, (control & 2) != 0, (control & 4) != 0};

  Index index;
  index.present = true;
  index.methods.emplace(1, MethodName{"void", "", "Main", "main", "java.lang.String[]"});
  index.methods.emplace(2, MethodName{"int", "a.b", "C$1", "<init>", "int,a.D[]"});
  index.threads.emplace(0, "main");
  index.threads.emplace(1, "w\xC0\x80rker\"<&>");
  fitLayout(layout, bytes, bytes.size(), index);

  Diagnostics diagnostics;
  FrameTable frames(&index);
  fuzz::AllOutputs outputs(frames);
  CallStream stream(frames, index, diagnostics, outputs);
  const LogFileInfo file{0, "main.log", "", bytes.size()};
  stream.beginFile(file);
  BinaryLogParser parser(file, layout, stream, diagnostics);
  const std::size_t cut = (control >> 2) % (bytes.size() + 1);
  parser.feed(bytes.substr(0, cut));
  parser.feed(bytes.substr(cut));
  parser.finish();
  stream.endFile(file);
  stream.finish();
  diagnostics.printReport(fuzz::devNull(), "");
  return 0;
}
