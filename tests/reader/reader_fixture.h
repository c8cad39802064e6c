#pragma once

// Small runs written on the spot, and the reader's command line run on them
// with its output captured.

#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <string>
#include <vector>

#include "format/binary_record.h"

namespace kolvaprof::reader::test {

struct CliResult {
  int status = -1;
  std::string out;
  std::string err;
};

// Runs "kolvaprof-read <args...>" in-process.
CliResult runReader(const std::vector<std::string>& args);

// A fresh directory, removed at destruction.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const std::string& path() const { return root; }
  // Writes <root>/<relative>, making its directory.
  std::string write(const std::string& relative, const std::string& content) const;

 private:
  std::string root;
};

// One binary record: an entry, or an exit when `method` is 0.
struct Record {
  std::int32_t method;
  std::int64_t tag;
  std::int64_t call;
  std::size_t depth;
  std::int32_t thread;
};

// Records as the agent writes them, in the layout given.
std::string records(RecordLayout layout, std::initializer_list<Record> list);

}  // namespace kolvaprof::reader::test
