#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include <boost/thread/mutex.hpp>

namespace kolvaprof {

// A buffered output file that is created at its first write. Records wait in a
// 1 MiB buffer and reach the file when the buffer would overflow and when the
// object is destroyed; each write is all or nothing with respect to other
// writes, so threads sharing a file never mix their records. When the file
// cannot be created under its own name, a numbered name "(K)" + extension in
// the same directory is tried once; if that fails too, records are dropped
// silently and the program being traced runs on.
class LogFile {
 public:
  static constexpr std::size_t kBufferSize = 1048576;

  // Who writes: any thread (shared log, index file), or only the one thread
  // that owns the file (per-thread logs), which needs no lock around a write.
  enum class Writers { Many, One };

  // `createDirectory`: make the last level of `directory` just before the
  // file is created (the default log directory of a run is made this way).
  LogFile(std::string directory, std::string baseName, std::string extension,
          bool createDirectory = false, Writers writers = Writers::Many);
  ~LogFile();
  LogFile(const LogFile&) = delete;
  LogFile& operator=(const LogFile&) = delete;

  void write(const void* bytes, std::size_t length);
  void write(const std::string& text) { write(text.data(), text.size()); }

  // directory + base name + extension.
  std::string fileName() const { return directory + baseName + extension; }

 private:
  void append(const void* bytes, std::size_t length);
  void open();
  void flushBuffer();
  void writeToFile(const char* bytes, std::size_t length);

  boost::mutex lock;
  int fd = -1;
  bool opened = false;  // the first open (and the fallback, if needed) has run
  std::string baseName;
  std::string directory;
  std::string extension;
  std::unique_ptr<char[]> buffer;  // allocated at the first write
  std::size_t bufferedBytes = 0;
  bool createDirectory;
  Writers writers;
};

// False for base names that must not become file names: "." and "..", and
// names holding a path separator, a control character or any of <>:"\|?*,
// which keeps thread names from reaching outside the log directory or making
// names that scripts and other platforms cannot handle.
bool isUsableFileBaseName(const std::string& baseName);

}  // namespace kolvaprof
