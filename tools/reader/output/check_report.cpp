#include "reader/output/check_report.h"

#include <fmt/format.h>
#include <fmt/ranges.h>

#include <cstdint>
#include <functional>
#include <vector>

#include "format/name_escape.h"
#include "reader/model/run.h"

namespace kolvaprof::reader {
namespace {

// Per-file figures for the check report; the problems themselves are
// reported by the parsers and the stream.
class FileCounter : public EventSink {
 public:
  struct Figures {
    std::uint64_t calls = 0;
    std::uint64_t exits = 0;
    std::size_t maxDepth = 0;
  };

  void beginFile(const LogFileInfo& file) override;
  void enter(const ThreadState& thread, const Entry& entry) override;
  void exit(const ThreadState& thread, const Exit& exit) override;
  void finish(const CallStream& stream) override {
    if (atEnd) atEnd(stream);
  }

  const std::vector<Figures>& files() const { return figures; }
  std::function<void(const CallStream&)> atEnd;

 private:
  std::vector<Figures> figures;
  std::size_t current = 0;
};

void FileCounter::beginFile(const LogFileInfo& file) {
  current = file.index;
  if (figures.size() <= current) figures.resize(current + 1);
}

void FileCounter::enter(const ThreadState& thread, const Entry&) {
  ++figures[current].calls;
  if (thread.stack.size() > figures[current].maxDepth) figures[current].maxDepth = thread.stack.size();
}

void FileCounter::exit(const ThreadState&, const Exit& exit) {
  if (!exit.implicit) ++figures[current].exits;
}

int writeReport(const Run& run, const CallStream& stream, const FileCounter& counter,
                const Diagnostics& diagnostics, std::FILE* out) {
  const RunDirectory& dir = run.directory();
  fmt::print(out, "run: {}\n{}\n", dir.path, run.describe());
  if (!run.manifestNote().empty() && !run.manifest()) fmt::print(out, "note: {}\n", run.manifestNote());
  if (!run.layoutNote().empty()) fmt::print(out, "note: {}\n", run.layoutNote());
  if (run.manifest() && !run.manifest()->complete)
    fmt::print(out, "run.json: the run did not end cleanly (complete: false): the VM was killed or is still "
                    "running, and what it still held in its buffers is not on disk\n");
  if (run.manifest() && run.manifest()->end && !run.manifest()->end->failedFiles.empty())
    fmt::print(out, "run.json: files that could not be created or written whole: {}\n",
               fmt::join(run.manifest()->end->failedFiles, ", "));
  if (run.layout()) {
    const Index& index = run.index();
    fmt::print(out, "Index.dat: {}\n",
               index.present ? counted(index.methods.size(), "method") + ", " + counted(index.threads.size(), "thread")
                             : std::string("missing"));
  }
  for (const LogFileInfo& file : dir.files) {
    const FileCounter::Figures figures =
        file.index < counter.files().size() ? counter.files()[file.index] : FileCounter::Figures{};
    fmt::print(out, "  {}: {}, {}, {}, max depth {}\n", file.name, counted(file.size, "byte"),
               counted(figures.calls, "call"), counted(figures.exits, "exit"), figures.maxDepth);
  }
  // Threads that ended before the run did are left out: what they left open
  // is a problem of its own, listed with the others.
  const std::uint64_t open = stream.openCallsOfLiveThreads();
  if (open == 0) {
    fmt::print(out, "calls still open at the end: none\n");
  } else {
    fmt::print(out, "calls still open at the end: {} (not damage: a VM that is killed or still running leaves "
                    "its calls open)\n", open);
    for (const ThreadState& thread : stream.threads())
      if (!thread.ended && (!thread.stack.empty() || thread.overflow > 0))
        fmt::print(out, "  {}: {}\n", escapeName(thread.name), thread.stack.size() + thread.overflow);
  }
  const std::uint64_t left = stream.openCalls() - open;
  if (left > 0) {
    fmt::print(out, "calls left open by threads that ended: {}\n", left);
    for (const ThreadState& thread : stream.threads())
      if (thread.ended && (!thread.stack.empty() || thread.overflow > 0))
        fmt::print(out, "  {}: {}\n", escapeName(thread.name), thread.stack.size() + thread.overflow);
  }
  if (diagnostics.clean()) {
    fmt::print(out, "problems: none\nresult: clean\n");
    return 0;
  }
  fmt::print(out, "problems: {}\n", diagnostics.total());
  diagnostics.printReport(out, "  ");
  fmt::print(out, "result: damaged\n");
  return 1;
}

}  // namespace

int writeCheck(Run& run, Diagnostics& diagnostics, const WriterOptions&, std::FILE* out) {
  int status = 0;
  FileCounter counter;
  counter.atEnd = [&](const CallStream& stream) { status = writeReport(run, stream, counter, diagnostics, out); };
  run.read(counter, diagnostics);
  return status;
}

}  // namespace kolvaprof::reader
