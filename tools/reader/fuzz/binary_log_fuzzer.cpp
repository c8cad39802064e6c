// Binary logs of any bytes, under the layout that the first byte picks, fed
// in two pieces cut where the first byte says; and their whole records as
// two compact blocks, which must read as the same problems and threads.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "format/compact_block.h"

#include "reader/fuzz/fuzz_support.h"
#include "reader/input/binary_log_parser.h"
#include "reader/input/compact_log_parser.h"
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

  const std::size_t cut = (control >> 2) % (bytes.size() + 1);
  const std::size_t whole = bytes.size() / layout.bytes() * layout.bytes();
  const std::size_t wholeCut = cut / layout.bytes() * layout.bytes();
  std::vector<unsigned char> blocks;
  const auto* records = reinterpret_cast<const unsigned char*>(bytes.data());
  kolvaprof::appendCompactBlock(blocks, records, wholeCut, layout);
  kolvaprof::appendCompactBlock(blocks, records + wholeCut, whole - wholeCut, layout);
  const std::string_view compact(reinterpret_cast<const char*>(blocks.data()), blocks.size());

  // The problems found and each thread's figures at the end.
  const auto read = [&](std::string_view input, std::size_t at, bool asCompact) {
    std::string report;
    const auto describe = [&report](const CallStream& stream, const Diagnostics& diagnostics) {
      char* text = nullptr;
      std::size_t length = 0;
      std::FILE* out = open_memstream(&text, &length);
      diagnostics.printReport(out, "");
      for (const ThreadState& thread : stream.threads())
        std::fprintf(out, "%lld %llu %zu %zu %llu %d %lld\n", static_cast<long long>(thread.key),
                     static_cast<unsigned long long>(thread.calls), thread.maxDepth, thread.stack.size(),
                     static_cast<unsigned long long>(thread.overflow), thread.ended ? 1 : 0,
                     static_cast<long long>(thread.lastTime.value_or(-1)));
      std::fclose(out);
      report.assign(text, length);
      std::free(text);
    };
    if (asCompact) {
      fuzz::readInTwoPieces(index, input, at, [&](const LogFileInfo& file, CallStream& stream, Diagnostics& d) {
        return CompactLogParser(file, layout, stream, d);
      }, describe);
    } else {
      fuzz::readInTwoPieces(index, input, at, [&](const LogFileInfo& file, CallStream& stream, Diagnostics& d) {
        return BinaryLogParser(file, layout, stream, d);
      }, describe);
    }
    return report;
  };
  read(bytes, cut, false);
  if (read(bytes.substr(0, whole), wholeCut, false) != read(compact, compact.size() / 2, true)) std::abort();
  return 0;
}
