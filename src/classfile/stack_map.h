#pragma once

// Verification types and StackMapTable frames. Frames are held with absolute
// offsets and in slot form: a long or double takes two slots, the second one
// Top, in locals and on the stack alike, so that the stack instructions that
// move slots (dup2, pop2, ...) act on them as the JVM does.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "classfile/constant_pool.h"

namespace kolvaprof::classfile {

enum class VTag : uint8_t {
  Top = 0,
  Integer = 1,
  Float = 2,
  Double = 3,
  Long = 4,
  Null = 5,
  UninitializedThis = 6,
  Object = 7,
  Uninitialized = 8,
};

struct VType {
  VTag tag = VTag::Top;
  uint32_t offset = 0;     // Uninitialized: the offset of its `new`
  std::string_view name;  // Object: internal name or array descriptor

  bool isWide() const { return tag == VTag::Long || tag == VTag::Double; }
  bool operator==(const VType& o) const {
    return tag == o.tag && offset == o.offset && name == o.name;
  }
  bool operator!=(const VType& o) const { return !(*this == o); }
};

struct Frame {
  uint32_t offset = 0;
  std::vector<VType> locals;  // slot form, no trailing Top
  std::vector<VType> stack;   // slot form
};

// Names made while rewriting (array types) live here for the whole rewrite.
class NameArena {
 public:
  std::string_view keep(std::string s) { return names_.emplace_back(std::move(s)); }

 private:
  std::deque<std::string> names_;
};

// The verifier's implicit frame at offset 0 (the offset is not used).
// Throws FormatError on a malformed descriptor.
Frame initialFrame(std::string_view className, std::string_view methodName,
                   std::string_view descriptor, bool isStatic);

// The type a field descriptor (or one parameter of a method descriptor) stands
// for; `rest` is advanced past it.
VType typeOfDescriptor(std::string_view& rest);

std::vector<Frame> decodeStackMapTable(const uint8_t* data, std::size_t size, const Frame& initial,
                                       const ConstantPool& pool);
// Frames in increasing offset order; picks the shortest form for each.
std::vector<uint8_t> encodeStackMapTable(const std::vector<Frame>& frames, const Frame& initial,
                                         ConstantPool& pool);

// Slot form <-> the list form the attribute uses.
std::vector<VType> toList(const std::vector<VType>& slots);
std::vector<VType> toSlots(const std::vector<VType>& list);
void trimTop(std::vector<VType>& locals);

}  // namespace kolvaprof::classfile
