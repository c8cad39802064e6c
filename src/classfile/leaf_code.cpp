#include "classfile/leaf_code.h"

#include "classfile/byte_io.h"

namespace kolvaprof::classfile {
namespace {

// The operand stack in slots (a long or double takes two), each marked
// when it holds `this`: a field of this can neither be null nor need a
// class the method's own does not.
class Slots {
 public:
  bool pop(int count) {
    if (static_cast<int>(slots.size()) < count) return false;
    slots.resize(slots.size() - static_cast<std::size_t>(count));
    return true;
  }
  void push(int count, bool isThis = false) { slots.insert(slots.end(), count, isThis); }
  bool popThis() {
    if (slots.empty() || !slots.back()) return false;
    slots.pop_back();
    return true;
  }
  // dup, dup_x1 ... dup2_x2: the top `count` slots copied `down` slots lower.
  bool duplicate(int count, int down) {
    if (static_cast<int>(slots.size()) < count + down) return false;
    const auto top = slots.end() - count;
    std::vector<bool> copied(top, slots.end());
    slots.insert(top - down, copied.begin(), copied.end());
    return true;
  }
  bool swap() {
    if (slots.size() < 2) return false;
    const bool top = slots.back();
    slots.back() = slots[slots.size() - 2];
    slots[slots.size() - 2] = top;
    return true;
  }

 private:
  std::vector<bool> slots;
};

struct Effect {
  int8_t pops;
  int8_t pushes;
};

// Opcodes from 0x60 (iadd) to 0x98 (dcmpg), -1 pops for those that can
// throw (integer division and remainder).
constexpr Effect kArithmetic[] = {
    {2, 1}, {4, 2}, {2, 1}, {4, 2},    // add
    {2, 1}, {4, 2}, {2, 1}, {4, 2},    // sub
    {2, 1}, {4, 2}, {2, 1}, {4, 2},    // mul
    {-1, 0}, {-1, 0}, {2, 1}, {4, 2},  // div
    {-1, 0}, {-1, 0}, {2, 1}, {4, 2},  // rem
    {1, 1}, {2, 2}, {1, 1}, {2, 2},    // neg
    {2, 1}, {3, 2}, {2, 1}, {3, 2}, {2, 1}, {3, 2},  // shl shr ushr
    {2, 1}, {4, 2}, {2, 1}, {4, 2}, {2, 1}, {4, 2},  // and or xor
    {0, 0},                                          // iinc
    {1, 2}, {1, 1}, {1, 2}, {2, 1}, {2, 1}, {2, 2},  // i2l i2f i2d l2i l2f l2d
    {1, 1}, {1, 2}, {1, 2}, {2, 1}, {2, 2}, {2, 1},  // f2i f2l f2d d2i d2l d2f
    {1, 1}, {1, 1}, {1, 1},                          // i2b i2c i2s
    {4, 1}, {2, 1}, {2, 1}, {4, 1}, {4, 1},          // lcmp fcmpl fcmpg dcmpl dcmpg
};
static_assert(sizeof kArithmetic / sizeof kArithmetic[0] == 0x98 - 0x60 + 1);

int fieldSlots(std::string_view descriptor) {
  return descriptor == "J" || descriptor == "D" ? 2 : 1;
}

// A load of a constant that resolution cannot turn into a call: numbers and
// strings, not classes, method types or handles, nor dynamic constants.
bool plainConstant(const ConstantPool& pool, uint16_t index, Slots& stack) {
  switch (pool.tag(index)) {
    case kInteger:
    case kFloat:
    case kString:
      stack.push(1);
      return true;
    case kLong:
    case kDouble:
      stack.push(2);
      return true;
    default:
      return false;
  }
}

// One instruction's effect on `stack`; false where it is not leaf code.
bool step(const uint8_t* at, uint8_t opcode, const ConstantPool& pool,
          std::string_view className, bool isStatic, Slots& stack) {
  // Local 0 keeps this only while nothing is stored over it.
  const auto store = [&](int slots, int local) { return (isStatic || local != 0) && stack.pop(slots); };
  if (opcode == 0x00) return true;                                      // nop
  if (opcode >= 0x01 && opcode <= 0x08) return stack.push(1), true;     // aconst_null, iconst
  if (opcode >= 0x09 && opcode <= 0x0a) return stack.push(2), true;     // lconst
  if (opcode >= 0x0b && opcode <= 0x0d) return stack.push(1), true;     // fconst
  if (opcode >= 0x0e && opcode <= 0x0f) return stack.push(2), true;     // dconst
  if (opcode == 0x10 || opcode == 0x11) return stack.push(1), true;     // bipush, sipush
  if (opcode == 0x12) return plainConstant(pool, at[1], stack);         // ldc
  if (opcode == 0x13 || opcode == 0x14) return plainConstant(pool, readU2(at + 1), stack);
  if (opcode >= 0x15 && opcode <= 0x19) {                               // xload n
    const bool wide = opcode == 0x16 || opcode == 0x18;
    stack.push(wide ? 2 : 1, opcode == 0x19 && at[1] == 0 && !isStatic);
    return true;
  }
  if (opcode >= 0x1a && opcode <= 0x2d) {                               // xload_<n>
    const int kind = (opcode - 0x1a) / 4;  // i l f d a
    stack.push(kind == 1 || kind == 3 ? 2 : 1, opcode == 0x2a && !isStatic);
    return true;
  }
  if (opcode >= 0x36 && opcode <= 0x3a) {                               // xstore n
    return store(opcode == 0x37 || opcode == 0x39 ? 2 : 1, at[1]);
  }
  if (opcode >= 0x3b && opcode <= 0x4e) {                               // xstore_<n>
    const int kind = (opcode - 0x3b) / 4;
    return store(kind == 1 || kind == 3 ? 2 : 1, (opcode - 0x3b) % 4);
  }
  switch (opcode) {
    case 0x57: return stack.pop(1);            // pop
    case 0x58: return stack.pop(2);            // pop2
    case 0x59: return stack.duplicate(1, 0);   // dup
    case 0x5a: return stack.duplicate(1, 1);   // dup_x1
    case 0x5b: return stack.duplicate(1, 2);   // dup_x2
    case 0x5c: return stack.duplicate(2, 0);   // dup2
    case 0x5d: return stack.duplicate(2, 1);   // dup2_x1
    case 0x5e: return stack.duplicate(2, 2);   // dup2_x2
    case 0x5f: return stack.swap();
    default: break;
  }
  if (opcode >= 0x60 && opcode <= 0x98) {
    const Effect effect = kArithmetic[opcode - 0x60];
    if (effect.pops < 0 || !stack.pop(effect.pops)) return false;
    stack.push(effect.pushes);
    return true;
  }
  if (opcode == op::kGetfield || opcode == op::kPutfield) {
    const ConstantPool::MemberRef field = pool.memberRef(readU2(at + 1));
    if (isStatic || field.owner != className) return false;
    const int slots = fieldSlots(field.descriptor);
    if (opcode == op::kGetfield) {
      if (!stack.popThis()) return false;
      stack.push(slots);
      return true;
    }
    return stack.pop(slots) && stack.popThis();
  }
  return isReturn(opcode);
}

}  // namespace

bool isLeafCode(const uint8_t* code, const std::vector<Instruction>& instructions,
                const ConstantPool& pool, std::string_view className, bool isStatic) {
  Slots stack;
  for (const Instruction& insn : instructions) {
    const uint8_t* at = code + insn.offset;
    // Straight-line code ends at its first return; whatever follows could
    // only be reached by a jump, and there is none.
    if (!step(at, insn.opcode, pool, className, isStatic, stack)) return false;
    if (isReturn(insn.opcode)) return true;
  }
  return false;
}

}  // namespace kolvaprof::classfile
