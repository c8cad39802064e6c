// Cost of one write of a typical text record, against a bare memcpy
// into a buffer of the same size: the part of a method call's logging cost
// that the file itself adds.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

#include "output/log_file.h"
#include "output/thread_log_file.h"

namespace {

namespace fs = std::filesystem;
using kolvaprof::LogFile;
using kolvaprof::ThreadLogFile;

// About the size of an entry line with receiver tag and two parameters.
const std::string kRecord = "boolean org.demo.shop.Cart(48213).add(int,java.lang.String){\n";

// Fixed, so that a run writes a bounded amount (about 60 MiB per thread).
constexpr std::int64_t kWritesPerThread = 1 << 20;

class BenchDirectory {
 public:
  BenchDirectory() {
    char pattern[] = "/tmp/kolvaprof-bench-XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
      std::perror("mkdtemp");
      std::abort();
    }
    path = std::string(pattern) + "/";
  }
  ~BenchDirectory() {
    std::error_code ignored;
    fs::remove_all(path, ignored);
  }
  std::string path;
};

const std::string& benchDirectory() {
  static BenchDirectory directory;
  return directory.path;
}

void BM_MemcpyIntoBuffer(benchmark::State& state) {
  std::unique_ptr<char[]> buffer(new char[LogFile::kBufferSize]);
  std::size_t used = 0;
  for (auto _ : state) {
    if (used + kRecord.size() > LogFile::kBufferSize) used = 0;
    std::memcpy(buffer.get() + used, kRecord.data(), kRecord.size());
    used += kRecord.size();
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(kRecord.size()));
}

int fileCount = 0;

// All threads of a run write to one file: a per-thread log (one thread) or
// the shared log.
template <typename File>
void BM_LogFileWrite(benchmark::State& state) {
  static File* file = nullptr;
  std::string path;
  if (state.thread_index() == 0) {
    const std::string name = "bench" + std::to_string(fileCount++);
    path = benchDirectory() + name + ".log";
    file = new File(benchDirectory(), name, ".log");
  }
  for (auto _ : state) {
    file->write(kRecord.data(), kRecord.size());
  }
  if (state.thread_index() == 0) {
    delete file;  // the last buffer goes out here, outside the timed loop
    file = nullptr;
    fs::remove(path);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(kRecord.size()));
}

}  // namespace

BENCHMARK(BM_MemcpyIntoBuffer)->Name("memcpy_1MiB_buffer/threads:1")->UseRealTime();
BENCHMARK_TEMPLATE(BM_LogFileWrite, ThreadLogFile)
    ->Name("LogFile_write/own_file")
    ->Threads(1)
    ->Iterations(kWritesPerThread)
    ->UseRealTime();
BENCHMARK_TEMPLATE(BM_LogFileWrite, LogFile)
    ->Name("LogFile_write/shared_file")
    ->Threads(2)
    ->Iterations(kWritesPerThread)
    ->UseRealTime();
