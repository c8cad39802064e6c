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
  fuzz::readInTwoPieces(
      Index{}, text, data[0] % (text.size() + 1),
      [](const LogFileInfo& file, CallStream& stream, Diagnostics& diagnostics) {
        return TextLogParser(file, stream, diagnostics);
      },
      [](const CallStream&, const Diagnostics& diagnostics) { diagnostics.printReport(fuzz::devNull(), ""); });
  return 0;
}
