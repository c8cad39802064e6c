#pragma once

#include <cstddef>
#include <string_view>

namespace kolvaprof {

// Compact: binary records written as compact blocks (format/compact_block.h).
enum class RecordEncoding { Text, Binary, Compact };

// The optional fields of a record, in the order their words follow the
// method and receiver words of a binary record.
enum class RecordField { CallNumber, ThreadNumber, Time };

struct RecordLayout;

// One optional field: how each form writes it and what the run's settings,
// the reader's options and run.json call it. The one list of these
// (kRecordFields) is what describes, chooses and serialises layouts, so a
// new field is a row here, a member of RecordLayout and its words in the
// encoder and decoder.
struct RecordFieldForm {
  RecordField field;
  bool RecordLayout::*member;
  std::size_t binaryWords;
  std::string_view textForm;  // its piece of a text entry line
  std::string_view name;      // "call numbers": in the reader's messages
  std::string_view key;       // "callNumbers": in run.json
  std::string_view option;    // "call-numbers": --call-numbers / --no-call-numbers
  std::string_view setting;   // the settings key that turns it on
};

// Which optional fields the records of a run carry; the settings fix the
// size of every binary record, entry and exit alike. Old runs do not say
// which; run.json does.
struct RecordLayout {
  bool withCallNumber = false;
  bool withThreadNumber = false;
  // Two last words: nanoseconds since the run started, low word first, so
  // that the eight bytes read as one little-endian 64-bit number.
  bool withTime = false;
  RecordEncoding encoding = RecordEncoding::Binary;

  // Method, receiver and depth words, then the optional ones.
  static constexpr std::size_t kFixedWords = 3;
  std::size_t words() const {
    return kFixedWords + (withCallNumber ? 1 : 0) + (withThreadNumber ? 1 : 0) + (withTime ? 2 : 0);
  }
  std::size_t bytes() const { return 4 * words(); }
  bool operator==(const RecordLayout& other) const {
    return withCallNumber == other.withCallNumber && withThreadNumber == other.withThreadNumber &&
           withTime == other.withTime && encoding == other.encoding;
  }
  bool operator!=(const RecordLayout& other) const { return !(*this == other); }
};

// Binary word order; text lines put the thread first: `@T N +ns`.
inline constexpr RecordFieldForm kRecordFields[] = {
    {RecordField::CallNumber, &RecordLayout::withCallNumber, 1, "N ", "call numbers", "callNumbers",
     "call-numbers", "RecordMethodCallCount"},
    {RecordField::ThreadNumber, &RecordLayout::withThreadNumber, 1, "@T ", "thread numbers", "threadNumbers",
     "thread-ids", "RecordThreadID"},
    {RecordField::Time, &RecordLayout::withTime, 2, "+ns ", "times", "times", "times", "RecordTime"},
};
inline constexpr std::size_t kRecordFieldCount = sizeof kRecordFields / sizeof kRecordFields[0];

inline constexpr std::string_view encodingName(RecordEncoding encoding) {
  return encoding == RecordEncoding::Binary ? "binary" : encoding == RecordEncoding::Compact ? "compact" : "text";
}

}  // namespace kolvaprof
