#pragma once

// The JVM's instruction set, named once: each opcode's length, its effect on
// the operand stack where that needs no types, and where control goes after
// it. The decoder, the type flow and the rewriter ask this table instead of
// knowing opcodes by their numbers.

#include <cstdint>
#include <string_view>

namespace kolvaprof::classfile {

namespace op {
inline constexpr uint8_t kNop = 0x00;
inline constexpr uint8_t kAconstNull = 0x01;
inline constexpr uint8_t kIconstM1 = 0x02;
inline constexpr uint8_t kIconst0 = 0x03;
inline constexpr uint8_t kIconst1 = 0x04;
inline constexpr uint8_t kIconst2 = 0x05;
inline constexpr uint8_t kIconst3 = 0x06;
inline constexpr uint8_t kIconst4 = 0x07;
inline constexpr uint8_t kIconst5 = 0x08;
inline constexpr uint8_t kLconst0 = 0x09;
inline constexpr uint8_t kLconst1 = 0x0a;
inline constexpr uint8_t kFconst0 = 0x0b;
inline constexpr uint8_t kFconst1 = 0x0c;
inline constexpr uint8_t kFconst2 = 0x0d;
inline constexpr uint8_t kDconst0 = 0x0e;
inline constexpr uint8_t kDconst1 = 0x0f;
inline constexpr uint8_t kBipush = 0x10;
inline constexpr uint8_t kSipush = 0x11;
inline constexpr uint8_t kLdc = 0x12;
inline constexpr uint8_t kLdcW = 0x13;
inline constexpr uint8_t kLdc2W = 0x14;
inline constexpr uint8_t kIload = 0x15;
inline constexpr uint8_t kLload = 0x16;
inline constexpr uint8_t kFload = 0x17;
inline constexpr uint8_t kDload = 0x18;
inline constexpr uint8_t kAload = 0x19;
inline constexpr uint8_t kIload0 = 0x1a;
inline constexpr uint8_t kIload1 = 0x1b;
inline constexpr uint8_t kIload2 = 0x1c;
inline constexpr uint8_t kIload3 = 0x1d;
inline constexpr uint8_t kLload0 = 0x1e;
inline constexpr uint8_t kLload1 = 0x1f;
inline constexpr uint8_t kLload2 = 0x20;
inline constexpr uint8_t kLload3 = 0x21;
inline constexpr uint8_t kFload0 = 0x22;
inline constexpr uint8_t kFload1 = 0x23;
inline constexpr uint8_t kFload2 = 0x24;
inline constexpr uint8_t kFload3 = 0x25;
inline constexpr uint8_t kDload0 = 0x26;
inline constexpr uint8_t kDload1 = 0x27;
inline constexpr uint8_t kDload2 = 0x28;
inline constexpr uint8_t kDload3 = 0x29;
inline constexpr uint8_t kAload0 = 0x2a;
inline constexpr uint8_t kAload1 = 0x2b;
inline constexpr uint8_t kAload2 = 0x2c;
inline constexpr uint8_t kAload3 = 0x2d;
inline constexpr uint8_t kIaload = 0x2e;
inline constexpr uint8_t kLaload = 0x2f;
inline constexpr uint8_t kFaload = 0x30;
inline constexpr uint8_t kDaload = 0x31;
inline constexpr uint8_t kAaload = 0x32;
inline constexpr uint8_t kBaload = 0x33;
inline constexpr uint8_t kCaload = 0x34;
inline constexpr uint8_t kSaload = 0x35;
inline constexpr uint8_t kIstore = 0x36;
inline constexpr uint8_t kLstore = 0x37;
inline constexpr uint8_t kFstore = 0x38;
inline constexpr uint8_t kDstore = 0x39;
inline constexpr uint8_t kAstore = 0x3a;
inline constexpr uint8_t kIstore0 = 0x3b;
inline constexpr uint8_t kIstore1 = 0x3c;
inline constexpr uint8_t kIstore2 = 0x3d;
inline constexpr uint8_t kIstore3 = 0x3e;
inline constexpr uint8_t kLstore0 = 0x3f;
inline constexpr uint8_t kLstore1 = 0x40;
inline constexpr uint8_t kLstore2 = 0x41;
inline constexpr uint8_t kLstore3 = 0x42;
inline constexpr uint8_t kFstore0 = 0x43;
inline constexpr uint8_t kFstore1 = 0x44;
inline constexpr uint8_t kFstore2 = 0x45;
inline constexpr uint8_t kFstore3 = 0x46;
inline constexpr uint8_t kDstore0 = 0x47;
inline constexpr uint8_t kDstore1 = 0x48;
inline constexpr uint8_t kDstore2 = 0x49;
inline constexpr uint8_t kDstore3 = 0x4a;
inline constexpr uint8_t kAstore0 = 0x4b;
inline constexpr uint8_t kAstore1 = 0x4c;
inline constexpr uint8_t kAstore2 = 0x4d;
inline constexpr uint8_t kAstore3 = 0x4e;
inline constexpr uint8_t kIastore = 0x4f;
inline constexpr uint8_t kLastore = 0x50;
inline constexpr uint8_t kFastore = 0x51;
inline constexpr uint8_t kDastore = 0x52;
inline constexpr uint8_t kAastore = 0x53;
inline constexpr uint8_t kBastore = 0x54;
inline constexpr uint8_t kCastore = 0x55;
inline constexpr uint8_t kSastore = 0x56;
inline constexpr uint8_t kPop = 0x57;
inline constexpr uint8_t kPop2 = 0x58;
inline constexpr uint8_t kDup = 0x59;
inline constexpr uint8_t kDupX1 = 0x5a;
inline constexpr uint8_t kDupX2 = 0x5b;
inline constexpr uint8_t kDup2 = 0x5c;
inline constexpr uint8_t kDup2X1 = 0x5d;
inline constexpr uint8_t kDup2X2 = 0x5e;
inline constexpr uint8_t kSwap = 0x5f;
inline constexpr uint8_t kIadd = 0x60;
inline constexpr uint8_t kLadd = 0x61;
inline constexpr uint8_t kFadd = 0x62;
inline constexpr uint8_t kDadd = 0x63;
inline constexpr uint8_t kIsub = 0x64;
inline constexpr uint8_t kLsub = 0x65;
inline constexpr uint8_t kFsub = 0x66;
inline constexpr uint8_t kDsub = 0x67;
inline constexpr uint8_t kImul = 0x68;
inline constexpr uint8_t kLmul = 0x69;
inline constexpr uint8_t kFmul = 0x6a;
inline constexpr uint8_t kDmul = 0x6b;
inline constexpr uint8_t kIdiv = 0x6c;
inline constexpr uint8_t kLdiv = 0x6d;
inline constexpr uint8_t kFdiv = 0x6e;
inline constexpr uint8_t kDdiv = 0x6f;
inline constexpr uint8_t kIrem = 0x70;
inline constexpr uint8_t kLrem = 0x71;
inline constexpr uint8_t kFrem = 0x72;
inline constexpr uint8_t kDrem = 0x73;
inline constexpr uint8_t kIneg = 0x74;
inline constexpr uint8_t kLneg = 0x75;
inline constexpr uint8_t kFneg = 0x76;
inline constexpr uint8_t kDneg = 0x77;
inline constexpr uint8_t kIshl = 0x78;
inline constexpr uint8_t kLshl = 0x79;
inline constexpr uint8_t kIshr = 0x7a;
inline constexpr uint8_t kLshr = 0x7b;
inline constexpr uint8_t kIushr = 0x7c;
inline constexpr uint8_t kLushr = 0x7d;
inline constexpr uint8_t kIand = 0x7e;
inline constexpr uint8_t kLand = 0x7f;
inline constexpr uint8_t kIor = 0x80;
inline constexpr uint8_t kLor = 0x81;
inline constexpr uint8_t kIxor = 0x82;
inline constexpr uint8_t kLxor = 0x83;
inline constexpr uint8_t kIinc = 0x84;
inline constexpr uint8_t kI2l = 0x85;
inline constexpr uint8_t kI2f = 0x86;
inline constexpr uint8_t kI2d = 0x87;
inline constexpr uint8_t kL2i = 0x88;
inline constexpr uint8_t kL2f = 0x89;
inline constexpr uint8_t kL2d = 0x8a;
inline constexpr uint8_t kF2i = 0x8b;
inline constexpr uint8_t kF2l = 0x8c;
inline constexpr uint8_t kF2d = 0x8d;
inline constexpr uint8_t kD2i = 0x8e;
inline constexpr uint8_t kD2l = 0x8f;
inline constexpr uint8_t kD2f = 0x90;
inline constexpr uint8_t kI2b = 0x91;
inline constexpr uint8_t kI2c = 0x92;
inline constexpr uint8_t kI2s = 0x93;
inline constexpr uint8_t kLcmp = 0x94;
inline constexpr uint8_t kFcmpl = 0x95;
inline constexpr uint8_t kFcmpg = 0x96;
inline constexpr uint8_t kDcmpl = 0x97;
inline constexpr uint8_t kDcmpg = 0x98;
inline constexpr uint8_t kIfeq = 0x99;
inline constexpr uint8_t kIfne = 0x9a;
inline constexpr uint8_t kIflt = 0x9b;
inline constexpr uint8_t kIfge = 0x9c;
inline constexpr uint8_t kIfgt = 0x9d;
inline constexpr uint8_t kIfle = 0x9e;
inline constexpr uint8_t kIfIcmpeq = 0x9f;
inline constexpr uint8_t kIfIcmpne = 0xa0;
inline constexpr uint8_t kIfIcmplt = 0xa1;
inline constexpr uint8_t kIfIcmpge = 0xa2;
inline constexpr uint8_t kIfIcmpgt = 0xa3;
inline constexpr uint8_t kIfIcmple = 0xa4;
inline constexpr uint8_t kIfAcmpeq = 0xa5;
inline constexpr uint8_t kIfAcmpne = 0xa6;
inline constexpr uint8_t kGoto = 0xa7;
inline constexpr uint8_t kJsr = 0xa8;
inline constexpr uint8_t kRet = 0xa9;
inline constexpr uint8_t kTableswitch = 0xaa;
inline constexpr uint8_t kLookupswitch = 0xab;
inline constexpr uint8_t kIreturn = 0xac;
inline constexpr uint8_t kLreturn = 0xad;
inline constexpr uint8_t kFreturn = 0xae;
inline constexpr uint8_t kDreturn = 0xaf;
inline constexpr uint8_t kAreturn = 0xb0;
inline constexpr uint8_t kReturn = 0xb1;
inline constexpr uint8_t kGetstatic = 0xb2;
inline constexpr uint8_t kPutstatic = 0xb3;
inline constexpr uint8_t kGetfield = 0xb4;
inline constexpr uint8_t kPutfield = 0xb5;
inline constexpr uint8_t kInvokevirtual = 0xb6;
inline constexpr uint8_t kInvokespecial = 0xb7;
inline constexpr uint8_t kInvokestatic = 0xb8;
inline constexpr uint8_t kInvokeinterface = 0xb9;
inline constexpr uint8_t kInvokedynamic = 0xba;
inline constexpr uint8_t kNew = 0xbb;
inline constexpr uint8_t kNewarray = 0xbc;
inline constexpr uint8_t kAnewarray = 0xbd;
inline constexpr uint8_t kArraylength = 0xbe;
inline constexpr uint8_t kAthrow = 0xbf;
inline constexpr uint8_t kCheckcast = 0xc0;
inline constexpr uint8_t kInstanceof = 0xc1;
inline constexpr uint8_t kMonitorenter = 0xc2;
inline constexpr uint8_t kMonitorexit = 0xc3;
inline constexpr uint8_t kWide = 0xc4;
inline constexpr uint8_t kMultianewarray = 0xc5;
inline constexpr uint8_t kIfnull = 0xc6;
inline constexpr uint8_t kIfnonnull = 0xc7;
inline constexpr uint8_t kGotoW = 0xc8;
inline constexpr uint8_t kJsrW = 0xc9;
inline constexpr uint8_t kLast = kJsrW;
}  // namespace op

// Where control goes after an instruction.
enum class Flow : uint8_t {
  Next,         // to the next instruction only
  Conditional,  // to its 16-bit target or the next instruction
  Goto,         // to its target only
  Switch,       // to one of its targets
  Subroutine,   // jsr, jsr_w
  Ret,          // back from a subroutine
  Return,
  Throw,
};

// The value an untyped instruction leaves on the stack.
enum class Pushes : uint8_t { None, Int, Float, Long, Double, Null };

struct OpcodeInfo {
  std::string_view mnemonic;  // empty: no such opcode
  uint8_t length = 0;         // 0: variable (the switches, wide) or no such opcode
  // Untyped instructions: the operand slots taken, and the value left.
  uint8_t pops = 0;
  Pushes pushes = Pushes::None;
  Flow flow = Flow::Next;
  // Its effect depends on its operands, the locals or the constant pool:
  // the type flow handles it by name, and `pops`/`pushes` do not apply.
  bool typed = false;
};

// For every byte value; an opcode that does not exist has an empty mnemonic.
const OpcodeInfo& opcodeInfo(uint8_t opcode);

}  // namespace kolvaprof::classfile
