#include "output/file_sink.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iostream>
#include <vector>

#include <boost/thread/lock_guard.hpp>
#include <boost/thread/mutex.hpp>

#include "format/compact_block.h"
#include "output/block_compressor.h"
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
  void restart() {
    boost::lock_guard<boost::mutex> guard(fallbackLock);
    fallbackCounter = 0;
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

void restartNumberedFileNames() { fallbacks().restart(); }

bool isUsableFileBaseName(const std::string& baseName) {
  if (baseName.empty() || baseName == "." || baseName == "..") return false;
  for (const char c : baseName) {
    if (static_cast<unsigned char>(c) < 0x20 || std::strchr("<>:\"/\\|?*", c) != nullptr) {
      return false;
    }
  }
  return true;
}

FileSink::FileSink(std::string directory, std::string baseName, std::string extension)
    : baseName(std::move(baseName)), directory(std::move(directory)), extension(std::move(extension)) {}

FileSink::FileSink(std::shared_ptr<RunDirectory> directory, std::string baseName,
                   std::string extension)
    : baseName(std::move(baseName)),
      runDirectory(std::move(directory)),
      extension(std::move(extension)) {}

FileSink::~FileSink() {
  if (compactLayout) BlockCompressor::instance().drain(*this);
  if (fd >= 0) ::close(fd);
}

std::string FileSink::directoryPath() const {
  return runDirectory ? runDirectory->path() : directory;
}

namespace {

struct FailedFiles {
  boost::mutex lock;
  std::vector<std::string> names;
};

// Never destroyed: a daemon thread's file may fail while the process ends.
FailedFiles& failedFiles() {
  static FailedFiles* files = new FailedFiles;
  return *files;
}

void noteFailedFile(const std::string& name) {
  FailedFiles& files = failedFiles();
  boost::lock_guard<boost::mutex> guard(files.lock);
  files.names.push_back(name);
}

}  // namespace

std::vector<std::string> failedLogFiles() {
  FailedFiles& files = failedFiles();
  boost::lock_guard<boost::mutex> guard(files.lock);
  return files.names;
}

std::string FileSink::fileName() const { return directoryPath() + baseName + extension; }

bool FileSink::open() {
  if (opened) return fd >= 0;
  opened = true;
  // A run directory that cannot be made has said so itself.
  if (runDirectory && !runDirectory->claim(true)) return false;
  const std::string place = directoryPath();
  openedName = place + baseName + extension;
  if (isUsableFileBaseName(baseName)) {
    fd = createExclusively(openedName);
    if (fd >= 0) return true;
  }
  // Numbered names may be taken too, by a thread named "(0)" for one.
  do {
    openedName = place + "(" + std::to_string(fallbacks().next()) + ")" + extension;
    fd = createExclusively(openedName);
  } while (fd < 0 && errno == EEXIST);
  if (fd >= 0) return true;
  const int error = errno;
  noteFailedFile(openedName);
  printMessage(&std::cout, "cannot create log file " + openedName + ": " + std::strerror(error) +
                               "; its records are lost");
  return false;
}

void FileSink::write(const char* bytes, std::size_t length) {
  if (!compactLayout) {
    writeAll(bytes, length);
    return;
  }
  if (length == 0 || fd < 0) return;
  if (!BlockCompressor::instance().hand(*this, bytes, length)) writeBlock(bytes, length);
}

void FileSink::writeBlock(const char* bytes, std::size_t length) {
  // Kept between writes: a thread sends buffers of the same size again.
  thread_local std::vector<unsigned char> block;
  block.clear();
  appendCompactBlock(block, reinterpret_cast<const unsigned char*>(bytes), length, *compactLayout);
  const std::size_t blockStart = fileBytes;
  // A reader would stop at a torn block anyway; taking it off keeps the file
  // a run of whole blocks that no later tool need doubt.
  writeAll(reinterpret_cast<const char*>(block.data()), block.size(), blockStart);
}

void FileSink::writeAll(const char* bytes, std::size_t length, std::optional<std::size_t> cutBackTo) {
  while (fd >= 0 && length > 0) {
    const ssize_t written = ::write(fd, bytes, length);
    if (written > 0) {
      // A write that stops short goes on from there, so nothing is skipped.
      bytes += written;
      length -= static_cast<std::size_t>(written);
      fileBytes += static_cast<std::size_t>(written);
      continue;
    }
    if (written < 0 && errno == EINTR) continue;
    // Whatever came after a gap would sit at the wrong offset, so the file
    // ends here, with what reached it before.
    const int error = written < 0 ? errno : EIO;
    if (cutBackTo && ::ftruncate(fd, static_cast<off_t>(*cutBackTo)) == 0) fileBytes = *cutBackTo;
    ::close(fd);
    fd = -1;
    noteFailedFile(openedName);
    printMessage(&std::cout, "cannot write log file " + openedName + ": " + std::strerror(error) +
                                 "; it ends with the records written before");
  }
}

}  // namespace kolvaprof
