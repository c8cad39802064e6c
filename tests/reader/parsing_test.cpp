// The text line parser and the detection of the binary record layout.

#include <gtest/gtest.h>

#include "format/text_line.h"
#include "format/thread_block.h"
#include "reader/input/block_log_parser.h"
#include "reader/input/diagnostics.h"
#include "reader/input/index_file_parser.h"
#include "reader/input/layout_detection.h"
#include "reader/input/record_sink.h"
#include "reader/input/run_directory.h"
#include "reader/reader_fixture.h"

namespace kolvaprof::reader::test {
namespace {

// The pieces of one parsed line joined by "|", "-" for an absent one.
std::string pieces(std::string_view line) {
  const TextLine t = parseTextLine(line);
  auto opt = [](const auto& value) {
    if (!value) return std::string("-");
    std::ostringstream out;
    out << *value;
    return out.str();
  };
  switch (t.kind) {
    case TextLine::Kind::Stray: return "stray";
    case TextLine::Kind::Header: return "header|" + opt(t.thread) + "|" + std::string(t.threadName);
    case TextLine::Kind::Exit: return "exit|" + opt(t.thread) + "|" + opt(t.exception);
    case TextLine::Kind::Entry: break;
  }
  const MethodText& m = t.method;
  return "entry|" + opt(t.thread) + "|" + opt(t.callNumber) + "|" + opt(t.location) + "|" +
         std::string(m.returnType) + "|" + std::string(m.packageName) + "|" + std::string(m.className) + "|" +
         std::to_string(t.receiverTag) + "|" + std::string(m.methodName) + "|" + std::string(m.parameterList);
}

TEST(TextLine, EveryOptionalPieceIsFoundOnItsOwn) {
  const std::pair<const char*, const char*> cases[] = {
      {"boolean org.demo.Bag(14).add(int,java.lang.Object){", "entry|-|-|-|boolean|org.demo|Bag|14|add|int,java.lang.Object"},
      {"@2 57 From:42 boolean org.demo.Bag(14).add(int,java.lang.Object){",
       "entry|2|57|42|boolean|org.demo|Bag|14|add|int,java.lang.Object"},
      {"57 From:-1 void .Main(0).main(java.lang.String[]){", "entry|-|57|-1|void||Main|0|main|java.lang.String[]"},
      {"java.lang.String[][] a.b.Outer$In$1(3).<init>(int[],java.util.Map){",
       "entry|-|-|-|java.lang.String[][]|a.b|Outer$In$1|3|<init>|int[],java.util.Map"},
      {"void a.B(-9).lambda$run$0(){", "entry|-|-|-|void|a|B|-9|lambda$run$0|"},
      {"@3 }", "exit|3|-"},
      {"} java.lang.IllegalStateException", "exit|-|java.lang.IllegalStateException"},
      {"} ", "exit|-|"},
      {"@thread 12 = \"pool \"1\"\"", "header|12|pool \"1\""},
      {"@thread x = \"main\"", "stray"},
      {"void a.B.run(){", "stray"},
      {"void a.B(x).run(){", "stray"},
      {"a.B(1).run(){", "stray"},
      {"@ 1 }", "stray"},
      {"}}", "stray"},
      {"", "stray"},
  };
  for (const auto& [line, expected] : cases) EXPECT_EQ(pieces(line), expected) << line;
}

// What a block file hands over: "h<thread>=<name>", "e<thread>", "x<thread>".
struct BlockRecords : RecordSink {
  std::string seen;
  void header(std::int32_t number, std::string_view name) override {
    seen += "h" + std::to_string(number) + "=" + std::string(name) + " ";
  }
  void entry(const LogFileInfo&, const LoggedEntry& entry, const Position&) override {
    seen += "e" + std::to_string(entry.thread) + " ";
  }
  void exit(const LogFileInfo&, const LoggedExit& exit, const Position&) override {
    seen += "x" + std::to_string(exit.thread) + " ";
  }
};

// Records go to the thread the block names, whatever they carry and however
// the file is cut into pieces; a line that is no header and a block cut
// short are reported, and the blocks around them still read.
TEST(BlockFile, ReadsEachBlockAsItsThreadsAndReportsDamage) {
  const std::string records = "@3 void p.C(0).m(){\n}\n";
  const std::string file = makeThreadBlockHeader(7, "vt \"a\"", records.size()) + records + "garbage\n" +
                           makeThreadBlockHeader(9, "b", 2) + "}\n" + makeThreadBlockHeader(8, "c", 50) + "{";
  for (const std::size_t piece : {file.size(), std::size_t{1}, std::size_t{7}}) {
    SCOPED_TRACE(piece);
    const LogFileInfo info{0, "VirtualThreads.vlog", "", file.size(), true};
    BlockRecords sink;
    Diagnostics diagnostics(true);
    BlockLogParser parser(info, std::nullopt, sink, diagnostics);
    for (std::size_t at = 0; at < file.size(); at += piece) parser.feed(std::string_view(file).substr(at, piece));
    parser.finish();
    EXPECT_EQ(sink.seen, "h7=vt \"a\" e7 x7 h9=b x9 h8=c ");
    EXPECT_EQ(diagnostics.count(Problem::StrayLine), 1u);        // "garbage"
    EXPECT_EQ(diagnostics.count(Problem::TruncatedRecord), 1u);  // the last block, cut short
    EXPECT_EQ(diagnostics.count(Problem::IncompleteLine), 1u);   // and its "{" without a line feed
  }
}

TEST(IndexFile, KeepsWhatItCanOfAPartialFile) {
  Index index;
  Diagnostics diagnostics;
  IndexFileParser parser(index, "Index.dat", diagnostics);
  parser.feed("Method 1=int .Main.run(){\nThread 0=\"main\"\ngarbage\nMeth");
  parser.feed("od 2=void a.b.C.<init>(int,a.D[]){\nMethod 3=void a.C.x(");
  parser.finish();
  ASSERT_EQ(index.methods.size(), 2u);
  EXPECT_EQ(index.methods.at(1).packageName, "");
  EXPECT_EQ(index.methods.at(2).parameters, "int,a.D[]");
  EXPECT_EQ(index.threads.at(0), "main");
  EXPECT_EQ(diagnostics.count(Problem::IndexLine), 3u);  // garbage; the cut last line, twice over
}

// The same calls under every layout: an outer call with two inner ones, on
// two per-thread files, with call numbers and thread numbers as recorded.
std::string encode(RecordLayout layout, std::int32_t thread, std::int32_t firstCall) {
  const std::int32_t c = firstCall;
  return records(layout, {{1, 0, c, 1, thread},
                          {2, 4, c + 1, 2, thread},
                          {0, 0, 0, 2, thread},
                          {2, 4, c + 2, 2, thread},
                          {3, 5, c + 3, 3, thread},
                          {0, 0, 0, 3, thread},
                          {0, 0, 0, 2, thread},
                          {0, 0, 0, 1, thread}});
}

TEST(LayoutDetection, FindsEachLayoutAndRefusesWhatItCannotTell) {
  for (const RecordLayout layout : candidateLayouts({})) {
    SCOPED_TRACE(describeLayout(layout));
    ScratchDir scratch;
    const std::string threads = layout.withThreadNumber ? "Thread 0=\"main\"\nThread 1=\"worker\"\n" : "";
    scratch.write("run/Index.dat",
                  threads + "Method 1=void a.Main.main(){\nMethod 2=int a.B.f(){\nMethod 3=int a.B.g(){\n");
    scratch.write("run/main.log", encode(layout, 0, 1));
    scratch.write("run/worker.log", encode(layout, 1, 4));
    const RunDirectory run = scanRunDirectory(scratch.path() + "/run");
    Diagnostics diagnostics;
    const Index index = readIndexFile(run.indexPath, diagnostics);
    const LayoutChoice choice = detectLayout(run, index, {});
    ASSERT_TRUE(choice.layout) << choice.message;
    EXPECT_EQ(*choice.layout, layout);
    EXPECT_EQ(choice.message, "");
    // A setting given on the command line that contradicts the records.
    const LayoutChoice wrong = detectLayout(run, index, {!layout.withCallNumber, layout.withThreadNumber, layout.withTime});
    EXPECT_FALSE(wrong.layout && *wrong.layout == layout);
  }
  // Two candidates that both fit exactly are refused, naming both.
  LayoutFit perfect;
  perfect.records = 10;
  const LayoutChoice tie = chooseLayout({{false, true}, {true, false}}, {perfect, perfect});
  EXPECT_FALSE(tie.layout);
  EXPECT_NE(tie.message.find("--no-call-numbers --thread-ids"), std::string::npos) << tie.message;
  EXPECT_NE(tie.message.find("--call-numbers --no-thread-ids"), std::string::npos) << tie.message;
}

}  // namespace
}  // namespace kolvaprof::reader::test
