#include "output/log_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <boost/thread/lock_guard.hpp>

namespace kolvaprof {
namespace {

// Numbered names for files that cannot be created under their own name,
// counted across every file of the process.
struct Fallbacks {
  boost::mutex fallbackLock;
  int fallbackCounter = 0;

  int next() {
    boost::lock_guard<boost::mutex> guard(fallbackLock);
    return fallbackCounter++;
  }
};

Fallbacks& fallbacks() {
  static Fallbacks* instance = new Fallbacks;
  return *instance;
}

int createForWriting(const std::string& name) {
  int fd;
  do {
    fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

}  // namespace

bool isUsableFileBaseName(const std::string& baseName) {
  if (baseName == "." || baseName == "..") return false;
  for (const char c : baseName) {
    if (static_cast<unsigned char>(c) < 0x20 || std::strchr("<>:\"/\\|?*", c) != nullptr) {
      return false;
    }
  }
  return true;
}

LogFile::LogFile(std::string directory, std::string baseName, std::string extension,
                 bool createDirectory, Writers writers)
    : baseName(std::move(baseName)),
      directory(std::move(directory)),
      extension(std::move(extension)),
      createDirectory(createDirectory),
      writers(writers) {}

LogFile::~LogFile() {
  boost::lock_guard<boost::mutex> guard(lock);
  if (fd >= 0) {
    flushBuffer();
    ::close(fd);
  }
}

void LogFile::open() {
  opened = true;
  if (createDirectory && !directory.empty()) {
    std::string path = directory;
    if (path.size() > 1 && path.back() == '/') path.pop_back();
    ::mkdir(path.c_str(), 0755);  // one level; an existing directory is fine
  }
  if (isUsableFileBaseName(baseName)) {
    fd = createForWriting(fileName());
    if (fd >= 0) return;
  }
  const int k = fallbacks().next();
  fd = createForWriting(directory + "(" + std::to_string(k) + ")" + extension);
}

void LogFile::write(const void* bytes, std::size_t length) {
  if (writers == Writers::One) {
    append(bytes, length);
    return;
  }
  boost::lock_guard<boost::mutex> guard(lock);
  append(bytes, length);
}

void LogFile::append(const void* bytes, std::size_t length) {
  if (!opened) open();
  if (fd < 0) return;  // dead: nothing to keep the records for
  if (!buffer) buffer.reset(new char[kBufferSize]);
  if (bufferedBytes + length <= kBufferSize) {
    std::memcpy(buffer.get() + bufferedBytes, bytes, length);
    bufferedBytes += length;
    return;
  }
  writeToFile(buffer.get(), bufferedBytes);
  writeToFile(static_cast<const char*>(bytes), length);
  bufferedBytes = 0;
}

void LogFile::flushBuffer() {
  if (buffer) writeToFile(buffer.get(), bufferedBytes);
  bufferedBytes = 0;
}

void LogFile::writeToFile(const char* bytes, std::size_t length) {
  // A dead file (both opens failed) swallows its records.
  if (fd < 0) return;
  while (length > 0) {
    const ssize_t written = ::write(fd, bytes, length);
    if (written < 0) {
      if (errno == EINTR) continue;
      return;  // disk full and the like: the records are lost, logging goes on
    }
    bytes += written;
    length -= static_cast<std::size_t>(written);
  }
}

}  // namespace kolvaprof
