#include "reader/cli.h"

#include <CLI/CLI.hpp>
#include <fmt/format.h>

#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <array>
#include <filesystem>
#include <iterator>
#include <optional>
#include <sstream>

#include "reader/model/run.h"
#include "reader/output/check_report.h"
#include "reader/output/chrome_writer.h"
#include "reader/output/collapsed_writer.h"
#include "reader/output/flamegraph_writer.h"
#include "reader/output/speedscope_writer.h"
#include "reader/output/summary_writer.h"
#include "reader/output/text_writer.h"
#include "reader/output/writer.h"

namespace kolvaprof::reader {
namespace {

constexpr int kFailed = 2;

// What a command writes to, besides standard error.
enum class Destination {
  Report,     // standard output, the report holding the layout note and the problems
  Directory,  // standard output, or with -o one file per log in a directory
  File,       // standard output or the -o file, checked for write errors at the end
};

// The options a command takes after its run directory, in help order.
enum Option : unsigned {
  kOutput = 1u << 0,  // -o: a directory or a file, as the destination says
  kTop = 1u << 1,
  kByThread = 1u << 2,
  kTitle = 1u << 3,
  kWidth = 1u << 4,
  kSelfTime = 1u << 5,
  kAllThreads = 1u << 6,
  kMaxDepth = 1u << 7,
  kMinShare = 1u << 8,
  kCommonStart = 1u << 9,
  kMerge = 1u << 10,
};

// Browsers give up on a JSON file or a page of this size (speedscope and
// Perfetto in Chromium alike run out of memory between 0.5 and 1 GB).
constexpr std::uint64_t kBrowserBytes = 500ull << 20;

struct Command {
  const char* name;
  const char* help;
  unsigned options;
  Destination destination;
  Writer write;
};

// In the order of the help text.
constexpr Command kCommands[] = {
    {"text", "the logs as the agent's text lines, one output per log file", kOutput | kMerge,
     Destination::Directory, writeText},
    {"check", "verify the nesting of every thread; exit status 1 on damage", 0, Destination::Report, writeCheck},
    {"summary", "calls per method and per thread, maximum depth, calls still open; total and self times",
     kTop | kAllThreads, Destination::File, writeSummary},
    {"collapsed", "folded stacks \"a;b;c count\" for flame graph tools",
     kOutput | kByThread | kSelfTime | kMaxDepth | kMinShare, Destination::File, writeCollapsed},
    {"speedscope", "a speedscope JSON file, one evented profile per thread", kOutput | kMaxDepth | kCommonStart,
     Destination::File, writeSpeedscope},
    {"chrome", "a Chrome trace event JSON file (Perfetto, chrome://tracing)", kOutput | kMaxDepth,
     Destination::File, writeChrome},
    {"flamegraph", "a self-contained SVG flame graph of call counts or self time",
     kOutput | kByThread | kSelfTime | kTitle | kWidth | kMaxDepth | kMinShare, Destination::File, writeFlamegraph},
};

struct Settings {
  std::string runDir;
  std::string output;
  std::array<bool, kRecordFieldCount> layoutFields{};
  bool noProgress = false;
  WriterOptions writer;
};

// The output file of a command, or `out` without -o.
class Output {
 public:
  Output(const std::string& path, std::FILE* out)
      : file(path.empty() ? out : std::fopen(path.c_str(), "wb")), owned(!path.empty()), path(path) {
    if (file == nullptr) throw ReaderError("cannot write " + path);
  }
  ~Output() {
    if (owned && file != nullptr) std::fclose(file);
  }
  std::FILE* get() const { return file; }
  // What was written, when the output is a regular file (a pipe has no size).
  std::optional<std::uint64_t> size() const {
    struct stat status {};
    if (std::fflush(file) != 0 || ::fstat(fileno(file), &status) != 0 || !S_ISREG(status.st_mode)) return std::nullopt;
    return static_cast<std::uint64_t>(status.st_size);
  }
  void close() {
    const bool failed = std::fflush(file) != 0 || std::ferror(file) || (owned && std::fclose(file) != 0);
    if (owned) file = nullptr;
    if (failed) throw ReaderError("cannot write " + (path.empty() ? std::string("the output") : path));
  }

 private:
  std::FILE* file;
  bool owned;
  std::string path;
};

// "20261207153012" for "logs/20261207153012/".
std::string runName(const std::string& path) {
  const std::filesystem::path normal = std::filesystem::path(path).lexically_normal();
  return (normal.has_filename() ? normal : normal.parent_path()).filename().string();
}

// Writing over the logs being read would lose them.
void refuseToOverwrite(const Run& run, const std::string& output) {
  if (output.empty()) return;
  std::error_code error;
  bool clash = std::filesystem::equivalent(output, run.directory().path, error);
  for (const LogFileInfo& file : run.directory().files) clash = clash || std::filesystem::equivalent(output, file.path, error);
  if (clash) throw ReaderError("will not write over the run being read: " + output);
}

void addOptions(CLI::App& sub, const Command& command, Settings& settings) {
  sub.add_option("run-dir", settings.runDir, "the run directory (text logs, or binary logs and Index.dat)")
      ->required();
  sub.fallthrough();
  if (command.options & kOutput)
    sub.add_option("-o,--output", settings.output,
                   command.destination == Destination::Directory
                       ? "write <dir>/<log file name> instead of standard output"
                       : "output file instead of standard output");
  if (command.options & kTop)
    sub.add_option("--top", settings.writer.top, "the N most-called methods, and threads, 0 for all (10)");
  if (command.options & kAllThreads)
    sub.add_flag("--all-threads", settings.writer.allThreads, "every thread, not only the top ones");
  if (command.options & kMerge)
    sub.add_flag("--merge", settings.writer.merge,
                 "every log in one stream in time order (logs of RecordTime=1), each line after its thread");
  if (command.options & kMaxDepth)
    sub.add_option("--max-depth", settings.writer.maxDepth,
                   "leave out calls deeper than N (weights fold into the frame at depth N); 0 for all (0)");
  if (command.options & kMinShare)
    sub.add_option("--min-share", settings.writer.minShare,
                   "fold stacks under PERCENT of the total into their caller (0)")
        ->check(CLI::Range(0.0, 100.0));
  if (command.options & kCommonStart)
    sub.add_flag("--common-start", settings.writer.commonStart,
                 "every profile starts at the start of the run, not at its thread's first record");
  if (command.options & kByThread) sub.add_flag("--by-thread", settings.writer.byThread, "one root per thread");
  if (command.options & kSelfTime)
    sub.add_flag("--self-time", settings.writer.selfTime,
                 "weigh stacks by self time in nanoseconds instead of calls (logs of RecordTime=1)");
  if (command.options & kTitle) sub.add_option("--title", settings.writer.title, "the title line");
  if (command.options & kWidth)
    sub.add_option("--width", settings.writer.width, "image width in pixels (1200)")->check(CLI::Range(200, 100000));
}

int runCommand(const Command& command, Settings& settings, const ReadOptions& options, std::FILE* out,
               std::FILE* err) {
  Diagnostics diagnostics;
  Run run(settings.runDir, options, diagnostics);
  refuseToOverwrite(run, settings.output);
  WriterOptions& writer = settings.writer;
  writer.runName = runName(settings.runDir);
  if (command.destination == Destination::Report) return command.write(run, diagnostics, writer, out);
  if (!run.manifestNote().empty()) fmt::print(err, "kolvaprof-read: {}\n", run.manifestNote());
  if (!run.layoutNote().empty()) fmt::print(err, "kolvaprof-read: {}\n", run.layoutNote());
  int status;
  if (command.destination == Destination::Directory) {
    writer.outputDirectory = settings.output;
    status = command.write(run, diagnostics, writer, out);
  } else {
    Output output(settings.output, out);
    status = command.write(run, diagnostics, writer, output.get());
    const std::optional<std::uint64_t> bytes = output.size();
    output.close();
    if (bytes && *bytes > kBrowserBytes && command.options & kMaxDepth)
      fmt::print(err, "kolvaprof-read: note: the output is {:.1f} MB, more than a browser opens (about {} MB); {} "
                      "make{} it smaller\n",
                 static_cast<double>(*bytes) / (1 << 20), kBrowserBytes >> 20,
                 command.options & kMinShare ? "--max-depth N or --min-share PERCENT" : "--max-depth N",
                 command.options & kMinShare ? "" : "s");
  }
  if (!diagnostics.clean()) {
    diagnostics.printWarnings(err);
    fmt::print(err, "kolvaprof-read: the run is damaged; `kolvaprof-read check {}` lists the problems\n",
               settings.runDir);
  }
  return status;
}

}  // namespace

int runCli(int argc, const char* const* argv, std::FILE* out, std::FILE* err) {
  CLI::App app{"Checks the run directories that kolvaprof writes and turns their logs into text, summaries, "
               "folded stacks, speedscope and Chrome trace files and flame graphs.",
               "kolvaprof-read"};
  app.set_version_flag("--version", "kolvaprof-read " KOLVAPROF_VERSION);
  app.require_subcommand(1);
  Settings settings;
  std::array<CLI::Option*, kRecordFieldCount> layoutFlags{};
  for (std::size_t i = 0; i < kRecordFieldCount; ++i) {
    const RecordFieldForm& form = kRecordFields[i];
    layoutFlags[i] = app.add_flag(fmt::format("--{0},!--no-{0}", form.option), settings.layoutFields[i],
                                  fmt::format("binary logs: records carry {} ({}=1) or not; from run.json or "
                                              "detected when not given",
                                              form.name, form.setting));
  }
  app.add_flag("--no-progress", settings.noProgress, "no progress bar on a terminal");
  for (const Command& command : kCommands)
    addOptions(*app.add_subcommand(command.name, command.help), command, settings);

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    std::ostringstream message, error;
    const int code = app.exit(e, message, error);
    std::fputs(message.str().c_str(), out);
    std::fputs(error.str().c_str(), err);
    return code == 0 ? 0 : kFailed;
  }
  ReadOptions options;
  for (std::size_t i = 0; i < kRecordFieldCount; ++i)
    if (layoutFlags[i]->count() > 0) options.layout.fields[i] = settings.layoutFields[i];
  options.progress = !settings.noProgress;
  options.err = err;
  const std::string chosen = app.get_subcommands().front()->get_name();
  const Command* command = std::find_if(std::begin(kCommands), std::end(kCommands),
                                        [&](const Command& c) { return chosen == c.name; });
  try {
    return runCommand(*command, settings, options, out, err);
  } catch (const std::exception& e) {
    std::fflush(out);
    fmt::print(err, "kolvaprof-read: {}\n", e.what());
    return kFailed;
  }
}

}  // namespace kolvaprof::reader
