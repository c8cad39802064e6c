#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "format/binary_record.h"
#include "format/run_manifest.h"

namespace kolvaprof {
namespace {

RunManifest sample() {
  RunManifest m;
  m.agentVersion = "1.5.1";
  m.engine = "bytecode";
  m.settings = {{"LogfileDirectory", {"logs/a \"b\""}, false}, {"MethodFilter", {"A.run", "B.*"}, true},
                {"StartMethod", {}, true}};
  m.layout = {true, false, true};
  m.jvm = {"Vendor", "7.0+1", "Some VM", {"java", "-Dx=\t\n\\", "Main", "\xc3\xa9"}, 4242};
  m.startStamp = "20261209143518";
  m.startEpochNanoseconds = 1796826918306783404;
  m.timeBase = "tsc";
  return m;
}

void expectSame(const RunManifest& a, const RunManifest& b) {
  EXPECT_EQ(a.formatVersion, b.formatVersion);
  EXPECT_EQ(a.agentVersion, b.agentVersion);
  EXPECT_EQ(a.engine, b.engine);
  ASSERT_EQ(a.settings.size(), b.settings.size());
  for (std::size_t i = 0; i < a.settings.size(); ++i) {
    EXPECT_EQ(a.settings[i].key, b.settings[i].key);
    EXPECT_EQ(a.settings[i].values, b.settings[i].values);
    EXPECT_EQ(a.settings[i].list, b.settings[i].list);
  }
  EXPECT_EQ(a.layout, b.layout);
  EXPECT_EQ(a.jvm.vendor, b.jvm.vendor);
  EXPECT_EQ(a.jvm.version, b.jvm.version);
  EXPECT_EQ(a.jvm.name, b.jvm.name);
  EXPECT_EQ(a.jvm.commandLine, b.jvm.commandLine);
  EXPECT_EQ(a.jvm.pid, b.jvm.pid);
  EXPECT_EQ(a.startStamp, b.startStamp);
  EXPECT_EQ(a.startEpochNanoseconds, b.startEpochNanoseconds);
  EXPECT_EQ(a.timeBase, b.timeBase);
  EXPECT_EQ(a.complete, b.complete);
  ASSERT_EQ(a.end.has_value(), b.end.has_value());
  if (!a.end) return;
  EXPECT_EQ(a.end->records, b.end->records);
  EXPECT_EQ(a.end->threads, b.end->threads);
  EXPECT_EQ(a.end->methodsKnown, b.end->methodsKnown);
  EXPECT_EQ(a.end->methodsInIndex, b.end->methodsInIndex);
  EXPECT_EQ(a.end->failedFiles, b.end->failedFiles);
}

// A manifest at the start, one at a clean end, one of a text run and one of
// compact blocks:
// each reads back as it was written.
TEST(RunManifest, ReadsBackWhatWasWritten) {
  RunManifest start = sample();
  RunManifest end = sample();
  end.complete = true;
  end.end = RunManifest::End{(uint64_t{1} << 40) + 3, 7, 12845, 3, {"logs/x/(0).log"}};
  RunManifest text = sample();
  text.layout = {false, true, false, RecordEncoding::Text};
  RunManifest compact = sample();
  compact.layout = {true, false, true, RecordEncoding::Compact};
  for (const RunManifest& written : {start, end, text, compact}) {
    const std::string json = writeManifest(written);
    SCOPED_TRACE(json);
    const ManifestReading read = parseManifest(json);
    ASSERT_TRUE(read.manifest) << read.error;
    expectSame(written, *read.manifest);
  }
}

// What a damaged or foreign run.json gets: an error that names the fault,
// never a manifest that would misread the records.
TEST(RunManifest, RefusesWhatItCannotTrust) {
  const std::string good = writeManifest(sample());
  auto replaced = [&](const std::string& from, const std::string& to) {
    std::string text = good;
    const std::size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return at == std::string::npos ? text : text.replace(at, from.size(), to);
  };
  const struct {
    const char* label;
    std::string text;
    const char* error;
  } cases[] = {
      {"cut short", good.substr(0, good.size() / 2), "not JSON"},
      {"empty", "", "not JSON"},
      {"an array", "[1]", "not a JSON object"},
      {"newer format", replaced("\"formatVersion\": 1", "\"formatVersion\": 2"), "format version 2"},
      {"no layout", replaced("\"recordLayout\"", "\"layout\""), "recordLayout is missing"},
      {"field as text", replaced("\"times\": true", "\"times\": \"1\""), "recordLayout.times"},
      {"unknown field", replaced("\"times\": true", "\"times\": true, \"cpu\": true"), "does not know: cpu"},
      {"wrong size", replaced("\"recordBytes\": 24", "\"recordBytes\": 20"), "recordBytes"},
      {"odd encoding", replaced("\"binary\"", "\"gzip\""), "none of text, binary and compact"},
      {"pid as text", replaced("\"pid\": 4242", "\"pid\": \"4242\""), "jvm.pid"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    const ManifestReading read = parseManifest(c.text);
    EXPECT_FALSE(read.manifest);
    EXPECT_NE(read.error.find(c.error), std::string::npos) << read.error;
  }
}

// The field table and the record codec agree for every layout: the size the
// table adds up is what the encoders write, and each field reads back.
TEST(RecordLayoutDescription, TableMatchesTheRecords) {
  std::size_t optionalWords = 0;
  for (const RecordFieldForm& form : kRecordFields) optionalWords += form.binaryWords;
  EXPECT_EQ(4 * (RecordLayout::kFixedWords + optionalWords), kMaxRecordBytes);
  for (unsigned bits = 0; bits < (1u << kRecordFieldCount); ++bits) {
    RecordLayout layout;
    std::size_t words = RecordLayout::kFixedWords;
    for (std::size_t i = 0; i < kRecordFieldCount; ++i) {
      layout.*kRecordFields[i].member = (bits >> i & 1u) != 0;
      if (layout.*kRecordFields[i].member) words += kRecordFields[i].binaryWords;
    }
    SCOPED_TRACE(bits);
    EXPECT_EQ(layout.bytes(), 4 * words);
    unsigned char out[kMaxRecordBytes];
    ASSERT_EQ(encodeEntryRecord(out, layout, 9, 8, 7, 3, 5, int64_t{1} << 33), layout.bytes());
    ASSERT_EQ(encodeExitRecord(out + 0, layout, 3, 5, 1), layout.bytes());
    encodeEntryRecord(out, layout, 9, 8, 7, 3, 5, int64_t{1} << 33);
    const BinaryRecord back = decodeRecord(out, layout);
    EXPECT_EQ(back.callNumber, layout.withCallNumber ? 7 : 0);
    EXPECT_EQ(back.thread, layout.withThreadNumber ? 5 : -1);
    EXPECT_EQ(back.time, layout.withTime ? int64_t{1} << 33 : -1);
    EXPECT_EQ(back.depth, 3);
  }
}

}  // namespace
}  // namespace kolvaprof
