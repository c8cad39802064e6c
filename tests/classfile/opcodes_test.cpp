#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "classfile/byte_io.h"
#include "classfile/bytecode.h"
#include "classfile/type_flow.h"

namespace kolvaprof::classfile {
namespace {

// Every instruction the decoder takes is named in the opcode table and is one
// the type flow follows, or refuses by name (subroutines), so that no method
// passes decoding only to fail on an opcode the flow was never taught.
TEST(Opcodes, EveryDecodedInstructionIsNamedAndFollowedByTheTypeFlow) {
  const ConstantPool pool;  // typed instructions stop at their constant, not at their opcode
  for (int opcode = 0; opcode < 256; ++opcode) {
    const OpcodeInfo& info = opcodeInfo(static_cast<uint8_t>(opcode));
    SCOPED_TRACE(std::to_string(opcode) + " " + std::string(info.mnemonic));
    // Zeros after the opcode: operands of 0, a switch of one case, then nops.
    std::vector<uint8_t> code(32, op::kNop);
    code[0] = static_cast<uint8_t>(opcode);
    if (opcode == op::kWide) code[1] = op::kIload;
    std::vector<Instruction> instructions;
    try {
      instructions = decodeInstructions(code.data(), code.size());
    } catch (const FormatError&) {
      EXPECT_TRUE(info.mnemonic.empty());
      continue;
    }
    EXPECT_FALSE(info.mnemonic.empty());
    EXPECT_EQ(info.length == 0, opcode == op::kWide || opcode == op::kTableswitch ||
                                    opcode == op::kLookupswitch);

    std::vector<int32_t> indexAt(code.size() + 1, -1);
    for (std::size_t i = 0; i < instructions.size(); ++i) {
      indexAt[instructions[i].offset] = static_cast<int32_t>(i);
    }
    indexAt[code.size()] = static_cast<int32_t>(instructions.size());
    Frame initial;
    initial.locals.assign(4, VType{VTag::Integer, 0, {}});
    initial.stack.assign(8, VType{VTag::Integer, 0, {}});
    const std::vector<ExceptionHandler> handlers;
    FlowInput flow;
    flow.code = code.data();
    flow.instructions = &instructions;
    flow.indexAt = &indexAt;
    flow.pool = &pool;
    flow.className = "T";
    flow.initial = &initial;
    flow.maxLocals = 4;
    flow.handlers = &handlers;
    NameArena arena;
    std::string refusal;
    try {
      followTypes(flow, arena, [](std::size_t, const TypeState&, bool) {});
    } catch (const FormatError& e) {
      refusal = e.what();
    }
    const bool subroutine = info.flow == Flow::Subroutine || info.flow == Flow::Ret;
    EXPECT_EQ(refusal.find("is not followed") != std::string::npos, subroutine) << refusal;
  }
}

}  // namespace
}  // namespace kolvaprof::classfile
