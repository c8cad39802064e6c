#include "classfile/stack_map.h"

#include <algorithm>

#include "classfile/byte_io.h"

namespace kolvaprof::classfile {

VType typeOfDescriptor(std::string_view& rest) {
  if (rest.empty()) throw FormatError("descriptor ends early");
  VType t;
  std::size_t used = 1;
  switch (rest[0]) {
    case 'B': case 'C': case 'I': case 'S': case 'Z':
      t.tag = VTag::Integer;
      break;
    case 'F':
      t.tag = VTag::Float;
      break;
    case 'J':
      t.tag = VTag::Long;
      break;
    case 'D':
      t.tag = VTag::Double;
      break;
    case 'L': {
      std::size_t end = rest.find(';');
      if (end == std::string_view::npos || end < 2) throw FormatError("bad class descriptor");
      t.tag = VTag::Object;
      t.name = rest.substr(1, end - 1);
      used = end + 1;
      break;
    }
    case '[': {
      std::size_t dims = 0;
      while (dims < rest.size() && rest[dims] == '[') ++dims;
      std::string_view element = rest.substr(dims);
      typeOfDescriptor(element);  // checks the element type
      used = rest.size() - element.size();
      t.tag = VTag::Object;
      t.name = rest.substr(0, used);
      break;
    }
    default:
      throw FormatError("bad descriptor character");
  }
  rest.remove_prefix(used);
  return t;
}

Frame initialFrame(std::string_view className, std::string_view methodName,
                   std::string_view descriptor, bool isStatic) {
  Frame f;
  if (!isStatic) {
    if (methodName == "<init>" && className != "java/lang/Object")
      f.locals.push_back({VTag::UninitializedThis, 0, {}});
    else
      f.locals.push_back({VTag::Object, 0, className});
  }
  if (descriptor.empty() || descriptor[0] != '(') throw FormatError("bad method descriptor");
  std::string_view rest = descriptor.substr(1);
  while (!rest.empty() && rest[0] != ')') {
    VType t = typeOfDescriptor(rest);
    f.locals.push_back(t);
    if (t.isWide()) f.locals.push_back({});
  }
  if (rest.empty()) throw FormatError("bad method descriptor");
  return f;
}

std::vector<VType> toList(const std::vector<VType>& slots) {
  std::vector<VType> list;
  for (std::size_t i = 0; i < slots.size(); i += slots[i].isWide() ? 2 : 1) list.push_back(slots[i]);
  return list;
}

std::vector<VType> toSlots(const std::vector<VType>& list) {
  std::vector<VType> slots;
  for (const VType& t : list) {
    slots.push_back(t);
    if (t.isWide()) slots.push_back({});
  }
  return slots;
}

void trimTop(std::vector<VType>& locals) {
  while (!locals.empty() && locals.back().tag == VTag::Top) {
    // The second half of a long or double stays with its first half.
    if (locals.size() >= 2 && locals[locals.size() - 2].isWide()) {
      break;
    }
    locals.pop_back();
  }
}

namespace {

VType readType(ByteReader& in, const ConstantPool& pool) {
  VType t;
  uint8_t tag = in.u1();
  if (tag > 8) throw FormatError("bad verification type");
  t.tag = static_cast<VTag>(tag);
  if (t.tag == VTag::Object) t.name = pool.className(in.u2());
  if (t.tag == VTag::Uninitialized) t.offset = in.u2();
  return t;
}

void writeType(ByteWriter& out, const VType& t, ConstantPool& pool) {
  out.u1(static_cast<uint8_t>(t.tag));
  if (t.tag == VTag::Object) out.u2(pool.addClass(t.name));
  if (t.tag == VTag::Uninitialized) out.u2(t.offset);
}

}  // namespace

std::vector<Frame> decodeStackMapTable(const uint8_t* data, std::size_t size, const Frame& initial,
                                       const ConstantPool& pool) {
  ByteReader in(data, size);
  uint16_t count = in.u2();
  std::vector<Frame> frames;
  frames.reserve(count);
  std::vector<VType> locals = toList(initial.locals);
  int64_t previous = -1;
  for (uint16_t i = 0; i < count; ++i) {
    uint8_t type = in.u1();
    uint32_t delta;
    std::vector<VType> stack;
    if (type < 64) {
      delta = type;
    } else if (type < 128) {
      delta = type - 64;
      stack.push_back(readType(in, pool));
    } else if (type < 247) {
      throw FormatError("reserved stack map frame type");
    } else if (type == 247) {
      delta = in.u2();
      stack.push_back(readType(in, pool));
    } else if (type < 251) {
      delta = in.u2();
      std::size_t chop = 251u - type;
      if (chop > locals.size()) throw FormatError("chop frame removes too many locals");
      locals.resize(locals.size() - chop);
    } else if (type == 251) {
      delta = in.u2();
    } else if (type < 255) {
      delta = in.u2();
      for (int k = 0; k < type - 251; ++k) locals.push_back(readType(in, pool));
    } else {
      delta = in.u2();
      locals.clear();
      uint16_t nLocals = in.u2();
      for (uint16_t k = 0; k < nLocals; ++k) locals.push_back(readType(in, pool));
      uint16_t nStack = in.u2();
      for (uint16_t k = 0; k < nStack; ++k) stack.push_back(readType(in, pool));
    }
    Frame f;
    f.offset = previous < 0 ? delta : static_cast<uint32_t>(previous + delta + 1);
    previous = f.offset;
    f.locals = toSlots(locals);
    trimTop(f.locals);
    f.stack = toSlots(stack);
    frames.push_back(std::move(f));
  }
  if (!in.atEnd()) throw FormatError("bytes after the stack map frames");
  return frames;
}

std::vector<uint8_t> encodeStackMapTable(const std::vector<Frame>& frames, const Frame& initial,
                                         ConstantPool& pool) {
  ByteWriter out;
  out.u2(static_cast<uint32_t>(frames.size()));
  std::vector<VType> previousLocals = toList(initial.locals);
  int64_t previous = -1;
  for (const Frame& f : frames) {
    if (static_cast<int64_t>(f.offset) <= previous) throw FormatError("frames out of order");
    uint32_t delta = static_cast<uint32_t>(previous < 0 ? f.offset : f.offset - previous - 1);
    previous = f.offset;
    std::vector<VType> locals = toList(f.locals);
    std::vector<VType> stack = toList(f.stack);
    bool sameLocals = locals == previousLocals;
    auto prefixOf = [](const std::vector<VType>& shorter, const std::vector<VType>& longer) {
      return shorter.size() < longer.size() &&
             std::equal(shorter.begin(), shorter.end(), longer.begin());
    };
    // A chop that drops uninitializedThis would, on HotSpot, carry the
    // constructor flag of the frame before: such frames are written in full.
    auto dropsUninitializedThis = [&]() {
      for (std::size_t k = locals.size(); k < previousLocals.size(); ++k)
        if (previousLocals[k].tag == VTag::UninitializedThis) return true;
      return false;
    };
    if (sameLocals && stack.empty()) {
      if (delta < 64) {
        out.u1(delta);
      } else {
        out.u1(251);
        out.u2(delta);
      }
    } else if (sameLocals && stack.size() == 1) {
      if (delta < 64) {
        out.u1(64 + delta);
      } else {
        out.u1(247);
        out.u2(delta);
      }
      writeType(out, stack[0], pool);
    } else if (stack.empty() && prefixOf(locals, previousLocals) &&
               previousLocals.size() - locals.size() <= 3 && !dropsUninitializedThis()) {
      out.u1(static_cast<uint32_t>(251 - (previousLocals.size() - locals.size())));
      out.u2(delta);
    } else if (stack.empty() && prefixOf(previousLocals, locals) &&
               locals.size() - previousLocals.size() <= 3) {
      out.u1(static_cast<uint32_t>(251 + (locals.size() - previousLocals.size())));
      out.u2(delta);
      for (std::size_t k = previousLocals.size(); k < locals.size(); ++k)
        writeType(out, locals[k], pool);
    } else {
      out.u1(255);
      out.u2(delta);
      out.u2(static_cast<uint32_t>(locals.size()));
      for (const VType& t : locals) writeType(out, t, pool);
      out.u2(static_cast<uint32_t>(stack.size()));
      for (const VType& t : stack) writeType(out, t, pool);
    }
    previousLocals = std::move(locals);
  }
  return std::move(out.bytes());
}

}  // namespace kolvaprof::classfile
