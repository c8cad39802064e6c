#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kolvaprof {

// The file of a run's virtual threads holds blocks: one header line naming
// the thread and the length of what follows, then that many bytes of the
// thread's records (text lines or binary records, whole ones, as its own log
// would hold them):
//   @block <bytes> @thread <number> = "<name>"\n<bytes of records>
// A thread's last block, written when the thread ends, is tagged `@last`
// instead (its records may be none): a thread without one was still alive
// when the run ended.
inline constexpr const char* kVirtualThreadFileBaseName = "VirtualThreads";
inline constexpr const char* kVirtualThreadFileExtension = ".vlog";

std::string makeThreadBlockHeader(int32_t threadNumber, std::string_view name, std::size_t recordBytes,
                                  bool last = false);

struct ThreadBlockHeader {
  int32_t threadNumber = 0;
  std::string name;
  std::uint64_t recordBytes = 0;
  bool last = false;  // the thread ended after these records
};

// A header line without its line feed; nullopt when it is none.
std::optional<ThreadBlockHeader> parseThreadBlockHeader(std::string_view line);

}  // namespace kolvaprof
