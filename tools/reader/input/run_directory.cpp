#include "reader/input/run_directory.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <system_error>

#include "format/compact_block.h"
#include "format/index_line.h"
#include "format/thread_block.h"
#include "reader/input/diagnostics.h"

namespace kolvaprof::reader {
namespace {

namespace fs = std::filesystem;

// Binary records hold small numbers, so nearly every record has a zero byte;
// the agent's text lines never do.
bool looksBinary(const std::string& path) {
  const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"), &std::fclose);
  if (!file) return false;
  char head[4096];
  const std::size_t got = std::fread(head, 1, sizeof head, file.get());
  return std::memchr(head, '\0', got) != nullptr;
}

// The layout of the compact block the file starts with (a block file: its
// first block's records), if it does.
std::optional<RecordLayout> compactStart(const LogFileInfo& info) {
  const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(info.path.c_str(), "rb"), &std::fclose);
  if (!file) return std::nullopt;
  char head[4096];
  const std::size_t got = std::fread(head, 1, sizeof head, file.get());
  std::size_t start = 0;
  if (info.blocks) {
    const void* lineEnd = std::memchr(head, '\n', got);
    if (!lineEnd) return std::nullopt;
    start = static_cast<std::size_t>(static_cast<const char*>(lineEnd) - head) + 1;
  }
  RecordLayout layout;
  if (!startsCompactBlock(reinterpret_cast<const unsigned char*>(head) + start, got - start, &layout)) {
    return std::nullopt;
  }
  return layout;
}

bool hasExtension(const std::string& name, std::string_view extension) {
  return name.size() > extension.size() && name.compare(name.size() - extension.size(), extension.size(), extension) == 0;
}

}  // namespace

RunDirectory scanRunDirectory(const std::string& path) {
  std::error_code error;
  if (!fs::is_directory(path, error)) throw ReaderError(path + " is not a directory");
  RunDirectory run;
  run.path = path;
  fs::directory_iterator entries(path, error);
  if (error) throw ReaderError("cannot list " + path + ": " + error.message());
  std::string subdirectory;  // for a hint when given the LogfileDirectory instead of a run
  for (const fs::directory_entry& entry : entries) {
    const std::string name = entry.path().filename().string();
    if (entry.is_directory(error) && (subdirectory.empty() || name > subdirectory)) subdirectory = name;
    if (!entry.is_regular_file(error)) continue;
    if (name == kIndexFileName) {
      run.indexPath = entry.path().string();
    } else if (name == kManifestFileName) {
      run.manifestPath = entry.path().string();
    } else if (name.size() > 4 && name.compare(name.size() - 4, 4, ".log") == 0) {
      run.files.push_back({0, name, entry.path().string(), entry.file_size(error)});
    } else if (hasExtension(name, kVirtualThreadFileExtension)) {
      run.files.push_back({0, name, entry.path().string(), entry.file_size(error), true});
    }
  }
  if (run.files.empty() && !run.manifestPath.empty()) {
    const RunManifestFile manifest = readRunManifest(run);
    // A run killed before its buffers filled leaves its files empty or
    // leaves none.
    if (manifest.manifest && !manifest.manifest->complete)
      throw ReaderError("no log files (*.log) in " + path +
                        "; run.json says the run did not end cleanly (complete: false), so its records "
                        "were still in the agent's buffers");
  }
  if (run.files.empty())
    throw ReaderError("no log files (*.log) in " + path + (!run.indexPath.empty() ? " (only Index.dat)"
                                                            : !subdirectory.empty()
                                                                ? "; runs are in its subdirectories, such as " +
                                                                      (fs::path(path) / subdirectory).string()
                                                                : ""));
  std::sort(run.files.begin(), run.files.end(),
            [](const LogFileInfo& a, const LogFileInfo& b) { return a.name < b.name; });
  std::size_t binaryVotes = 0;
  std::size_t sniffed = 0;
  for (std::size_t i = 0; i < run.files.size(); ++i) {
    LogFileInfo& file = run.files[i];
    file.index = i;
    run.totalBytes += file.size;
    if (!run.compactLayout && file.size > 0 && sniffed < 16) run.compactLayout = compactStart(file);
    // Block headers are text whatever the records are.
    if (file.size > 0 && sniffed < 16 && !file.blocks) {
      ++sniffed;
      binaryVotes += looksBinary(file.path);
    }
  }
  // The contents decide, so that binary logs without their Index.dat are
  // still read as records; Index.dat only breaks a tie.
  const bool binary = run.compactLayout || 2 * binaryVotes > sniffed ||
                      (2 * binaryVotes == sniffed && !run.indexPath.empty());
  run.kind = binary ? RunKind::Binary : RunKind::Text;
  return run;
}

RunManifestFile readRunManifest(const RunDirectory& run) {
  RunManifestFile file;
  if (run.manifestPath.empty()) return file;
  file.present = true;
  // Far larger than any manifest: a huge file is not one.
  constexpr std::size_t kLargest = 1 << 20;
  const std::unique_ptr<std::FILE, int (*)(std::FILE*)> in(std::fopen(run.manifestPath.c_str(), "rb"), &std::fclose);
  if (!in) {
    file.error = "cannot be opened";
    return file;
  }
  std::string text(kLargest + 1, '\0');
  text.resize(std::fread(text.data(), 1, text.size(), in.get()));
  if (std::ferror(in.get())) {
    file.error = "read error";
    return file;
  }
  if (text.size() > kLargest) {
    file.error = "larger than 1 MiB";
    return file;
  }
  ManifestReading reading = parseManifest(text);
  file.manifest = std::move(reading.manifest);
  file.error = std::move(reading.error);
  return file;
}

}  // namespace kolvaprof::reader
