#pragma once

#include <atomic>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "format/binary_record.h"

namespace kolvaprof {

class RunDirectory;

// A new run numbers its "(K)" names from 0 again (an agent attached anew).
void restartNumberedFileNames();

// What both kinds of log file buffer for: the file on disk. It is created at
// the first open, and only ever created, never opened over another file: when
// its own name cannot be created or is taken, numbered names "(K)" +
// extension in the same directory are tried until one is free. A file that
// cannot be created even so, or whose write fails, says so once on the
// console and takes no more bytes, so what is on disk is always a prefix of
// what was written; the program being traced runs on. Not locked: its owner
// serialises the calls.
class FileSink {
 public:
  // Into `directory`, which the run does not make.
  FileSink(std::string directory, std::string baseName, std::string extension);
  // Into the run's directory, taken at the first open of any of its files.
  FileSink(std::shared_ptr<RunDirectory> directory, std::string baseName, std::string extension);
  ~FileSink();
  FileSink(const FileSink&) = delete;
  FileSink& operator=(const FileSink&) = delete;

  // Creates the file at the first call; whether it takes bytes.
  bool open();
  bool isOpened() const { return opened; }
  // Takes bytes: opened, and no write has failed.
  bool isWritable() const { return fd.load(std::memory_order_relaxed) >= 0; }
  // All of the bytes, or the file ends before them.
  void write(const char* bytes, std::size_t length);
  // From now on each write is whole binary records of this layout, and goes
  // to the file as one compact block; a block that cannot be written whole
  // is taken off again, so the file holds whole blocks only. The blocks are
  // packed on the compressor's thread where one can run, so a failed write
  // shows in isWritable a block or a few later.
  void writeCompactBlocks(RecordLayout layout) { compactLayout = layout; }
  // The compact block of `length` bytes of records, packed and written now.
  void writeBlock(const char* records, std::size_t length);

  // directory + base name + extension.
  std::string fileName() const;

 private:
  std::string directoryPath() const;
  // On a failed write, the file is cut back to `cutBackTo` bytes if given.
  void writeAll(const char* bytes, std::size_t length, std::optional<std::size_t> cutBackTo = {});

  // Also -1 once a write has failed. Compact blocks are written on the
  // compressor's thread while the owner asks isWritable.
  std::atomic<int> fd{-1};
  bool opened = false;  // the first open (and the fallback, if needed) has run
  std::string openedName;
  std::string baseName;
  std::string directory;
  std::shared_ptr<RunDirectory> runDirectory;  // null: `directory` as it is
  std::string extension;
  std::optional<RecordLayout> compactLayout;
  std::size_t fileBytes = 0;  // written so far
};

// Every file of the process that could not be created or whose write
// failed, in the order it happened, by the name it was given.
std::vector<std::string> failedLogFiles();

// False for base names that must not become file names: "", "." and "..", and
// names holding a path separator, a control character or any of <>:"\|?*,
// which keeps thread names from reaching outside the log directory or making
// hidden files or names that scripts and other platforms cannot handle.
bool isUsableFileBaseName(const std::string& baseName);

}  // namespace kolvaprof
