// Every shape of record the agent writes, encoded by the format library and
// read back by it, field for field.

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

#include "format/binary_record.h"
#include "format/index_line.h"
#include "format/text_line.h"

namespace kolvaprof {
namespace {

int32_t low32(int64_t value) { return static_cast<int32_t>(static_cast<uint32_t>(value)); }

TEST(FormatRoundTrip, BinaryRecordsInEveryLayout) {
  struct Case {
    int32_t method;  // 0: an exit
    int64_t tag;
    int64_t call;
    std::size_t depth;
    int32_t thread;
    int64_t time = 0;
  };
  const Case cases[] = {
      {7, 14, 57, 3, 2},
      {std::numeric_limits<int32_t>::max(), (int64_t{1} << 40) + 5, (int64_t{1} << 32) + 9, 1, 70000},
      {1, (int64_t{3} << 32) | 0x80000001u, 0xFFFFFFFFll, 1 << 20, 0},  // low words with the top bit set
      {2, 0, 1, 1, std::numeric_limits<int32_t>::max()},                 // a static method
      {0, 0, 0, 3, 2},
      {0, 0, 0, 1, 0},
      {3, 1, 2, 2, 1, (int64_t{5} << 32) | 0x80000001u},  // the time's low word with its top bit set
      {0, 0, 0, 2, 1, std::numeric_limits<int64_t>::max()},
  };
  for (const bool withCallNumber : {false, true}) {
    for (const bool withThreadNumber : {false, true}) {
      for (const Case& c : cases) {
        // The cases with a time are read in the layouts with time words.
        const RecordLayout layout{withCallNumber, withThreadNumber, c.time != 0};
        SCOPED_TRACE(::testing::Message() << "layout " << layout.bytes() << (withThreadNumber ? "t" : "")
                                        << ", method " << c.method << ", depth " << c.depth);
        unsigned char bytes[kMaxRecordBytes];
        const std::size_t used =
            c.method == 0 ? encodeExitRecord(bytes, layout, c.depth, c.thread, c.time)
                          : encodeEntryRecord(bytes, layout, c.method, c.tag, c.call, c.depth, c.thread, c.time);
        ASSERT_EQ(used, layout.bytes());
        const BinaryRecord r = decodeRecord(bytes, layout);
        EXPECT_EQ(r.isExit(), c.method == 0);
        EXPECT_EQ(r.method, c.method);
        EXPECT_EQ(r.tag, low32(c.tag));
        EXPECT_EQ(r.callNumber, withCallNumber ? low32(c.call) : 0);
        EXPECT_EQ(r.depth, static_cast<int32_t>(c.depth));
        EXPECT_EQ(r.thread, withThreadNumber ? c.thread : -1);
        EXPECT_EQ(r.time, layout.withTime ? c.time : -1);
      }
    }
  }
}

// The parsers take lines without their line feed and return views into them.
std::string_view withoutLineFeed(const std::string& line) {
  EXPECT_TRUE(!line.empty() && line.back() == '\n') << line;
  return std::string_view(line).substr(0, line.size() - 1);
}

void expectSameMethod(const MethodText& read, const MethodText& written) {
  EXPECT_EQ(read.returnType, written.returnType);
  EXPECT_EQ(read.packageName, written.packageName);
  EXPECT_EQ(read.className, written.className);
  EXPECT_EQ(read.methodName, written.methodName);
  EXPECT_EQ(read.parameterList, written.parameterList);
}

TEST(FormatRoundTrip, TextAndIndexLines) {
  const MethodText methods[] = {
      {"boolean", "org.demo", "Bag", "add", "int,java.lang.Object"},
      {"void", "", "Main", "main", "java.lang.String[]"},                            // default package
      {"java.lang.String[][]", "a.b", "Outer$In$1", "<init>", "int[],java.util.Map"},  // nested, arrays
      {"void", "a", "B", "lambda$run$0", ""},
      {"int", "x.y.z", "C", "<clinit>", ""},
  };
  struct Pieces {
    bool withThread;
    int32_t thread;
    bool withCall;
    int64_t call;
    const char* location;
    int64_t tag;
    std::optional<int64_t> time = std::nullopt;
  };
  const Pieces pieces[] = {
      {false, 0, false, 0, "", 0},
      {true, 2, true, 57, "42", 14},
      {true, 0, false, 0, "-1", -3},
      {false, 0, true, int64_t{1} << 40, "", std::numeric_limits<int64_t>::max()},
      {true, 2, true, 57, "42", 14, 1234567},
      {false, 0, false, 0, "", 0, 0},
      {false, 0, true, 9, "", 1, std::numeric_limits<int64_t>::max()},
      {true, std::numeric_limits<int32_t>::max(), true, 1, "0", (int64_t{1} << 40) + 5},
  };
  for (const MethodText& method : methods) {
    for (const Pieces& p : pieces) {
      std::string written;
      appendTextEntryLine(written, TextEntry{method, {p.tag, p.withThread, p.thread, p.withCall, p.call, p.location,
                                              p.time}});
      SCOPED_TRACE(written);
      // The per-call path writes the same line in place from pieces made once.
      const std::string prefix = makeEntryPrefix(method), suffix = makeEntrySuffix(method);
      const TextEntryParts parts{
          prefix, suffix, {p.tag, p.withThread, p.thread, p.withCall, p.call, p.location, p.time}};
      std::string inPlace(textEntryLineBound(parts), '\0');
      inPlace.resize(writeTextEntryLine(inPlace.data(), parts));
      EXPECT_EQ(inPlace, written);
      const TextLine line = parseTextLine(withoutLineFeed(written));
      ASSERT_EQ(line.kind, TextLine::Kind::Entry);
      EXPECT_EQ(line.thread, p.withThread ? std::optional<int32_t>(p.thread) : std::nullopt);
      EXPECT_EQ(line.callNumber, p.withCall ? std::optional<int64_t>(p.call) : std::nullopt);
      EXPECT_EQ(line.location, *p.location ? std::optional<std::string_view>(p.location) : std::nullopt);
      EXPECT_EQ(line.receiverTag, p.tag);
      EXPECT_EQ(line.time, p.time);
      expectSameMethod(line.method, method);
    }
    const int32_t number = static_cast<int32_t>(&method - methods) + 1;
    const std::string written = makeIndexMethodLine(number, method);
    SCOPED_TRACE(written);
    const IndexLine line = parseIndexLine(withoutLineFeed(written));
    ASSERT_EQ(line.fault, IndexLineFault::None);
    EXPECT_EQ(line.kind, IndexLine::Kind::Method);
    EXPECT_EQ(line.number, number);
    expectSameMethod(line.method, method);
  }

  for (const bool withThread : {false, true}) {
    for (const char* exception : {"", "java.lang.IllegalStateException"}) {
      for (const bool popped : {false, true}) {
        // Times on half the shapes, among them an exit by an exception of
        // no known name ("} +ns ").
        const std::optional<int64_t> time =
            withThread == popped ? std::optional<int64_t>(987654321) : std::nullopt;
        std::string written;
        appendTextExitLine(written, withThread, 7, popped, exception, time);
        SCOPED_TRACE(written);
        std::string inPlace(textExitLineBound(exception), '\0');
        inPlace.resize(writeTextExitLine(inPlace.data(), withThread, 7, popped, exception, time));
        EXPECT_EQ(inPlace, written);
        const TextLine line = parseTextLine(withoutLineFeed(written));
        ASSERT_EQ(line.kind, TextLine::Kind::Exit);
        EXPECT_EQ(line.thread, withThread ? std::optional<int32_t>(7) : std::nullopt);
        EXPECT_EQ(line.exception, popped ? std::optional<std::string_view>(exception) : std::nullopt);
        EXPECT_EQ(line.time, time);
      }
    }
  }

  // Names that would end the quotes or the line early come back whole; the
  // first hostile one tries to forge a Method and a Thread line.
  const std::pair<int32_t, std::string> threads[] = {
      {0, "main"},
      {12, "pool \"1\" = x"},
      {std::numeric_limits<int32_t>::max(), ""},
      {3, "x\"\nMethod 1=void forged.Evil.pwned(){\nThread 0=\"forged"},
      {4, "back\\slash\\"},
      {5, std::string("\t\r\x01\x1f\x7f\0end", 9)},
      {6, "\\x41 \\n \xc3\xa9"},
  };
  for (const auto& [number, name] : threads) {
    const std::string headerText = makeThreadHeaderLine(number, name);
    EXPECT_EQ(headerText.find('\n'), headerText.size() - 1) << headerText;
    const TextLine header = parseTextLine(withoutLineFeed(headerText));
    ASSERT_EQ(header.kind, TextLine::Kind::Header) << name;
    EXPECT_EQ(header.thread, number);
    EXPECT_EQ(header.threadName, name);
    const std::string indexText = makeIndexThreadLine(number, name);
    EXPECT_EQ(indexText.find('\n'), indexText.size() - 1) << indexText;
    const IndexLine line = parseIndexLine(withoutLineFeed(indexText));
    ASSERT_EQ(line.fault, IndexLineFault::None) << name;
    EXPECT_EQ(line.kind, IndexLine::Kind::Thread);
    EXPECT_EQ(line.number, number);
    EXPECT_EQ(line.threadName, name);
  }

  // What no encoder writes is refused, and the reason told apart.
  const std::pair<const char*, IndexLineFault> faults[] = {
      {"Method 2147483648=void a.B.c(){", IndexLineFault::NotAnIndexLine},
      {"Thread x=\"main\"", IndexLineFault::NotAnIndexLine},
      {"Thread 1=main", IndexLineFault::MalformedThread},
      {"Thread 1=\"ma", IndexLineFault::UnterminatedThread},
      {"Thread 1=\"", IndexLineFault::UnterminatedThread},
      {"Method 0=void a.B.c(){", IndexLineFault::MalformedMethod},
      {"Method 3=void B.c(){", IndexLineFault::MalformedMethod},
  };
  for (const auto& [text, fault] : faults) EXPECT_EQ(parseIndexLine(text).fault, fault) << text;

  // Names as runs from before escaping wrote them, and escapes cut short,
  // read leniently: what starts no escape stays as it is.
  EXPECT_EQ(parseIndexLine("Thread 1=\"pool \"1\" C:\\Users\"").threadName, "pool \"1\" C:\\Users");
  EXPECT_EQ(parseIndexLine("Thread 1=\"\\xg0\\x4\\X41\\x4A\\\"").threadName, "\\xg0\\x4\\X41J\\");
}

}  // namespace
}  // namespace kolvaprof
