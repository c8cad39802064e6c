#include "output/log_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iostream>

#include <boost/thread/lock_guard.hpp>

#include "output/console.h"
#include "output/run_directory.h"

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

// Exclusive, so that a name another file holds (another thread's log, say)
// is never truncated.
int createExclusively(const std::string& name) {
  int fd;
  do {
    fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

}  // namespace

bool isUsableFileBaseName(const std::string& baseName) {
  if (baseName.empty() || baseName == "." || baseName == "..") return false;
  for (const char c : baseName) {
    if (static_cast<unsigned char>(c) < 0x20 || std::strchr("<>:\"/\\|?*", c) != nullptr) {
      return false;
    }
  }
  return true;
}

LogFile::LogFile(std::string directory, std::string baseName, std::string extension,
                 Writers writers)
    : baseName(std::move(baseName)),
      directory(std::move(directory)),
      extension(std::move(extension)),
      writers(writers) {}

LogFile::LogFile(std::shared_ptr<RunDirectory> directory, std::string baseName,
                 std::string extension, Writers writers)
    : baseName(std::move(baseName)),
      runDirectory(std::move(directory)),
      extension(std::move(extension)),
      writers(writers) {}

LogFile::~LogFile() {
  boost::lock_guard<boost::mutex> guard(lock);
  flushBuffer();
  if (fd >= 0) ::close(fd);
}

std::string LogFile::directoryPath() const {
  return runDirectory ? runDirectory->path() : directory;
}

std::string LogFile::fileName() const { return directoryPath() + baseName + extension; }

void LogFile::open() {
  opened = true;
  // A run directory that cannot be made has said so itself.
  if (runDirectory && !runDirectory->claim(true)) return;
  const std::string place = directoryPath();
  openedName = place + baseName + extension;
  if (isUsableFileBaseName(baseName)) {
    fd = createExclusively(openedName);
    if (fd >= 0) return;
  }
  // Numbered names may be taken too, by a thread named "(0)" for one.
  do {
    openedName = place + "(" + std::to_string(fallbacks().next()) + ")" + extension;
    fd = createExclusively(openedName);
  } while (fd < 0 && errno == EEXIST);
  if (fd >= 0) return;
  const int error = errno;
  printMessage(&std::cout, "cannot create log file " + openedName + ": " + std::strerror(error) +
                               "; its records are lost");
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

char* LogFile::reserve(std::size_t bound) {
  if (!opened) open();
  if (fd < 0 || bound > kBufferSize) return nullptr;
  if (!buffer) buffer.reset(new char[kBufferSize]);
  if (bufferedBytes + bound > kBufferSize) {
    writeToFile(buffer.get(), bufferedBytes);
    bufferedBytes = 0;
    if (fd < 0) return nullptr;
  }
  return buffer.get() + bufferedBytes;
}

void LogFile::flushBuffer() {
  if (buffer) writeToFile(buffer.get(), bufferedBytes);
  bufferedBytes = 0;
}

void LogFile::writeToFile(const char* bytes, std::size_t length) {
  while (fd >= 0 && length > 0) {
    const ssize_t written = ::write(fd, bytes, length);
    if (written > 0) {
      // A write that stops short goes on from there, so nothing is skipped.
      bytes += written;
      length -= static_cast<std::size_t>(written);
      continue;
    }
    if (written < 0 && errno == EINTR) continue;
    // Whatever came after a gap would sit at the wrong offset, so the file
    // ends here, with what reached it before.
    const int error = written < 0 ? errno : EIO;
    ::close(fd);
    fd = -1;
    printMessage(&std::cout, "cannot write log file " + openedName + ": " + std::strerror(error) +
                                 "; it ends with the records written before");
  }
}

}  // namespace kolvaprof
