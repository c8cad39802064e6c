#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include <boost/thread/lock_guard.hpp>
#include <boost/thread/mutex.hpp>

namespace kolvaprof {

class RunDirectory;

// A buffered output file that is created at its first write. Records wait in a
// 1 MiB buffer and reach the file when the buffer would overflow and when the
// object is destroyed; each write is all or nothing with respect to other
// writes, so threads sharing a file never mix their records. A file is only
// ever created, never opened over another one: when its own name cannot be
// created or is taken, numbered names "(K)" + extension in the same directory
// are tried until one is free. A file that cannot be created even so, or
// whose write fails, says so once on the console and takes no more records,
// so what is on disk is always a prefix of what was written; the program
// being traced runs on.
class LogFile {
 public:
  static constexpr std::size_t kBufferSize = 1048576;

  // Who writes: any thread (shared log, index file), or only the one thread
  // that owns the file (per-thread logs), which needs no lock around a write.
  enum class Writers { Many, One };

  // Into `directory`, which the run does not make.
  LogFile(std::string directory, std::string baseName, std::string extension,
          Writers writers = Writers::Many);
  // Into the run's directory, taken at the first write of any of its files.
  LogFile(std::shared_ptr<RunDirectory> directory, std::string baseName, std::string extension,
          Writers writers = Writers::Many);
  ~LogFile();
  LogFile(const LogFile&) = delete;
  LogFile& operator=(const LogFile&) = delete;

  void write(const void* bytes, std::size_t length);
  void write(const std::string& text) { write(text.data(), text.size()); }

  // Lets `fill(char*)` write one record of at most `bound` bytes straight
  // into the buffer and return its length, saving the copy of a record built
  // elsewhere; all or nothing like write().
  template <typename Fill>
  void writeWith(std::size_t bound, Fill&& fill) {
    if (writers == Writers::One) {
      appendWith(bound, fill);
      return;
    }
    boost::lock_guard<boost::mutex> guard(lock);
    appendWith(bound, fill);
  }

  // directory + base name + extension.
  std::string fileName() const;

 private:
  void append(const void* bytes, std::size_t length);
  // Room for `bound` bytes at the end of the buffer, flushing it first if
  // need be; null when the file is dead or the record could never fit.
  char* reserve(std::size_t bound);

  template <typename Fill>
  void appendWith(std::size_t bound, Fill& fill) {
    if (char* place = reserve(bound)) {
      bufferedBytes += fill(place);
      return;
    }
    if (bound <= kBufferSize) return;  // dead
    std::string record(bound, '\0');
    record.resize(fill(record.data()));
    append(record.data(), record.size());
  }
  void open();
  void flushBuffer();
  void writeToFile(const char* bytes, std::size_t length);
  std::string directoryPath() const;

  boost::mutex lock;
  int fd = -1;  // also -1 once a write has failed
  bool opened = false;  // the first open (and the fallback, if needed) has run
  std::string openedName;
  std::string baseName;
  std::string directory;
  std::shared_ptr<RunDirectory> runDirectory;  // null: `directory` as it is
  std::string extension;
  std::unique_ptr<char[]> buffer;  // allocated at the first write
  std::size_t bufferedBytes = 0;
  Writers writers;
};

// False for base names that must not become file names: "", "." and "..", and
// names holding a path separator, a control character or any of <>:"\|?*,
// which keeps thread names from reaching outside the log directory or making
// hidden files or names that scripts and other platforms cannot handle.
bool isUsableFileBaseName(const std::string& baseName);

}  // namespace kolvaprof
