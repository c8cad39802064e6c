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
  // Where two ways meet, a slot holds `this` only if it does on both.
  bool merge(const Slots& other) {
    if (other.slots.size() != slots.size()) return false;
    for (std::size_t k = 0; k < slots.size(); ++k) slots[k] = slots[k] && other.slots[k];
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

// Untyped instructions that can neither throw nor reach other code:
// constants, pop, arithmetic but integer division and remainder,
// conversions and comparisons. Their stack effect is in the opcode table.
bool harmlessUntyped(uint8_t opcode) {
  if (opcode <= op::kSipush || opcode == op::kPop || opcode == op::kPop2) return true;
  if (opcode == op::kIdiv || opcode == op::kLdiv || opcode == op::kIrem || opcode == op::kLrem) {
    return false;
  }
  return opcode >= op::kIadd && opcode <= op::kDcmpg;
}

int pushedSlots(Pushes pushes) {
  if (pushes == Pushes::None) return 0;
  return pushes == Pushes::Long || pushes == Pushes::Double ? 2 : 1;
}

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
  const OpcodeInfo& info = opcodeInfo(opcode);
  if (!info.typed && harmlessUntyped(opcode)) {
    if (!stack.pop(info.pops)) return false;
    stack.push(pushedSlots(info.pushes));
    return true;
  }
  if (opcode == op::kLdc) return plainConstant(pool, at[1], stack);
  if (opcode == op::kLdcW || opcode == op::kLdc2W) return plainConstant(pool, readU2(at + 1), stack);
  if (opcode >= op::kIload && opcode <= op::kAload) {
    const bool wide = opcode == op::kLload || opcode == op::kDload;
    stack.push(wide ? 2 : 1, opcode == op::kAload && at[1] == 0 && !isStatic);
    return true;
  }
  if (opcode >= op::kIload0 && opcode <= op::kAload3) {
    const int kind = (opcode - op::kIload0) / 4;  // i l f d a
    stack.push(kind == 1 || kind == 3 ? 2 : 1, opcode == op::kAload0 && !isStatic);
    return true;
  }
  if (opcode >= op::kIstore && opcode <= op::kAstore) {
    return store(opcode == op::kLstore || opcode == op::kDstore ? 2 : 1, at[1]);
  }
  if (opcode >= op::kIstore0 && opcode <= op::kAstore3) {
    const int kind = (opcode - op::kIstore0) / 4;
    return store(kind == 1 || kind == 3 ? 2 : 1, (opcode - op::kIstore0) % 4);
  }
  switch (opcode) {
    case op::kDup: return stack.duplicate(1, 0);
    case op::kDupX1: return stack.duplicate(1, 1);
    case op::kDupX2: return stack.duplicate(1, 2);
    case op::kDup2: return stack.duplicate(2, 0);
    case op::kDup2X1: return stack.duplicate(2, 1);
    case op::kDup2X2: return stack.duplicate(2, 2);
    case op::kSwap: return stack.swap();
    default: break;
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

std::optional<DeferredEntry> deferredEntry(const uint8_t* code,
                                           const std::vector<Instruction>& instructions,
                                           const std::vector<int32_t>& indexAt,
                                           const std::vector<ExceptionHandler>& handlers,
                                           const ConstantPool& pool, std::string_view className,
                                           bool isStatic) {
  const std::size_t n = instructions.size();
  const auto indexOf = [&](uint32_t offset) { return instructionAt(indexAt, n, offset); };
  DeferredEntry plan{std::vector<bool>(n), std::vector<bool>(n), std::vector<bool>(n),
                     std::vector<bool>(n)};
  std::vector<bool>& leaf = plan.leaf;
  // Reached from leaf code by falling through, where no copy can be jumped to.
  std::vector<bool> fallenInto(n);
  // Every jump in leaf code goes forwards, so the ways into an instruction
  // are all seen before it is.
  std::vector<std::optional<Slots>> reached(n);
  if (n > 0) reached[0] = Slots{};
  bool returns = false;
  for (std::size_t i = 0; i < n; ++i) {
    if (!reached[i]) continue;
    const Instruction& insn = instructions[i];
    Slots stack = std::move(*reached[i]);
    const Flow flow = opcodeInfo(insn.opcode).flow;
    std::vector<std::size_t> next;
    bool harmless;
    if (flow == Flow::Conditional || flow == Flow::Goto || flow == Flow::Switch) {
      harmless = stack.pop(opcodeInfo(insn.opcode).pops);
      for (uint32_t to : branchTargets(code, insn)) {
        const std::optional<std::size_t> k = indexOf(to);
        if (!k) return std::nullopt;
        harmless = harmless && *k > i;
        next.push_back(*k);
      }
    } else {
      harmless = step(code + insn.offset, insn.opcode, pool, className, isStatic, stack);
    }
    if (!harmless) {
      plan.entryBefore[i] = true;
      continue;
    }
    leaf[i] = true;
    if (isReturn(insn.opcode)) {
      plan.wholeCall[i] = true;
      returns = true;
      continue;
    }
    if (!endsFlow(insn.opcode)) {
      if (i + 1 >= n) return std::nullopt;  // falls off the end of the code
      next.push_back(i + 1);
      fallenInto[i + 1] = true;
    }
    for (std::size_t k : next) {
      if (!reached[k]) {
        reached[k] = stack;
      } else if (!reached[k]->merge(stack)) {
        return std::nullopt;
      }
    }
  }
  if (!returns) return std::nullopt;
  const auto beforeEntry = [&](std::size_t i) { return leaf[i] || plan.entryBefore[i]; };
  for (const ExceptionHandler& h : handlers) {
    const std::optional<std::size_t> k = indexOf(h.handler);
    if (!k || beforeEntry(*k)) return std::nullopt;
  }
  // Nothing that runs once the entry is reported (or never runs) may lead
  // back to where it is not reported yet, but to a return leaf code jumps to.
  const auto mayReach = [&](std::size_t k) {
    if (!beforeEntry(k)) return true;
    if (!plan.wholeCall[k] && !plan.copiedReturn[k]) return false;
    if (fallenInto[k]) return false;
    plan.wholeCall[k] = false;
    plan.copiedReturn[k] = true;
    return true;
  };
  for (std::size_t i = 0; i < n; ++i) {
    if (leaf[i]) continue;
    const Instruction& insn = instructions[i];
    if (!endsFlow(insn.opcode) && i + 1 < n && !mayReach(i + 1)) return std::nullopt;
    for (uint32_t to : branchTargets(code, insn)) {
      const std::optional<std::size_t> k = indexOf(to);
      if (k && !mayReach(*k)) return std::nullopt;
    }
  }
  return plan;
}

}  // namespace kolvaprof::classfile
