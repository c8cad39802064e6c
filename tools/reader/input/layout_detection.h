#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "format/binary_record.h"

namespace kolvaprof::reader {

struct Index;
struct RunDirectory;

// "20-byte records (call numbers, thread numbers)", ", times" added when
// the records carry them.
std::string describeLayout(RecordLayout layout);
// "--call-numbers --no-thread-ids --no-times": how to choose the layout on the
// command line.
std::string layoutOptions(RecordLayout layout);

// What the command line fixed, by the rows of kRecordFields; an unset field
// is taken from run.json or detected.
struct LayoutRequest {
  std::array<std::optional<bool>, kRecordFieldCount> fields;

  // `layout` with the fields the command line fixed.
  RecordLayout applyTo(RecordLayout layout) const;
};

std::vector<RecordLayout> candidateLayouts(const LayoutRequest& request);

// How well one candidate layout reads the beginning of one file.
struct LayoutFit {
  std::uint64_t records = 0;
  std::uint64_t faults = 0;          // depth, exit-word, thread-word and time rules broken
  std::uint64_t unnamedMethods = 0;  // entries whose number Index.dat does not name
  std::uint64_t unnamedThreads = 0;  // thread words that Index.dat's Thread lines do not name
  std::uint64_t unevenFiles = 0;     // files whose size is not a multiple of the record size
  std::uint64_t soundFiles = 0;      // files with records, read without a fault and evenly

  void add(const LayoutFit& other);
};

LayoutFit fitLayout(RecordLayout layout, std::string_view sample, std::uint64_t fileSize, const Index& index);

struct LayoutChoice {
  std::optional<RecordLayout> layout;  // nullopt: refused, `message` says why
  std::string message;                 // a note for the user, or why it was refused
};

// Keeps the candidates under which every file splits evenly, every entry's
// method is named, depths rise and fall by one, exit words are zero, thread
// words are named (or at least constant per file) and times never fall
// within a thread. Exactly one must
// remain. When none does (a damaged run), the candidate that reads more
// files soundly than every other, or breaks the structural rules far less
// often, is taken, and said so;
// names missing from Index.dat are left out of that ranking, since a damaged
// index must not count against the layouts that carry what it names.
LayoutChoice chooseLayout(const std::vector<RecordLayout>& candidates, const std::vector<LayoutFit>& fits);

// Reads at most `sampleRecords` records from the start of each file.
LayoutChoice detectLayout(const RunDirectory& run, const Index& index, const LayoutRequest& request,
                          std::size_t sampleRecords = 1 << 16);

}  // namespace kolvaprof::reader
