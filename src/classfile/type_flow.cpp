#include "classfile/type_flow.h"

#include <optional>
#include <string>

#include "classfile/byte_io.h"

namespace kolvaprof::classfile {

namespace {

constexpr std::string_view kObject = "java/lang/Object";

VType prim(VTag tag) { return VType{tag, 0, {}}; }
VType object(std::string_view name) { return VType{VTag::Object, 0, name}; }

class Machine {
 public:
  Machine(const FlowInput& in, NameArena& arena, TypeState& s) : in_(in), arena_(arena), s_(s) {}

  // Applies instruction `insn` to the state; returns true when it is an
  // invokespecial <init> on uninitializedThis.
  bool step(const Instruction& insn) {
    const uint8_t* p = in_.code + insn.offset;
    uint8_t opcode = insn.opcode;
    switch (opcode) {
      case 0x00: break;  // nop
      case 0x01: push(prim(VTag::Null)); break;
      case 0x02: case 0x03: case 0x04: case 0x05: case 0x06: case 0x07: case 0x08:
      case 0x10: case 0x11:
        push(prim(VTag::Integer)); break;
      case 0x09: case 0x0a: push(prim(VTag::Long)); break;
      case 0x0b: case 0x0c: case 0x0d: push(prim(VTag::Float)); break;
      case 0x0e: case 0x0f: push(prim(VTag::Double)); break;
      case 0x12: push(constantType(p[1])); break;
      case 0x13: case 0x14: push(constantType(readU2(p + 1))); break;
      case 0x15: case 0x16: case 0x17: case 0x18: case 0x19: load(p[1]); break;
      case 0x1a: case 0x1b: case 0x1c: case 0x1d:
      case 0x1e: case 0x1f: case 0x20: case 0x21:
      case 0x22: case 0x23: case 0x24: case 0x25:
      case 0x26: case 0x27: case 0x28: case 0x29:
      case 0x2a: case 0x2b: case 0x2c: case 0x2d:
        load((opcode - 0x1a) % 4);
        break;
      case 0x2e: case 0x33: case 0x34: case 0x35: pop(2); push(prim(VTag::Integer)); break;
      case 0x2f: pop(2); push(prim(VTag::Long)); break;
      case 0x30: pop(2); push(prim(VTag::Float)); break;
      case 0x31: pop(2); push(prim(VTag::Double)); break;
      case 0x32: {  // aaload
        pop(1);
        VType array = popOne();
        push(componentOf(array));
        break;
      }
      case 0x36: store(p[1], prim(VTag::Integer)); break;
      case 0x37: store(p[1], prim(VTag::Long)); break;
      case 0x38: store(p[1], prim(VTag::Float)); break;
      case 0x39: store(p[1], prim(VTag::Double)); break;
      case 0x3a: storeReference(p[1]); break;
      case 0x3b: case 0x3c: case 0x3d: case 0x3e: store(opcode - 0x3b, prim(VTag::Integer)); break;
      case 0x3f: case 0x40: case 0x41: case 0x42: store(opcode - 0x3f, prim(VTag::Long)); break;
      case 0x43: case 0x44: case 0x45: case 0x46: store(opcode - 0x43, prim(VTag::Float)); break;
      case 0x47: case 0x48: case 0x49: case 0x4a: store(opcode - 0x47, prim(VTag::Double)); break;
      case 0x4b: case 0x4c: case 0x4d: case 0x4e: storeReference(opcode - 0x4b); break;
      case 0x4f: case 0x51: case 0x53: case 0x54: case 0x55: case 0x56: pop(3); break;
      case 0x50: case 0x52: pop(4); break;
      case 0x57: pop(1); break;
      case 0x58: pop(2); break;
      case 0x59: dup({0, 0}, 1); break;              // dup
      case 0x5a: dup({0, 1, 0}, 2); break;           // dup_x1
      case 0x5b: dup({0, 2, 1, 0}, 3); break;        // dup_x2
      case 0x5c: dup({1, 0, 1, 0}, 2); break;        // dup2
      case 0x5d: dup({1, 0, 2, 1, 0}, 3); break;     // dup2_x1
      case 0x5e: dup({1, 0, 3, 2, 1, 0}, 4); break;  // dup2_x2
      case 0x5f: dup({0, 1}, 2); break;              // swap
      default:
        if (opcode >= 0x60 && opcode <= 0x73) {  // add sub mul div rem
          arithmetic(static_cast<VTag>(kBinaryTags[(opcode - 0x60) % 4]), 2);
        } else if (opcode >= 0x74 && opcode <= 0x77) {  // neg
          arithmetic(static_cast<VTag>(kBinaryTags[opcode - 0x74]), 1);
        } else if (opcode >= 0x78 && opcode <= 0x7d) {  // shifts
          pop(1);
          VTag t = (opcode - 0x78) % 2 == 0 ? VTag::Integer : VTag::Long;
          pop(t == VTag::Long ? 2 : 1);
          push(prim(t));
        } else if (opcode >= 0x7e && opcode <= 0x83) {  // and or xor
          arithmetic((opcode - 0x7e) % 2 == 0 ? VTag::Integer : VTag::Long, 2);
        } else if (opcode == 0x84) {  // iinc
        } else if (opcode >= 0x85 && opcode <= 0x93) {
          convert(opcode);
        } else if (opcode == 0x94 || opcode == 0x97 || opcode == 0x98) {
          pop(4);
          push(prim(VTag::Integer));
        } else if (opcode == 0x95 || opcode == 0x96) {
          pop(2);
          push(prim(VTag::Integer));
        } else if (isConditionalBranch(opcode)) {
          pop(branchPops(opcode));
        } else {
          return other(insn, p);
        }
    }
    return false;
  }

 private:
  static constexpr uint8_t kBinaryTags[4] = {1, 4, 2, 3};  // int long float double

  bool other(const Instruction& insn, const uint8_t* p) {
    uint8_t opcode = insn.opcode;
    switch (opcode) {
      case 0xa7: case 0xc8: break;  // goto, goto_w
      case 0xaa: case 0xab: pop(1); break;
      case 0xac: case 0xae: case 0xb0: pop(1); break;
      case 0xad: case 0xaf: pop(2); break;
      case 0xb1: break;
      case 0xb2: {  // getstatic
        std::string_view d = in_.pool->memberRef(readU2(p + 1)).descriptor;
        push(typeOfDescriptor(d));
        break;
      }
      case 0xb3: pop(slotsOf(in_.pool->memberRef(readU2(p + 1)).descriptor)); break;
      case 0xb4: {  // getfield
        pop(1);
        std::string_view d = in_.pool->memberRef(readU2(p + 1)).descriptor;
        push(typeOfDescriptor(d));
        break;
      }
      case 0xb5:
        pop(slotsOf(in_.pool->memberRef(readU2(p + 1)).descriptor));
        pop(1);
        break;
      case 0xb6: case 0xb7: case 0xb8: case 0xb9: case 0xba:
        return invoke(insn, p);
      case 0xbb: push(VType{VTag::Uninitialized, insn.offset, {}}); break;
      case 0xbc: {  // newarray
        static constexpr std::string_view kArrays[] = {"[Z", "[C", "[F", "[D", "[B", "[S", "[I", "[J"};
        if (p[1] < 4 || p[1] > 11) throw FormatError("bad newarray type");
        pop(1);
        push(object(kArrays[p[1] - 4]));
        break;
      }
      case 0xbd: {  // anewarray
        pop(1);
        std::string_view element = in_.pool->className(readU2(p + 1));
        push(object(arena_.keep(element[0] == '[' ? "[" + std::string(element)
                                                  : "[L" + std::string(element) + ";")));
        break;
      }
      case 0xbe: pop(1); push(prim(VTag::Integer)); break;
      case 0xbf: pop(1); break;
      case 0xc0: pop(1); push(object(in_.pool->className(readU2(p + 1)))); break;
      case 0xc1: pop(1); push(prim(VTag::Integer)); break;
      case 0xc2: case 0xc3: pop(1); break;
      case 0xc4: wide(p); break;
      case 0xc5:
        pop(p[3]);
        push(object(in_.pool->className(readU2(p + 1))));
        break;
      default:
        throw FormatError("opcode " + std::to_string(opcode) + " is not followed");
    }
    return false;
  }

  bool invoke(const Instruction& insn, const uint8_t* p) {
    uint8_t opcode = insn.opcode;
    ConstantPool::MemberRef ref = in_.pool->memberRef(readU2(p + 1));
    std::string_view d = ref.descriptor;
    if (d.empty() || d[0] != '(') throw FormatError("bad method descriptor");
    d.remove_prefix(1);
    std::size_t argSlots = 0;
    while (!d.empty() && d[0] != ')') argSlots += typeOfDescriptor(d).isWide() ? 2 : 1;
    if (d.empty()) throw FormatError("bad method descriptor");
    d.remove_prefix(1);
    pop(argSlots);
    bool initializesThis = false;
    if (opcode != 0xb8 && opcode != 0xba) {
      VType receiver = popOne();
      if (opcode == 0xb7 && ref.name == "<init>") {
        if (receiver.tag == VTag::UninitializedThis) {
          replace(receiver, object(in_.className));
          initializesThis = true;
        } else if (receiver.tag == VTag::Uninitialized) {
          replace(receiver, object(ref.owner));
        } else {
          throw FormatError("<init> on an initialised object");
        }
      }
    }
    if (d != "V") push(typeOfDescriptor(d));
    return initializesThis;
  }

  void wide(const uint8_t* p) {
    uint8_t widened = p[1];
    uint16_t index = readU2(p + 2);
    if (widened >= 0x15 && widened <= 0x19) {
      load(index);
    } else if (widened >= 0x36 && widened <= 0x3a) {
      static constexpr VTag kStored[] = {VTag::Integer, VTag::Long, VTag::Float, VTag::Double};
      if (widened == 0x3a)
        storeReference(index);
      else
        store(index, prim(kStored[widened - 0x36]));
    } else if (widened != 0x84) {
      throw FormatError("wide ret is not followed");
    }
  }

  VType constantType(uint16_t index) {
    switch (in_.pool->tag(index)) {
      case kInteger: return prim(VTag::Integer);
      case kFloat: return prim(VTag::Float);
      case kLong: return prim(VTag::Long);
      case kDouble: return prim(VTag::Double);
      case kString: return object("java/lang/String");
      case kClass: return object("java/lang/Class");
      case kMethodType: return object("java/lang/invoke/MethodType");
      case kMethodHandle: return object("java/lang/invoke/MethodHandle");
      case kDynamic: {
        std::string_view d = in_.pool->dynamicDescriptor(index);
        return typeOfDescriptor(d);
      }
      default: throw FormatError("ldc of an unloadable constant");
    }
  }

  VType componentOf(const VType& array) {
    if (array.tag == VTag::Null) return array;
    if (array.tag == VTag::Object && array.name.size() > 1 && array.name[0] == '[') {
      std::string_view rest = array.name.substr(1);
      return typeOfDescriptor(rest);
    }
    // Only inferred code (merged types) gets here.
    return object(kObject);
  }

  void arithmetic(VTag t, int operands) {
    std::size_t size = (t == VTag::Long || t == VTag::Double) ? 2 : 1;
    pop(size * operands);
    push(prim(t));
  }

  void convert(uint8_t opcode) {
    // i2l i2f i2d l2i l2f l2d f2i f2l f2d d2i d2l d2f i2b i2c i2s
    static constexpr uint8_t kFrom[] = {1, 1, 1, 4, 4, 4, 2, 2, 2, 3, 3, 3, 1, 1, 1};
    static constexpr uint8_t kTo[] = {4, 2, 3, 1, 2, 3, 1, 4, 3, 1, 4, 2, 1, 1, 1};
    VTag from = static_cast<VTag>(kFrom[opcode - 0x85]);
    pop(from == VTag::Long || from == VTag::Double ? 2 : 1);
    push(prim(static_cast<VTag>(kTo[opcode - 0x85])));
  }

  static std::size_t slotsOf(std::string_view d) { return typeOfDescriptor(d).isWide() ? 2 : 1; }


  void push(const VType& t) {
    s_.stack.push_back(t);
    if (t.isWide()) s_.stack.push_back({});
    if (s_.stack.size() > 65535) throw FormatError("operand stack overflow");
  }
  void pop(std::size_t n) {
    if (n > s_.stack.size()) throw FormatError("operand stack underflow");
    s_.stack.resize(s_.stack.size() - n);
  }
  VType popOne() {
    if (s_.stack.empty()) throw FormatError("operand stack underflow");
    VType t = s_.stack.back();
    s_.stack.pop_back();
    return t;
  }
  void load(uint32_t index) {
    if (index >= s_.locals.size()) throw FormatError("local out of range");
    VType t = s_.locals[index];
    push(t);
  }
  void storeReference(uint32_t index) { put(index, popOne()); }
  void store(uint32_t index, const VType& t) {
    pop(t.isWide() ? 2 : 1);
    put(index, t);
  }
  void put(uint32_t index, const VType& t) {
    std::size_t size = t.isWide() ? 2 : 1;
    if (index + size > s_.locals.size()) throw FormatError("local out of range");
    if (index > 0 && s_.locals[index - 1].isWide()) s_.locals[index - 1] = {};
    s_.locals[index] = t;
    if (size == 2) s_.locals[index + 1] = {};
  }
  // Rearranges the top `depth` slots: `order` lists, bottom to top, which
  // old slot (0 = the top) goes to each new position.
  void dup(std::initializer_list<int> order, std::size_t depth) {
    if (depth > s_.stack.size()) throw FormatError("operand stack underflow");
    std::vector<VType> top(s_.stack.end() - static_cast<std::ptrdiff_t>(depth), s_.stack.end());
    pop(depth);
    for (int k : order) s_.stack.push_back(top[depth - 1 - static_cast<std::size_t>(k)]);
  }
  void replace(const VType& from, const VType& to) {
    for (auto& t : s_.locals)
      if (t == from) t = to;
    for (auto& t : s_.stack)
      if (t == from) t = to;
  }

  const FlowInput& in_;
  NameArena& arena_;
  TypeState& s_;
};

TypeState fromFrame(const Frame& f, uint16_t maxLocals) {
  if (f.locals.size() > maxLocals) throw FormatError("frame has more locals than max_locals");
  TypeState s;
  s.locals = f.locals;
  s.locals.resize(maxLocals);
  s.stack = f.stack;
  return s;
}

bool isReference(const VType& t) { return t.tag == VTag::Object || t.tag == VTag::Null; }

VType merge(const VType& a, const VType& b) {
  if (a == b) return a;
  if (a.tag == VTag::Null && isReference(b)) return b;
  if (b.tag == VTag::Null && isReference(a)) return a;
  if (a.tag == VTag::Object && b.tag == VTag::Object) return object(kObject);
  return {};
}

// Merges `from` into `into`; true when `into` changed.
bool mergeInto(std::optional<TypeState>& into, const TypeState& from) {
  if (!into) {
    into = from;
    return true;
  }
  if (into->stack.size() != from.stack.size()) throw FormatError("stack heights differ at a merge");
  bool changed = false;
  auto mergeAll = [&](std::vector<VType>& a, const std::vector<VType>& b) {
    for (std::size_t i = 0; i < a.size(); ++i) {
      VType m = merge(a[i], b[i]);
      if (m != a[i]) {
        a[i] = m;
        changed = true;
      }
    }
  };
  mergeAll(into->locals, from.locals);
  mergeAll(into->stack, from.stack);
  return changed;
}

std::size_t indexOf(const FlowInput& in, uint32_t offset) {
  const auto& at = *in.indexAt;
  if (offset >= at.size() || at[offset] < 0 ||
      static_cast<std::size_t>(at[offset]) >= in.instructions->size())
    throw FormatError("target is not an instruction");
  return static_cast<std::size_t>(at[offset]);
}

void followFrames(const FlowInput& in, NameArena& arena, const FlowVisitor& visit) {
  const auto& insns = *in.instructions;
  const auto& frames = *in.frames;
  std::size_t nextFrame = 0;
  std::optional<TypeState> state = fromFrame(*in.initial, in.maxLocals);
  for (std::size_t i = 0; i < insns.size(); ++i) {
    if (nextFrame < frames.size() && frames[nextFrame].offset < insns[i].offset)
      throw FormatError("stack map frame inside an instruction");
    if (nextFrame < frames.size() && frames[nextFrame].offset == insns[i].offset)
      state = fromFrame(frames[nextFrame++], in.maxLocals);
    if (!state) throw FormatError("no stack map frame after a jump");
    TypeState before = *state;
    Machine machine(in, arena, *state);
    bool initializesThis = machine.step(insns[i]);
    visit(i, before, initializesThis);
    if (endsFlow(insns[i].opcode)) state.reset();
  }
  if (nextFrame != frames.size()) throw FormatError("stack map frame beyond the code");
}

void inferTypes(const FlowInput& in, NameArena& arena, const FlowVisitor& visit) {
  const auto& insns = *in.instructions;
  std::vector<std::optional<TypeState>> states(insns.size());
  std::vector<bool> queued(insns.size(), false);
  std::vector<std::size_t> work;
  auto reach = [&](std::size_t index, const TypeState& s) {
    if (mergeInto(states[index], s) && !queued[index]) {
      queued[index] = true;
      work.push_back(index);
    }
  };
  if (insns.empty()) return;
  reach(0, fromFrame(*in.initial, in.maxLocals));
  while (!work.empty()) {
    std::size_t i = work.back();
    work.pop_back();
    queued[i] = false;
    const Instruction& insn = insns[i];
    TypeState s = *states[i];
    for (const auto& h : *in.handlers) {
      if (insn.offset >= h.start && insn.offset < h.end) {
        TypeState hs{s.locals, {object(h.catchType ? in.pool->className(h.catchType)
                                                    : "java/lang/Throwable")}};
        reach(indexOf(in, h.handler), hs);
      }
    }
    Machine machine(in, arena, s);
    machine.step(insn);
    for (uint32_t target : branchTargets(in.code, insn)) reach(indexOf(in, target), s);
    if (!endsFlow(insn.opcode)) {
      if (i + 1 >= insns.size()) throw FormatError("code falls off its end");
      reach(i + 1, s);
    }
  }
  for (std::size_t i = 0; i < insns.size(); ++i) {
    if (!states[i]) continue;
    TypeState before = *states[i];
    TypeState after = before;
    Machine machine(in, arena, after);
    visit(i, before, machine.step(insns[i]));
  }
}

}  // namespace

void followTypes(const FlowInput& input, NameArena& arena, const FlowVisitor& visit) {
  if (input.frames)
    followFrames(input, arena, visit);
  else
    inferTypes(input, arena, visit);
}

}  // namespace kolvaprof::classfile
