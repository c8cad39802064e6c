#include "classfile/bytecode.h"

#include <string>

#include "classfile/byte_io.h"

namespace kolvaprof::classfile {

namespace {

uint32_t switchLength(const uint8_t* code, std::size_t length, uint32_t offset, uint8_t opcode) {
  uint32_t padding = (4 - (offset + 1) % 4) % 4;
  std::size_t fixed = opcode == op::kTableswitch ? 12 : 8;
  std::size_t at = offset + 1 + padding;
  if (at + fixed > length) throw FormatError("switch cut by the end of the code");
  std::size_t count;
  if (opcode == op::kTableswitch) {
    int64_t low = readS4(code + at + 4), high = readS4(code + at + 8);
    if (high < low) throw FormatError("tableswitch high below low");
    count = static_cast<std::size_t>(high - low + 1);
  } else {
    int32_t pairs = readS4(code + at + 4);
    if (pairs < 0) throw FormatError("lookupswitch with negative count");
    count = 2 * static_cast<std::size_t>(pairs);
  }
  if (count > length) throw FormatError("switch cut by the end of the code");
  std::size_t total = 1 + padding + fixed + 4 * count;
  if (offset + total > length) throw FormatError("switch cut by the end of the code");
  return static_cast<uint32_t>(total);
}

}  // namespace

std::vector<Instruction> decodeInstructions(const uint8_t* code, std::size_t length) {
  std::vector<Instruction> out;
  out.reserve(length / 2 + 1);
  std::size_t pos = 0;
  while (pos < length) {
    Instruction insn;
    insn.offset = static_cast<uint32_t>(pos);
    insn.opcode = code[pos];
    if (insn.opcode == op::kTableswitch || insn.opcode == op::kLookupswitch) {
      insn.length = switchLength(code, length, insn.offset, insn.opcode);
    } else if (insn.opcode == op::kWide) {
      if (pos + 1 >= length) throw FormatError("wide cut by the end of the code");
      uint8_t widened = code[pos + 1];
      if (widened == op::kIinc) {
        insn.length = 6;
      } else if ((widened >= op::kIload && widened <= op::kAload) ||
                 (widened >= op::kIstore && widened <= op::kAstore) || widened == op::kRet) {
        insn.length = 4;
      } else {
        throw FormatError("wide before opcode " + std::to_string(widened));
      }
    } else {
      insn.length = opcodeInfo(insn.opcode).length;
      if (insn.length == 0) throw FormatError("unknown opcode " + std::to_string(insn.opcode));
    }
    if (pos + insn.length > length) throw FormatError("instruction cut by the end of the code");
    out.push_back(insn);
    pos += insn.length;
  }
  return out;
}

Switch readSwitch(const uint8_t* code, const Instruction& insn) {
  Switch s;
  s.padding = (4 - (insn.offset + 1) % 4) % 4;
  const uint8_t* p = code + insn.offset + 1 + s.padding;
  s.defaultOffset = readS4(p);
  if (insn.opcode == op::kTableswitch) {
    s.low = readS4(p + 4);
    int32_t high = readS4(p + 8);
    p += 12;
    for (int64_t k = s.low; k <= high; ++k, p += 4) s.offsets.push_back(readS4(p));
  } else {
    int32_t pairs = readS4(p + 4);
    p += 8;
    for (int32_t k = 0; k < pairs; ++k, p += 8) {
      s.matches.push_back(readS4(p));
      s.offsets.push_back(readS4(p + 4));
    }
  }
  return s;
}

std::vector<uint32_t> branchTargets(const uint8_t* code, const Instruction& insn) {
  const uint8_t* p = code + insn.offset;
  auto at = [&](int64_t delta) { return static_cast<uint32_t>(insn.offset + delta); };
  if (isConditionalBranch(insn.opcode) || insn.opcode == op::kGoto || insn.opcode == op::kJsr)
    return {at(readS2(p + 1))};
  if (insn.opcode == op::kGotoW || insn.opcode == op::kJsrW) return {at(readS4(p + 1))};
  if (insn.opcode == op::kTableswitch || insn.opcode == op::kLookupswitch) {
    Switch s = readSwitch(code, insn);
    std::vector<uint32_t> targets{at(s.defaultOffset)};
    for (int32_t o : s.offsets) targets.push_back(at(o));
    return targets;
  }
  return {};
}

}  // namespace kolvaprof::classfile
