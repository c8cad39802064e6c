#include "reader/model/run.h"

#include <fmt/format.h>

#include <algorithm>
#include <memory>

#include "format/index_line.h"
#include "reader/input/progress.h"

namespace kolvaprof::reader {
namespace {

constexpr std::size_t kBufferBytes = 1 << 20;

template <class Parser>
void stream(const LogFileInfo& file, Parser& parser, ProgressBar& progress, Diagnostics& diagnostics) {
  const std::unique_ptr<std::FILE, int (*)(std::FILE*)> in(std::fopen(file.path.c_str(), "rb"), &std::fclose);
  if (!in) {
    diagnostics.report(Problem::UnreadableFile, file.name + ": cannot be opened");
    return;
  }
  // A multiple of every record size (12 to 28 bytes), so that records are
  // cut only at the end.
  static thread_local std::string buffer(kBufferBytes / 1680 * 1680, '\0');
  // Only the bytes the directory scan saw: a run still being written reads
  // the same in every pass of a command that reads it more than once.
  std::uint64_t left = file.size;
  std::size_t got;
  while (left > 0 &&
         (got = std::fread(buffer.data(), 1, static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), left)),
                           in.get())) > 0) {
    parser.feed({buffer.data(), got});
    progress.advance(got);
    left -= got;
  }
  if (std::ferror(in.get())) diagnostics.report(Problem::UnreadableFile, file.name + ": read error");
  parser.finish();
}

}  // namespace

Run::Run(const std::string& path, const ReadOptions& options, Diagnostics& diagnostics)
    : options(options), dir(scanRunDirectory(path)) {
  RunManifestFile file = readRunManifest(dir);
  if (file.present && !file.manifest)
    manifestText = "run.json cannot be read (" + file.error + "); the logs are read without it";
  runManifest = std::move(file.manifest);
  // The run's own word on its records beats guessing from their bytes.
  if (runManifest) dir.kind = runManifest->layout.encoding == RecordEncoding::Text ? RunKind::Text : RunKind::Binary;
  if (dir.kind == RunKind::Text) return;
  runIndex = readIndexFile(dir.indexPath.empty() ? dir.path + "/" + kIndexFileName : dir.indexPath, diagnostics);
  if (runManifest) {
    recordLayout = options.layout.applyTo(runManifest->layout);
    layoutFromManifest = true;
    manifestText = "record layout from run.json: " + describeLayout(*recordLayout);
    if (recordLayout->encoding == RecordEncoding::Compact) {
      // The blocks decode to records of the binary layout.
      recordLayout->encoding = RecordEncoding::Binary;
      dir.compactLayout = recordLayout;
    }
    return;
  }
  if (dir.compactLayout) {
    recordLayout = dir.compactLayout;
    return;
  }
  const LayoutChoice choice = detectLayout(dir, runIndex, options.layout);
  if (!choice.layout) throw ReaderError(manifestText.empty() ? choice.message : manifestText + "\n" + choice.message);
  recordLayout = choice.layout;
  note = choice.message;
}

std::string Run::describe() const {
  if (!recordLayout) return "text logs";
  return std::string(dir.compactLayout ? "compact binary logs, " : "binary logs, ") + describeLayout(*recordLayout) +
         (layoutFromManifest ? ", as run.json says" : "");
}

void Run::read(EventSink& sink, Diagnostics& diagnostics, std::optional<ThreadKey> only,
               const std::vector<std::size_t>* files, const std::string& label) {
  std::vector<const LogFileInfo*> selected;
  std::uint64_t bytes = 0;
  for (const LogFileInfo& file : dir.files) {
    if (files != nullptr && std::find(files->begin(), files->end(), file.index) == files->end()) continue;
    selected.push_back(&file);
    bytes += file.size;
  }
  CallStream calls(frameTable, runIndex, diagnostics, sink);
  if (only) calls.only(*only);
  ProgressBar progress(options.err, bytes, options.progress && ProgressBar::wanted(options.err, dir.totalBytes),
                       label);
  for (const LogFileInfo* file : selected) {
    calls.beginFile(*file);
    LogParser parser(*file, encoding(), calls, diagnostics);
    stream(*file, parser, progress, diagnostics);
    calls.endFile(*file);
  }
  calls.finish();
}

}  // namespace kolvaprof::reader
