#include <gtest/gtest.h>

#include <charconv>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "format/binary_record.h"
#include "format/decimal.h"
#include "format/index_line.h"
#include "format/text_line.h"

namespace {

using kolvaprof::MethodText;
using kolvaprof::RecordLayout;
using kolvaprof::TextEntry;

const MethodText bagAdd{"boolean", "org.demo", "Bag", "add", "int,java.lang.Object"};
const MethodText utilRun{"void", "org.demo", "Util", "run", ""};
const MethodText mainMain{"void", "", "Main", "main", "java.lang.String[]"};

const int64_t kAbove32 = (int64_t{1} << 40) + 5;

struct EntryCase {
  const MethodText& method;
  int64_t tag;
  bool withThread;
  int32_t thread;
  bool withCall;
  int64_t call;
  const char* location;
  const char* expected;
};

TEST(TextRecords, EntryLines) {
  const EntryCase cases[] = {
      {bagAdd, 14, true, 2, true, 57, "",
       "@2 57 boolean org.demo.Bag(14).add(int,java.lang.Object){\n"},
      {bagAdd, 14, true, 2, true, 57, "42",
       "@2 57 From:42 boolean org.demo.Bag(14).add(int,java.lang.Object){\n"},
      {bagAdd, 1, false, 0, false, 1, "", "boolean org.demo.Bag(1).add(int,java.lang.Object){\n"},
      {utilRun, 0, false, 0, false, 9, "", "void org.demo.Util(0).run(){\n"},
      {mainMain, 0, false, 0, false, 1, "", "void .Main(0).main(java.lang.String[]){\n"},
      {utilRun, 0, true, 0, false, 3, "17", "@0 From:17 void org.demo.Util(0).run(){\n"},
      {utilRun, 0, false, 0, true, 3, "-1", "3 From:-1 void org.demo.Util(0).run(){\n"},
      {utilRun, kAbove32, true, 123456, true, (int64_t{1} << 33) + 1, "",
       "@123456 8589934593 void org.demo.Util(1099511627781).run(){\n"},
      {utilRun, -3, false, 0, false, 1, "", "void org.demo.Util(-3).run(){\n"},
  };
  for (const EntryCase& c : cases) {
    SCOPED_TRACE(c.expected);
    std::string line;
    kolvaprof::appendTextEntryLine(
        line, TextEntry{c.method, {c.tag, c.withThread, c.thread, c.withCall, c.call,
                               c.location, std::nullopt}});
    EXPECT_EQ(line, c.expected);
  }
}

// Every width either side of a power of ten, both signs and the extremes,
// against the standard library's own digits.
TEST(TextRecords, DecimalsAsTheStandardWritesThem) {
  std::vector<int64_t> values = {0, INT64_MIN, INT64_MAX, INT32_MIN, INT32_MAX};
  for (int64_t power = 1;; power *= 10) {
    for (const int64_t step : {-1, 0, 1}) {
      values.push_back(power + step);
      values.push_back(-(power + step));
    }
    if (power > INT64_MAX / 10) break;
  }
  for (const int64_t value : values) {
    char ours[kolvaprof::kMaxDecimalChars];
    char theirs[24];
    const char* const end = std::to_chars(theirs, theirs + sizeof theirs, value).ptr;
    EXPECT_EQ(std::string_view(ours, kolvaprof::writeDecimal(ours, value) - ours),
              std::string_view(theirs, end - theirs));
  }
}

TEST(TextRecords, EntryLineIsAppended) {
  std::string line = "@thread 0 = \"main\"\n";
  kolvaprof::appendTextEntryLine(line, TextEntry{utilRun, {0, false, 0, false, 1, "", std::nullopt}});
  EXPECT_EQ(line, "@thread 0 = \"main\"\nvoid org.demo.Util(0).run(){\n");
}

TEST(TextRecords, ExitLines) {
  struct Case {
    bool withThread;
    int32_t thread;
    bool popped;
    const char* exception;
    const char* expected;
  };
  const Case cases[] = {
      {false, 0, false, "java.lang.IllegalStateException", "}\n"},
      {true, 2, false, "java.lang.IllegalStateException", "@2 }\n"},
      {false, 0, true, "java.lang.IllegalStateException", "} java.lang.IllegalStateException\n"},
      {true, 2, true, "java.lang.IllegalStateException", "@2 } java.lang.IllegalStateException\n"},
      // No exception reported since start: a lone blank.
      {false, 0, true, "", "} \n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expected);
    std::string line = "x";
    kolvaprof::appendTextExitLine(line, c.withThread, c.thread, c.popped, c.exception);
    EXPECT_EQ(line, std::string("x") + c.expected);
  }
}

std::vector<unsigned char> littleEndian(const std::vector<uint32_t>& words) {
  std::vector<unsigned char> bytes;
  for (uint32_t w : words) {
    for (int shift = 0; shift < 32; shift += 8) bytes.push_back(static_cast<unsigned char>(w >> shift));
  }
  return bytes;
}

std::vector<unsigned char> entryRecord(RecordLayout layout, int32_t method, int64_t tag, int64_t call,
                                 std::size_t depth, int32_t thread) {
  unsigned char out[kolvaprof::kMaxRecordBytes] = {};
  const std::size_t used = kolvaprof::encodeEntryRecord(out, layout, method, tag, call, depth, thread);
  EXPECT_EQ(used, layout.bytes());
  return std::vector<unsigned char>(out, out + used);
}

std::vector<unsigned char> exitRecord(RecordLayout layout, std::size_t depth, int32_t thread) {
  unsigned char out[kolvaprof::kMaxRecordBytes] = {};
  const std::size_t used = kolvaprof::encodeExitRecord(out, layout, depth, thread);
  EXPECT_EQ(used, layout.bytes());
  return std::vector<unsigned char>(out, out + used);
}

TEST(BinaryRecords, AllFourLayouts) {
  const int64_t call = (int64_t{1} << 32) + 9;  // keeps 9
  const RecordLayout plain{false, false};
  const RecordLayout thread{false, true};
  const RecordLayout count{true, false};
  const RecordLayout both{true, true};

  EXPECT_EQ(entryRecord(plain, 7, kAbove32, call, 3, 2), littleEndian({7, 5, 3}));
  EXPECT_EQ(entryRecord(thread, 7, kAbove32, call, 3, 2), littleEndian({7, 5, 3, 2}));
  EXPECT_EQ(entryRecord(count, 7, kAbove32, call, 3, 2), littleEndian({7, 5, 9, 3}));
  EXPECT_EQ(entryRecord(both, 7, kAbove32, call, 3, 2), littleEndian({7, 5, 9, 3, 2}));

  EXPECT_EQ(exitRecord(plain, 3, 2), littleEndian({0, 0, 3}));
  EXPECT_EQ(exitRecord(thread, 3, 2), littleEndian({0, 0, 3, 2}));
  EXPECT_EQ(exitRecord(count, 3, 2), littleEndian({0, 0, 0, 3}));
  EXPECT_EQ(exitRecord(both, 3, 2), littleEndian({0, 0, 0, 3, 2}));
}

TEST(BinaryRecords, ByteOrderAndStaticReceiver) {
  // A static method has tag 0; a tag whose low word has its top bit set keeps
  // exactly those 32 bits.
  const std::vector<unsigned char> staticEntry = {0x04, 0x03, 0x02, 0x01, 0, 0, 0, 0,
                                                  0x01, 0,    0,    0};
  EXPECT_EQ(entryRecord({false, false}, 0x01020304, 0, 1, 1, 0), staticEntry);
  EXPECT_EQ(entryRecord({true, true}, 1, (int64_t{3} << 32) | 0x80000001u, 0xFFFFFFFFll, 1, 70000),
            (std::vector<unsigned char>{1, 0, 0, 0, 0x01, 0, 0, 0x80, 0xFF, 0xFF, 0xFF, 0xFF, 1, 0,
                                        0, 0, 0x70, 0x11, 0x01, 0}));
}

TEST(HeaderAndIndexLines, AsWritten) {
  EXPECT_EQ(kolvaprof::makeThreadHeaderLine(0, "main"), "@thread 0 = \"main\"\n");
  EXPECT_EQ(kolvaprof::makeThreadHeaderLine(12, "main(2)"), "@thread 12 = \"main(2)\"\n");
  EXPECT_EQ(kolvaprof::makeIndexThreadLine(17, "UnknownThread1"), "Thread 17=\"UnknownThread1\"\n");
  // The escapes, byte for byte, in both places.
  const std::string hostile = std::string("a\"\\\n\t\r\x01\x7f\xc3\xa9;", 11);
  EXPECT_EQ(kolvaprof::makeIndexThreadLine(2, hostile), "Thread 2=\"a\\\"\\\\\\n\\t\\r\\x01\\x7f\xc3\xa9;\"\n");
  EXPECT_EQ(kolvaprof::makeThreadHeaderLine(2, hostile), "@thread 2 = \"a\\\"\\\\\\n\\t\\r\\x01\\x7f\xc3\xa9;\"\n");
  const struct {
    int32_t number;
    MethodText method;
    const char* line;
  } methods[] = {
      {1, {"void", "shop", "Cart", "add", "int,java.lang.String"},
       "Method 1=void shop.Cart.add(int,java.lang.String){\n"},
      {3, {"int", "", "Main", "run", ""}, "Method 3=int .Main.run(){\n"},
      {12345, {"void", "org.demo", "Bag$Inner", "<init>", "long[][],org.demo.Bag"},
       "Method 12345=void org.demo.Bag$Inner.<init>(long[][],org.demo.Bag){\n"},
  };
  for (const auto& m : methods) EXPECT_EQ(kolvaprof::makeIndexMethodLine(m.number, m.method), m.line);
}

}  // namespace
