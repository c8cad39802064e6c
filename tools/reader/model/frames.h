#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "reader/input/index_file_parser.h"

namespace kolvaprof::reader {

class Diagnostics;
struct Position;

// "a.b.C.run(int)", or "C.run(int)" for the default package: how frames are
// named in every output but text.
std::string frameName(std::string_view packageName, std::string_view className, std::string_view methodName,
                      std::string_view parameters);

using FrameId = std::uint32_t;
using NameId = std::uint32_t;

// Every method seen, once, and the names that the outputs show. Two methods
// may share a shown name (a bridge method differs only in its return type),
// so trees and profiles work on name ids.
class FrameTable {
 public:
  // Unknown method numbers beyond this many distinct ones share one frame, so
  // that a garbage file cannot make the table grow with its size.
  static constexpr std::size_t kMaxUnknownFrames = 4096;

  explicit FrameTable(const Index* index = nullptr) : index(index) {}

  FrameId intern(std::string_view returnType, std::string_view packageName, std::string_view className,
                 std::string_view methodName, std::string_view parameters);
  // The frame of a binary record's method number; reports numbers that
  // Index.dat does not name.
  FrameId forMethodNumber(std::int32_t number, Diagnostics& diagnostics, const Position& where);
  // The frame of a method number already looked up and named by Index.dat,
  // or kNoFrame: what forMethodNumber would give, without a call.
  static constexpr FrameId kNoFrame = static_cast<FrameId>(-1);
  FrameId knownFrame(std::int32_t number) const {
    const auto at = static_cast<std::uint32_t>(number);
    return at < byNumber.size() ? byNumber[at] : kNoFrame;
  }

  const MethodName& method(FrameId frame) const { return frames[frame].method; }
  NameId nameOf(FrameId frame) const { return frames[frame].name; }
  const std::string& name(NameId name) const { return names[name]; }
  std::size_t nameCount() const { return names.size(); }
  NameId internName(std::string_view name);

 private:
  FrameId add(MethodName method, std::string shownName);

  struct Frame {
    MethodName method;
    NameId name;
  };
  const Index* index;
  std::vector<Frame> frames;
  std::unordered_map<std::string, FrameId> byKey;
  std::vector<std::string> names;
  std::unordered_map<std::string, NameId> nameIds;
  std::vector<FrameId> byNumber;  // dense cache for binary records; kNone when not yet seen
  std::unordered_map<std::int32_t, FrameId> unknownNumbers;
  std::optional<FrameId> overflowFrame;
  std::string scratch;
  std::string keyBuffer;
};

}  // namespace kolvaprof::reader
