#include "reader/cli.h"

#include <CLI/CLI.hpp>
#include <fmt/format.h>

#include <filesystem>
#include <memory>
#include <sstream>

#include "reader/call_tree.h"
#include "reader/check_report.h"
#include "reader/chrome_writer.h"
#include "reader/collapsed_writer.h"
#include "reader/flamegraph_writer.h"
#include "reader/run_reader.h"
#include "reader/speedscope_writer.h"
#include "reader/summary_writer.h"
#include "reader/text_writer.h"

namespace kolvaprof::reader {
namespace {

constexpr int kFailed = 2;

struct Settings {
  std::string runDir;
  std::string output;
  bool callNumbers = false;
  bool threadIds = false;
  bool noProgress = false;
  bool byThread = false;
  std::size_t top = 10;
  FlamegraphOptions flamegraph;
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

int runCommand(const std::string& command, const Settings& settings, const ReadOptions& options, std::FILE* out,
               std::FILE* err) {
  Diagnostics diagnostics;
  Run run(settings.runDir, options, diagnostics);
  refuseToOverwrite(run, settings.output);
  int status = 0;
  if (command == "check") {
    FileCounter counter;
    counter.atEnd = [&](const CallStream& stream) {
      status = writeCheckReport(run, stream, counter, diagnostics, out);
    };
    run.read(counter, diagnostics);
    return status;
  }
  if (!run.layoutNote().empty()) fmt::print(err, "kolvaprof-read: {}\n", run.layoutNote());
  if (command == "text") {
    TextWriter writer(run.frames(), out, settings.output);
    run.read(writer, diagnostics);
  } else {
    Output output(settings.output, out);
    if (command == "summary") {
      CallCounter counter;
      counter.atEnd = [&](const CallStream& stream) { writeSummary(run, stream, counter, settings.top, output.get()); };
      run.read(counter, diagnostics);
    } else if (command == "collapsed" || command == "flamegraph") {
      CallTree tree(run.frames(), settings.byThread);
      run.read(tree, diagnostics);
      if (command == "collapsed") {
        writeCollapsed(tree, output.get());
      } else {
        FlamegraphOptions flamegraph = settings.flamegraph;
        if (flamegraph.title.empty())
          flamegraph.title = "Calls in " + runName(settings.runDir);
        writeFlamegraph(tree, flamegraph, output.get());
      }
    } else if (command == "speedscope") {
      writeSpeedscope(run, diagnostics, output.get());
    } else if (command == "chrome") {
      ChromeWriter writer(run.frames(), output.get(), "kolvaprof " + runName(settings.runDir));
      run.read(writer, diagnostics);
    }
    output.close();
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
  settings.flamegraph.title.clear();
  auto* callNumbers = app.add_flag("--call-numbers,!--no-call-numbers", settings.callNumbers,
                                   "binary logs: records carry call numbers (RecordMethodCallCount=1) or not; "
                                   "detected when not given");
  auto* threadIds = app.add_flag("--thread-ids,!--no-thread-ids", settings.threadIds,
                                 "binary logs: records carry thread numbers (RecordThreadID=1) or not; "
                                 "detected when not given");
  app.add_flag("--no-progress", settings.noProgress, "no progress bar on a terminal");

  auto command = [&](const char* name, const char* help) {
    CLI::App* sub = app.add_subcommand(name, help);
    sub->add_option("run-dir", settings.runDir, "the run directory (text logs, or binary logs and Index.dat)")
        ->required();
    sub->fallthrough();
    return sub;
  };
  command("text", "the logs as the agent's text lines, one output per log file")
      ->add_option("-o,--output", settings.output, "write <dir>/<log file name> instead of standard output");
  command("check", "verify the nesting of every thread; exit status 1 on damage");
  command("summary", "calls per method and per thread, maximum depth, calls still open")
      ->add_option("--top", settings.top, "the N most-called methods, 0 for all (10)");
  auto* collapsed = command("collapsed", "folded stacks \"a;b;c count\" for flame graph tools");
  auto* speedscope = command("speedscope", "a speedscope JSON file, one evented profile per thread");
  auto* chrome = command("chrome", "a Chrome trace event JSON file (Perfetto, chrome://tracing)");
  auto* flamegraph = command("flamegraph", "a self-contained SVG flame graph of call counts");
  for (CLI::App* sub : {collapsed, speedscope, chrome, flamegraph})
    sub->add_option("-o,--output", settings.output, "output file instead of standard output");
  for (CLI::App* sub : {collapsed, flamegraph})
    sub->add_flag("--by-thread", settings.byThread, "one root per thread");
  flamegraph->add_option("--title", settings.flamegraph.title, "the title line");
  flamegraph->add_option("--width", settings.flamegraph.width, "image width in pixels (1200)")
      ->check(CLI::Range(200, 100000));

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
  if (callNumbers->count() > 0) options.layout.callNumbers = settings.callNumbers;
  if (threadIds->count() > 0) options.layout.threadIds = settings.threadIds;
  options.progress = !settings.noProgress;
  options.err = err;
  try {
    return runCommand(app.get_subcommands().front()->get_name(), settings, options, out, err);
  } catch (const std::exception& e) {
    std::fflush(out);
    fmt::print(err, "kolvaprof-read: {}\n", e.what());
    return kFailed;
  }
}

}  // namespace kolvaprof::reader
