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
    const uint8_t opcode = insn.opcode;
    const OpcodeInfo& info = opcodeInfo(opcode);
    if (!info.typed && !info.mnemonic.empty()) {
      pop(info.pops);
      if (info.pushes != Pushes::None) push(prim(kPushedTags[static_cast<int>(info.pushes)]));
      return false;
    }
    switch (opcode) {
      case op::kLdc: push(constantType(p[1])); break;
      case op::kLdcW: case op::kLdc2W: push(constantType(readU2(p + 1))); break;
      case op::kIload: case op::kLload: case op::kFload: case op::kDload: case op::kAload:
        load(p[1]);
        break;
      case op::kIload0: case op::kIload1: case op::kIload2: case op::kIload3:
      case op::kLload0: case op::kLload1: case op::kLload2: case op::kLload3:
      case op::kFload0: case op::kFload1: case op::kFload2: case op::kFload3:
      case op::kDload0: case op::kDload1: case op::kDload2: case op::kDload3:
      case op::kAload0: case op::kAload1: case op::kAload2: case op::kAload3:
        load((opcode - op::kIload0) % 4);
        break;
      case op::kAaload: {
        pop(1);
        VType array = popOne();
        push(componentOf(array));
        break;
      }
      case op::kIstore: case op::kLstore: case op::kFstore: case op::kDstore: case op::kAstore:
        storeAs(opcode - op::kIstore, p[1]);
        break;
      case op::kIstore0: case op::kIstore1: case op::kIstore2: case op::kIstore3:
      case op::kLstore0: case op::kLstore1: case op::kLstore2: case op::kLstore3:
      case op::kFstore0: case op::kFstore1: case op::kFstore2: case op::kFstore3:
      case op::kDstore0: case op::kDstore1: case op::kDstore2: case op::kDstore3:
      case op::kAstore0: case op::kAstore1: case op::kAstore2: case op::kAstore3:
        storeAs((opcode - op::kIstore0) / 4, (opcode - op::kIstore0) % 4);
        break;
      case op::kDup: dup({0, 0}, 1); break;
      case op::kDupX1: dup({0, 1, 0}, 2); break;
      case op::kDupX2: dup({0, 2, 1, 0}, 3); break;
      case op::kDup2: dup({1, 0, 1, 0}, 2); break;
      case op::kDup2X1: dup({1, 0, 2, 1, 0}, 3); break;
      case op::kDup2X2: dup({1, 0, 3, 2, 1, 0}, 4); break;
      case op::kSwap: dup({0, 1}, 2); break;
      case op::kGetstatic: {
        std::string_view d = fieldDescriptor(p);
        push(typeOfDescriptor(d));
        break;
      }
      case op::kPutstatic: pop(slotsOf(fieldDescriptor(p))); break;
      case op::kGetfield: {
        pop(1);
        std::string_view d = fieldDescriptor(p);
        push(typeOfDescriptor(d));
        break;
      }
      case op::kPutfield:
        pop(slotsOf(fieldDescriptor(p)));
        pop(1);
        break;
      case op::kInvokevirtual: case op::kInvokespecial: case op::kInvokestatic:
      case op::kInvokeinterface: case op::kInvokedynamic:
        return invoke(insn, p);
      case op::kNew: push(VType{VTag::Uninitialized, insn.offset, {}}); break;
      case op::kNewarray: {
        static constexpr std::string_view kArrays[] = {"[Z", "[C", "[F", "[D", "[B", "[S", "[I", "[J"};
        if (p[1] < 4 || p[1] > 11) throw FormatError("bad newarray type");
        pop(1);
        push(object(kArrays[p[1] - 4]));
        break;
      }
      case op::kAnewarray: {
        pop(1);
        std::string_view element = in_.pool->className(readU2(p + 1));
        push(object(arena_.keep(element[0] == '[' ? "[" + std::string(element)
                                                  : "[L" + std::string(element) + ";")));
        break;
      }
      case op::kCheckcast: pop(1); push(object(in_.pool->className(readU2(p + 1)))); break;
      case op::kWide: wide(p); break;
      case op::kMultianewarray:
        pop(p[3]);
        push(object(in_.pool->className(readU2(p + 1))));
        break;
      default:
        // jsr and ret: methods with subroutines are left as they are.
        throw FormatError("opcode " + std::to_string(opcode) + " is not followed");
    }
    return false;
  }

 private:
  // By Pushes: none, int, float, long, double, null.
  static constexpr VTag kPushedTags[] = {VTag::Top,  VTag::Integer, VTag::Float,
                                         VTag::Long, VTag::Double,  VTag::Null};

  std::string_view fieldDescriptor(const uint8_t* p) const {
    return in_.pool->memberRef(readU2(p + 1)).descriptor;
  }

  // kind: 0 int, 1 long, 2 float, 3 double, 4 reference, as the load and
  // store opcodes are ordered.
  void storeAs(int kind, uint32_t index) {
    static constexpr VTag kStored[] = {VTag::Integer, VTag::Long, VTag::Float, VTag::Double};
    if (kind == 4) {
      storeReference(index);
    } else {
      store(index, prim(kStored[kind]));
    }
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
    if (opcode != op::kInvokestatic && opcode != op::kInvokedynamic) {
      VType receiver = popOne();
      if (opcode == op::kInvokespecial && ref.name == "<init>") {
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
    const uint8_t widened = p[1];
    const uint16_t index = readU2(p + 2);
    if (widened >= op::kIload && widened <= op::kAload) {
      load(index);
    } else if (widened >= op::kIstore && widened <= op::kAstore) {
      storeAs(widened - op::kIstore, index);
    } else if (widened != op::kIinc) {
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
  if (const auto i = instructionAt(*in.indexAt, in.instructions->size(), offset)) return *i;
  throw FormatError("target is not an instruction");
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
