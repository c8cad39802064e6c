#include "reader/reader_fixture.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "reader/cli.h"

namespace kolvaprof::reader::test {

CliResult runReader(const std::vector<std::string>& args) {
  char* outText = nullptr;
  char* errText = nullptr;
  std::size_t outSize = 0;
  std::size_t errSize = 0;
  std::FILE* out = open_memstream(&outText, &outSize);
  std::FILE* err = open_memstream(&errText, &errSize);
  std::vector<const char*> argv{"kolvaprof-read"};
  for (const std::string& arg : args) argv.push_back(arg.c_str());
  CliResult result;
  result.status = runCli(static_cast<int>(argv.size()), argv.data(), out, err);
  std::fclose(out);
  std::fclose(err);
  result.out.assign(outText, outSize);
  result.err.assign(errText, errSize);
  std::free(outText);
  std::free(errText);
  return result;
}

ScratchDir::ScratchDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "kolvaprof-reader-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  root = pattern;
}

ScratchDir::~ScratchDir() {
  std::error_code ignored;
  std::filesystem::remove_all(root, ignored);
}

std::string ScratchDir::write(const std::string& relative, const std::string& content) const {
  const std::filesystem::path path = std::filesystem::path(root) / relative;
  std::filesystem::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << content;
  return path.string();
}

std::string records(RecordLayout layout, std::initializer_list<Record> list) {
  std::string bytes;
  unsigned char out[kMaxRecordBytes];
  std::int64_t time = 0;
  for (const Record& r : list) {
    // With times, a microsecond apart: rising, as a thread's times do.
    time += 1000;
    const std::size_t used = r.method == 0
                                 ? encodeExitRecord(out, layout, r.depth, r.thread, time)
                                 : encodeEntryRecord(out, layout, r.method, r.tag, r.call, r.depth, r.thread, time);
    bytes.append(reinterpret_cast<const char*>(out), used);
  }
  return bytes;
}

}  // namespace kolvaprof::reader::test
