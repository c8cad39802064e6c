// Index.dat of any bytes, then a fixed binary log read against what it named.

#include <cstdint>
#include <string_view>

#include "reader/fuzz/fuzz_support.h"
#include "reader/input/binary_log_parser.h"
#include "reader/input/index_file_parser.h"
#include "reader/input/run_directory.h"

using namespace kolvaprof::reader;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  Index index;
  index.present = true;
  Diagnostics diagnostics;
  IndexFileParser indexParser(index, "Index.dat", diagnostics);
  indexParser.feed(text.substr(0, size / 2));
  indexParser.feed(text.substr(size / 2));
  indexParser.finish();

  // Methods 1 to 3 on thread 0, nested, in 16-byte records with thread numbers.
  static const unsigned char kRecords[] = {1, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0,
                                           2, 0, 0, 0, 7, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0,
                                           0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0,
                                           3, 0, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0};
  FrameTable frames(&index);
  fuzz::AllOutputs outputs(frames);
  CallStream stream(frames, index, diagnostics, outputs);
  const LogFileInfo file{0, "main.log", "", sizeof kRecords};
  stream.beginFile(file);
  BinaryLogParser parser(file, kolvaprof::RecordLayout{false, true}, stream, diagnostics);
  parser.feed({reinterpret_cast<const char*>(kRecords), sizeof kRecords});
  parser.finish();
  stream.endFile(file);
  stream.finish();
  return 0;
}
