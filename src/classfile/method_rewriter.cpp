#include "classfile/method_rewriter.h"

#include <algorithm>
#include <limits>
#include <vector>

#include "classfile/byte_io.h"
#include "classfile/bytecode.h"
#include "classfile/leaf_code.h"
#include "classfile/type_flow.h"

namespace kolvaprof::classfile {

uint16_t ClassContext::hookRef(Hook hook) {
  auto k = static_cast<std::size_t>(hook);
  if (refs_[k] == 0) {
    const HookSignature signature = hookSignature(hook);
    refs_[k] = cls.pool.addMethodref(hooks_.owner, signature.name, signature.descriptor);
  }
  return refs_[k];
}

uint16_t ClassContext::numberFieldRef() {
  if (numberField_ == 0) numberField_ = cls.pool.addFieldref(className, kNumberFieldName, "J");
  return numberField_;
}

uint16_t ClassContext::numberedObjectFieldRef() {
  if (numberedObjectField_ == 0)
    numberedObjectField_ =
        cls.pool.addFieldref(className, kNumberedObjectFieldName, "Ljava/lang/Object;");
  return numberedObjectField_;
}

namespace {

// A deliberate refusal, as opposed to a FormatError for code that is broken.
class Unsupported : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

constexpr uint32_t kMaxCode = 65535;
// Bytes of the receiver-number lookup at the start of a numbered method.
constexpr uint32_t kNumberLookupLength = 21;

struct CodeAttribute {
  uint16_t maxStack = 0;
  uint16_t maxLocals = 0;
  const uint8_t* code = nullptr;
  uint32_t codeLength = 0;
  std::vector<ExceptionHandler> handlers;
  std::vector<Attribute> attributes;
};

CodeAttribute parseCode(const Attribute& a) {
  ByteReader in(a.data, a.size);
  CodeAttribute c;
  c.maxStack = in.u2();
  c.maxLocals = in.u2();
  c.codeLength = in.u4();
  if (c.codeLength == 0 || c.codeLength > kMaxCode) throw FormatError("bad code length");
  c.code = in.take(c.codeLength);
  uint16_t count = in.u2();
  c.handlers.resize(count);
  for (auto& h : c.handlers) {
    h.start = in.u2();
    h.end = in.u2();
    h.handler = in.u2();
    h.catchType = in.u2();
  }
  c.attributes = readAttributes(in);
  if (!in.atEnd()) throw FormatError("bytes after the Code attribute's attributes");
  return c;
}

enum class Before : uint8_t { Nothing, EntryHook, ExitHook, ChainInit };

// An int pushed in its shortest form: iconst, bipush, sipush or ldc.
struct IntPush {
  int32_t value = 0;
  uint16_t poolIndex = 0;  // the Integer constant, when ldc is needed
  uint32_t length = 0;
};
enum class Region : uint8_t { Unknown, Plain, ThisUninitialized };

// Where every original instruction went.
struct Layout {
  std::vector<uint32_t> preStart;    // start of what is inserted before it (n+1: body end)
  std::vector<uint32_t> instrStart;  // start of the instruction itself
  // Copies of returns for leaf code (DeferredEntry::copiedReturn) follow the
  // body, by instruction index; then come the handlers, from `end`.
  std::vector<uint32_t> copyStart;
  uint32_t end = 0;
};

class MethodRewriter {
 public:
  MethodRewriter(ClassContext& context, const Method& method, int32_t number)
      : ctx_(context), pool_(context.cls.pool), method_(method), number_(number) {}

  std::vector<uint8_t> run(const Attribute& codeAttribute);
  void describeMoves(MovedCode& moved) const {
    for (std::size_t i = 0; i < insns_.size(); ++i)
      moved.offsets.emplace_back(layout_.instrStart[i], insns_[i].offset);
  }

 private:
  // Reads the code and everything about it the rewriting needs.
  void decode(const Attribute& codeAttribute);
  // Where hooks go and where every instruction lands.
  void plan();
  // The code's attributes, with offsets moved; the stack map made anew.
  std::vector<Attribute> rewriteAttributes(uint32_t plainHandler, uint32_t uninitHandler);
  void readAttributes();
  void planConstructor();
  void planNumber();
  IntPush planPush(int32_t value);
  void emitPush(const IntPush& push);
  uint32_t newLength(std::size_t i, uint32_t at) const;
  void lay();
  void emitCode();
  void emitNumber();
  void emitNumberLookup();
  void emitInvoke(Hook hook);
  // The method's number, then this.number for `numberedHook` or the
  // receiver (this, or null) for `hook`: enter's arguments, and a leaf's.
  void emitCallHook(Hook numberedHook, Hook hook);
  bool wholeCall(std::size_t i) const { return deferred_ && deferred_->wholeCall[i]; }
  bool copied(std::size_t i) const { return deferred_ && deferred_->copiedReturn[i]; }
  // Where instruction i's jump to `offset` lands: leaf code jumps to the
  // copy of a return that code past the entry reaches as well.
  uint32_t jumpTarget(std::size_t i, uint32_t offset) const {
    const std::size_t to = indexOf(offset);
    if (deferred_ && deferred_->leaf[i] && to < insns_.size() && copied(to)) return layout_.copyStart[to];
    return target(offset);
  }
  // The frame the original code has at a copied return.
  const Frame* originalFrame(std::size_t i) const {
    for (const Frame& f : frames_)
      if (f.offset == insns_[i].offset) return &f;
    return nullptr;
  }
  // Where a handler's range from `offset` starts: like the entry hook at the
  // start, one moved before the instruction is left out.
  uint32_t bodyStart(uint32_t offset) const {
    const std::size_t i = indexOf(offset);
    if (i < insns_.size() && before_[i] == Before::EntryHook) return layout_.instrStart[i];
    return target(offset);
  }
  bool numbered() const {
    return ctx_.receivers == ReceiverPassing::NumberFields && !isStatic_ && !isConstructor_;
  }
  void emitInstruction(std::size_t i);
  std::vector<ExceptionHandler> exceptionTable(uint32_t plainHandler, uint32_t uninitHandler);
  std::vector<uint8_t> stackMapTable(uint32_t plainHandler, uint32_t uninitHandler);
  std::vector<uint8_t> lineNumbers(const Attribute& a) const;
  std::vector<uint8_t> localVariables(const Attribute& a) const;
  std::vector<uint8_t> characterRanges(const Attribute& a) const;
  std::vector<uint8_t> typeAnnotations(const Attribute& a) const;

  std::size_t indexOf(uint32_t offset) const {
    if (offset > c_.codeLength || indexAt_[offset] < 0)
      throw FormatError("offset " + std::to_string(offset) + " is not an instruction");
    return static_cast<std::size_t>(indexAt_[offset]);
  }
  // Where a jump to `offset` lands: on what is inserted before the
  // instruction (an exit hook before a return, chainInit before the
  // constructor call, a deferred entry hook), but after the entry hook at
  // the start.
  uint32_t target(uint32_t offset) const {
    std::size_t i = indexOf(offset);
    if (i >= insns_.size()) throw FormatError("jump to the end of the code");
    return layout_.preStart[i];
  }
  // Start and end of a line or local variable range: a range from 0 keeps
  // the entry hook; one to the end of the code ends before the handlers.
  uint32_t rangeStart(uint32_t offset) const { return offset == 0 ? 0 : layout_.preStart[indexOf(offset)]; }
  uint32_t rangeEnd(uint32_t offset) const { return layout_.preStart[indexOf(offset)]; }
  uint32_t instructionAt(uint32_t offset) const {
    std::size_t i = indexOf(offset);
    if (i >= insns_.size()) throw FormatError("offset at the end of the code");
    return layout_.instrStart[i];
  }
  VType relocate(VType t) const {
    if (t.tag == VTag::Uninitialized) {
      std::size_t i = indexOf(t.offset);
      if (i >= insns_.size() || insns_[i].opcode != op::kNew)
        throw FormatError("uninitialized type that does not name a new");
      t.offset = layout_.instrStart[i];
    }
    return t;
  }
  FlowInput flowInput() const {
    FlowInput in;
    in.code = c_.code;
    in.instructions = &insns_;
    in.indexAt = &indexAt_;
    in.pool = &pool_;
    in.className = ctx_.className;
    in.initial = &initial_;
    in.maxLocals = c_.maxLocals;
    in.frames = hasTable_ ? &frames_ : nullptr;
    in.handlers = &c_.handlers;
    return in;
  }

  ClassContext& ctx_;
  ConstantPool& pool_;
  const Method& method_;
  int32_t number_;
  std::string_view name_;
  std::string_view descriptor_;
  bool isStatic_ = false;
  bool isConstructor_ = false;
  // Set when its entry is reported where its code first does more than
  // leaf code, and its returns before that report the whole call.
  std::optional<DeferredEntry> deferred_;

  CodeAttribute c_;
  std::vector<Instruction> insns_;
  std::vector<int32_t> indexAt_;
  Frame initial_;
  bool hasTable_ = false;
  bool needsFrames_ = false;
  std::size_t stackMapAttribute_ = SIZE_MAX;
  std::vector<Frame> frames_;

  std::vector<Before> before_;
  std::vector<bool> bindAfter_;
  // The start of a handler of the method's own: caught is called there.
  std::vector<bool> caughtBefore_;
  std::vector<Region> region_;
  std::vector<bool> wide_;
  // The key chainInit passes, for the instructions it stands before.
  std::vector<IntPush> chainKey_;
  Layout layout_;

  IntPush numberPush_;
  uint32_t numberLength_ = 0;
  ByteWriter out_;
};

std::vector<uint8_t> MethodRewriter::run(const Attribute& codeAttribute) {
  decode(codeAttribute);
  plan();

  std::size_t handlerLength = 1 + numberLength_ + 3 + 1;
  bool anyUninit = std::find(region_.begin(), region_.end(), Region::ThisUninitialized) != region_.end();
  uint32_t bodyEnd = layout_.end;
  uint32_t plainHandler = bodyEnd;
  uint32_t uninitHandler = anyUninit ? static_cast<uint32_t>(bodyEnd + handlerLength) : 0;
  uint64_t total = uint64_t{bodyEnd} + handlerLength * (anyUninit ? 2 : 1);
  if (total > kMaxCode) throw Unsupported("code would exceed 65535 bytes");
  // A deferred entry or a leaf's hook takes a number and a receiver above
  // what the instruction after it uses.
  uint32_t maxStack = deferred_ ? std::max<uint32_t>(c_.maxStack + 3u, 5)
                            : std::max<uint32_t>(c_.maxStack + 1u, 3);
  if (maxStack > 65535) throw Unsupported("max_stack would exceed 65535");

  emitCode();
  // The handlers: dup; <number>; invokestatic exitThrow; athrow.
  for (int k = 0; k < (anyUninit ? 2 : 1); ++k) {
    out_.u1(op::kDup);
    emitNumber();
    emitInvoke(Hook::ExitThrow);
    out_.u1(op::kAthrow);
  }
  std::vector<ExceptionHandler> exceptions = exceptionTable(plainHandler, uninitHandler);
  if (exceptions.size() > 65535) throw Unsupported("exception table would exceed 65535 entries");
  const std::vector<Attribute> attributes = rewriteAttributes(plainHandler, uninitHandler);

  ByteWriter body;
  body.u2(maxStack);
  body.u2(c_.maxLocals);
  body.u4(static_cast<uint32_t>(out_.size()));
  body.append(out_.bytes());
  body.u2(static_cast<uint32_t>(exceptions.size()));
  for (const auto& h : exceptions) {
    body.u2(h.start);
    body.u2(h.end);
    body.u2(h.handler);
    body.u2(h.catchType);
  }
  writeAttributes(body, attributes);
  return std::move(body.bytes());
}

void MethodRewriter::decode(const Attribute& codeAttribute) {
  name_ = pool_.utf8(method_.nameIndex);
  descriptor_ = pool_.utf8(method_.descriptorIndex);
  isStatic_ = (method_.access & kAccStatic) != 0;
  isConstructor_ = name_ == "<init>";
  c_ = parseCode(codeAttribute);
  // The JVM registers every instance of a class whose finalize() does more
  // than return for finalization; hooks there would make all objects of the
  // class (for java/lang/Object's, of every class) finalizable.
  if (name_ == "finalize" && descriptor_ == "()V" && c_.codeLength == 1 && c_.code[0] == op::kReturn)
    throw Unsupported("empty finalize()");
  insns_ = decodeInstructions(c_.code, c_.codeLength);
  indexAt_.assign(c_.codeLength + 1, -1);
  for (std::size_t i = 0; i < insns_.size(); ++i) {
    uint8_t opcode = insns_[i].opcode;
    if (opcode == op::kJsr || opcode == op::kJsrW || opcode == op::kRet ||
        (opcode == op::kWide && c_.code[insns_[i].offset + 1] == op::kRet))
      throw Unsupported("jsr/ret subroutines");
    indexAt_[insns_[i].offset] = static_cast<int32_t>(i);
  }
  indexAt_[c_.codeLength] = static_cast<int32_t>(insns_.size());
  for (const auto& h : c_.handlers) {
    if (h.start >= h.end) throw FormatError("empty exception range");
    indexOf(h.start);
    indexOf(h.end);
    if (indexOf(h.handler) >= insns_.size()) throw FormatError("handler at the end of the code");
  }
  initial_ = initialFrame(ctx_.className, name_, descriptor_, isStatic_);
  readAttributes();
  needsFrames_ = hasTable_ || ctx_.cls.majorVersion >= 51;
  // Constructors keep their chain hooks.
  if (ctx_.leaves() && !isConstructor_)
    deferred_ = deferredEntry(c_.code, insns_, indexAt_, c_.handlers, pool_, ctx_.className, isStatic_);
  // A copied return takes the frame of the return it copies, which must
  // still hold this for the hook.
  for (std::size_t i = 0; deferred_ && i < insns_.size(); ++i) {
    if (!copied(i) || !needsFrames_) continue;
    const Frame* frame = originalFrame(i);
    const bool thisKept = isStatic_ || (frame != nullptr && !frame->locals.empty() &&
                                        frame->locals[0] == initial_.locals[0]);
    if (frame == nullptr || !thisKept) deferred_.reset();
  }
}

void MethodRewriter::plan() {
  std::size_t n = insns_.size();
  before_.assign(n, Before::Nothing);
  bindAfter_.assign(n, false);
  caughtBefore_.assign(n, false);
  for (const auto& h : c_.handlers) caughtBefore_[indexOf(h.handler)] = true;
  region_.assign(n, Region::Plain);
  wide_.assign(n, false);
  chainKey_.assign(n, IntPush{});
  for (std::size_t i = 0; i < n; ++i) {
    if (isReturn(insns_[i].opcode)) before_[i] = Before::ExitHook;
    if (deferred_ && deferred_->entryBefore[i]) before_[i] = Before::EntryHook;
  }
  if (isConstructor_) planConstructor();
  planNumber();
  lay();
}

std::vector<Attribute> MethodRewriter::rewriteAttributes(uint32_t plainHandler,
                                                         uint32_t uninitHandler) {
  std::vector<Attribute> attributes = c_.attributes;
  for (std::size_t k = 0; k < attributes.size(); ++k) {
    Attribute& a = attributes[k];
    std::string_view name = pool_.utf8(a.nameIndex);
    a.replaced = true;
    if (k == stackMapAttribute_)
      a.replacement = stackMapTable(plainHandler, uninitHandler);
    else if (name == "LineNumberTable")
      a.replacement = lineNumbers(a);
    else if (name == "LocalVariableTable" || name == "LocalVariableTypeTable")
      a.replacement = localVariables(a);
    else if (name == "CharacterRangeTable")
      a.replacement = characterRanges(a);
    else
      a.replacement = typeAnnotations(a);
  }
  if (stackMapAttribute_ == SIZE_MAX && needsFrames_) {
    Attribute a;
    a.nameIndex = pool_.addUtf8("StackMapTable");
    a.replaced = true;
    a.replacement = stackMapTable(plainHandler, uninitHandler);
    attributes.push_back(std::move(a));
  }
  return attributes;
}

void MethodRewriter::readAttributes() {
  for (std::size_t k = 0; k < c_.attributes.size(); ++k) {
    std::string_view name = pool_.utf8(c_.attributes[k].nameIndex);
    if (name == "StackMapTable") {
      if (hasTable_) throw FormatError("two StackMapTable attributes");
      hasTable_ = true;
      stackMapAttribute_ = k;
      frames_ = decodeStackMapTable(c_.attributes[k].data, c_.attributes[k].size, initial_, pool_);
    } else if (name != "LineNumberTable" && name != "LocalVariableTable" &&
               name != "LocalVariableTypeTable" && name != "CharacterRangeTable" &&
               name != "RuntimeVisibleTypeAnnotations" &&
               name != "RuntimeInvisibleTypeAnnotations") {
      // Its offsets, if it has any, could not be moved.
      throw Unsupported("unknown attribute " + std::string(name) + " in Code");
    }
  }
}

// Finds the call that initialises this (the invokespecial <init> whose
// receiver is uninitializedThis) and which instructions run before it.
void MethodRewriter::planConstructor() {
  for (auto& r : region_) r = Region::Unknown;
  followTypes(flowInput(), ctx_.arena, [&](std::size_t i, const TypeState& s, bool initializesThis) {
    bool uninitialized = std::any_of(s.locals.begin(), s.locals.end(), [](const VType& t) {
      return t.tag == VTag::UninitializedThis;
    });
    bool thisInZero = !s.locals.empty() && s.locals[0].tag == VTag::UninitializedThis;
    // The handler before the call and bindInit's aload_0 both need this in
    // local 0.
    if ((uninitialized || initializesThis) && !thisInZero)
      throw Unsupported("uninitialized this outside local 0");
    region_[i] = uninitialized ? Region::ThisUninitialized : Region::Plain;
    if (initializesThis) {
      before_[i] = Before::ChainInit;
      bindAfter_[i] = true;
      const ConstantPool::MemberRef callee = pool_.memberRef(readU2(c_.code + insns_[i].offset + 1));
      chainKey_[i] = planPush(constructorKey(callee.owner, callee.descriptor));
    }
  });
}

void MethodRewriter::planNumber() {
  numberPush_ = planPush(number_);
  numberLength_ = numberPush_.length;
}

IntPush MethodRewriter::planPush(int32_t value) {
  IntPush push;
  push.value = value;
  if (value >= -1 && value <= 5) {
    push.length = 1;
  } else if (value >= -128 && value <= 127) {
    push.length = 2;
  } else if (value >= -32768 && value <= 32767) {
    push.length = 3;
  } else {
    push.poolIndex = pool_.addInteger(value);
    push.length = push.poolIndex <= 255 ? 2 : 3;
  }
  return push;
}

uint32_t MethodRewriter::newLength(std::size_t i, uint32_t at) const {
  const Instruction& insn = insns_[i];
  if (isConditionalBranch(insn.opcode)) return wide_[i] ? 8 : 3;
  if (insn.opcode == op::kGoto) return wide_[i] ? 5 : 3;
  if (insn.opcode == op::kTableswitch || insn.opcode == op::kLookupswitch) {
    uint32_t oldPadding = (4 - (insn.offset + 1) % 4) % 4;
    uint32_t newPadding = (4 - (at + 1) % 4) % 4;
    return insn.length - oldPadding + newPadding;
  }
  return insn.length;
}

void MethodRewriter::lay() {
  std::size_t n = insns_.size();
  uint32_t hookLength = numberLength_ + 3;
  uint32_t entryLength = numberLength_ + 3 + (isConstructor_ ? 0 : 1);
  if (numbered()) entryLength = kNumberLookupLength + numberLength_ + 7;
  // A deferred entry hook, and a leaf's hook, is the entry hook moved; the
  // receiver's number is still looked up at the start.
  uint32_t movedLength = 0;
  if (deferred_) {
    const uint32_t lookup = numbered() ? kNumberLookupLength : 0;
    movedLength = entryLength - lookup;
    entryLength = lookup;
  }
  layout_.preStart.assign(n + 1, 0);
  layout_.instrStart.assign(n, 0);
  layout_.copyStart.assign(n, 0);
  for (;;) {
    // Positions may pass 65535 here; the total is checked afterwards.
    uint64_t pos = entryLength;
    for (std::size_t i = 0; i < n; ++i) {
      layout_.preStart[i] = static_cast<uint32_t>(pos);
      if (caughtBefore_[i]) pos += hookLength + 1;
      if (before_[i] == Before::ExitHook) pos += wholeCall(i) ? movedLength : hookLength;
      if (before_[i] == Before::EntryHook) pos += movedLength;
      if (before_[i] == Before::ChainInit) pos += chainKey_[i].length + 3;
      layout_.instrStart[i] = static_cast<uint32_t>(pos);
      pos += newLength(i, static_cast<uint32_t>(pos));
      if (bindAfter_[i]) pos += 4;
      if (pos > std::numeric_limits<uint32_t>::max() / 2) throw Unsupported("code would exceed 65535 bytes");
    }
    layout_.preStart[n] = static_cast<uint32_t>(pos);
    for (std::size_t i = 0; i < n; ++i) {
      if (!copied(i)) continue;
      layout_.copyStart[i] = static_cast<uint32_t>(pos);
      pos += movedLength + 1;
    }
    if (pos > std::numeric_limits<uint32_t>::max() / 2) throw Unsupported("code would exceed 65535 bytes");
    layout_.end = static_cast<uint32_t>(pos);
    bool changed = false;
    for (std::size_t i = 0; i < n; ++i) {
      const Instruction& insn = insns_[i];
      if (wide_[i] || !(isConditionalBranch(insn.opcode) || insn.opcode == op::kGoto)) continue;
      int64_t to = jumpTarget(i, insn.offset + readS2(c_.code + insn.offset + 1));
      int64_t delta = to - int64_t{layout_.instrStart[i]};
      if (delta < -32768 || delta > 32767) {
        wide_[i] = true;
        changed = true;
      }
    }
    if (!changed) return;
  }
}

void MethodRewriter::emitNumber() { emitPush(numberPush_); }

void MethodRewriter::emitPush(const IntPush& push) {
  if (push.length == 1) {
    out_.u1(op::kIconst0 + push.value);
  } else if (push.poolIndex != 0) {
    if (push.length == 2) {
      out_.u1(op::kLdc);
      out_.u1(push.poolIndex);
    } else {
      out_.u1(op::kLdcW);
      out_.u2(push.poolIndex);
    }
  } else if (push.length == 2) {
    out_.u1(op::kBipush);
    out_.u1(static_cast<uint32_t>(push.value));
  } else {
    out_.u1(op::kSipush);
    out_.u2(static_cast<uint32_t>(push.value));
  }
}

// The object's number is kept in the fields until a copy of the object (one
// whose numbered-object field is not itself) comes by, which takes its own:
//    0 aload_0; getfield numbered; aload_0; if_acmpeq 21
//    8 aload_0; aload_0; invokestatic receiverNumber; putfield number
//   16 aload_0; aload_0; putfield numbered
//   21 (the frame on entry)
void MethodRewriter::emitNumberLookup() {
  out_.u1(op::kAload0);
  out_.u1(op::kGetfield);
  out_.u2(ctx_.numberedObjectFieldRef());
  out_.u1(op::kAload0);
  out_.u1(op::kIfAcmpeq);
  out_.u2(kNumberLookupLength - 5);
  out_.u1(op::kAload0);
  out_.u1(op::kAload0);
  emitInvoke(Hook::ReceiverNumber);
  out_.u1(op::kPutfield);
  out_.u2(ctx_.numberFieldRef());
  out_.u1(op::kAload0);
  out_.u1(op::kAload0);
  out_.u1(op::kPutfield);
  out_.u2(ctx_.numberedObjectFieldRef());
  if (out_.size() != kNumberLookupLength) throw FormatError("layout mismatch");
}

void MethodRewriter::emitCallHook(Hook numberedHook, Hook hook) {
  emitNumber();
  if (numbered()) {
    out_.u1(op::kAload0);
    out_.u1(op::kGetfield);
    out_.u2(ctx_.numberFieldRef());
    emitInvoke(numberedHook);
  } else {
    const bool passed = !isStatic_ && ctx_.receivers != ReceiverPassing::Null;
    out_.u1(passed ? op::kAload0 : op::kAconstNull);
    emitInvoke(hook);
  }
}

void MethodRewriter::emitInvoke(Hook hook) {
  out_.u1(op::kInvokestatic);
  out_.u2(ctx_.hookRef(hook));
}

void MethodRewriter::emitCode() {
  if (numbered()) emitNumberLookup();
  if (isConstructor_) {
    emitNumber();
    emitInvoke(Hook::EnterInit);
  } else if (!deferred_) {
    emitCallHook(Hook::EnterNumbered, Hook::Enter);
  }
  for (std::size_t i = 0; i < insns_.size(); ++i) {
    if (caughtBefore_[i]) {
      // The exception is on the stack, alone.
      out_.u1(op::kDup);
      emitNumber();
      emitInvoke(Hook::Caught);
    }
    if (before_[i] == Before::ExitHook && wholeCall(i)) {
      emitCallHook(Hook::LeafNumbered, Hook::Leaf);
    } else if (before_[i] == Before::EntryHook) {
      emitCallHook(Hook::EnterNumbered, Hook::Enter);
    } else if (before_[i] == Before::ExitHook) {
      emitNumber();
      emitInvoke(Hook::Exit);
    } else if (before_[i] == Before::ChainInit) {
      emitPush(chainKey_[i]);
      emitInvoke(Hook::ChainInit);
    }
    if (out_.size() != layout_.instrStart[i]) throw FormatError("layout mismatch");
    emitInstruction(i);
    if (bindAfter_[i]) {
      out_.u1(op::kAload0);
      emitInvoke(Hook::BindInit);
    }
  }
  if (out_.size() != layout_.preStart[insns_.size()]) throw FormatError("layout mismatch");
  for (std::size_t i = 0; i < insns_.size(); ++i) {
    if (!copied(i)) continue;
    if (out_.size() != layout_.copyStart[i]) throw FormatError("layout mismatch");
    emitCallHook(Hook::LeafNumbered, Hook::Leaf);
    out_.u1(insns_[i].opcode);
  }
  if (out_.size() != layout_.end) throw FormatError("layout mismatch");
}

void MethodRewriter::emitInstruction(std::size_t i) {
  const Instruction& insn = insns_[i];
  const uint8_t* p = c_.code + insn.offset;
  int64_t here = layout_.instrStart[i];
  if (isConditionalBranch(insn.opcode) || insn.opcode == op::kGoto) {
    int64_t to = jumpTarget(i, insn.offset + readS2(p + 1));
    if (!wide_[i]) {
      out_.u1(insn.opcode);
      out_.u2(static_cast<uint32_t>(to - here));
    } else if (insn.opcode == op::kGoto) {
      out_.u1(op::kGotoW);
      out_.u4(static_cast<uint32_t>(to - here));
    } else {
      // The opposite test jumps over a goto_w to the far target.
      out_.u1(invertedBranch(insn.opcode));
      out_.u2(8);
      out_.u1(op::kGotoW);
      out_.u4(static_cast<uint32_t>(to - (here + 3)));
    }
  } else if (insn.opcode == op::kGotoW) {
    out_.u1(op::kGotoW);
    out_.u4(static_cast<uint32_t>(jumpTarget(i, insn.offset + readS4(p + 1)) - here));
  } else if (insn.opcode == op::kTableswitch || insn.opcode == op::kLookupswitch) {
    Switch s = readSwitch(c_.code, insn);
    auto relative = [&](int32_t offset) {
      return static_cast<uint32_t>(jumpTarget(i, insn.offset + offset) - here);
    };
    out_.u1(insn.opcode);
    while ((out_.size()) % 4 != 0) out_.u1(0);
    out_.u4(relative(s.defaultOffset));
    if (insn.opcode == op::kTableswitch) {
      out_.u4(static_cast<uint32_t>(s.low));
      out_.u4(static_cast<uint32_t>(s.low + static_cast<int32_t>(s.offsets.size()) - 1));
      for (int32_t o : s.offsets) out_.u4(relative(o));
    } else {
      out_.u4(static_cast<uint32_t>(s.offsets.size()));
      for (std::size_t k = 0; k < s.offsets.size(); ++k) {
        out_.u4(static_cast<uint32_t>(s.matches[k]));
        out_.u4(relative(s.offsets[k]));
      }
    }
  } else {
    out_.append(p, insn.length);
  }
}

std::vector<ExceptionHandler> MethodRewriter::exceptionTable(uint32_t plainHandler,
                                                             uint32_t uninitHandler) {
  std::vector<ExceptionHandler> table;
  for (const auto& h : c_.handlers)
    table.push_back({bodyStart(h.start), rangeEnd(h.end), target(h.handler), h.catchType});
  // The catch-all comes last so that every handler of the method's own goes
  // first. It covers the body from after the entry hook; in a constructor,
  // code that runs while this is uninitialised has its own handler, whose
  // frame keeps uninitializedThis.
  std::vector<ExceptionHandler> ours;
  auto cover = [&](uint32_t from, uint32_t to, uint32_t handler) {
    if (from >= to) return;
    if (!ours.empty() && ours.back().end == from && ours.back().handler == handler)
      ours.back().end = to;
    else
      ours.push_back({from, to, handler, 0});
  };
  for (std::size_t i = 0; i < insns_.size(); ++i) {
    uint32_t handler = region_[i] == Region::ThisUninitialized ? uninitHandler : plainHandler;
    uint32_t end = layout_.preStart[i + 1];
    if (bindAfter_[i]) {
      // The call that initialises this is left out: HotSpot holds a handler
      // over it to both the frame before the call (this uninitialised, the
      // flag set) and the one after (this initialised, the flag still set),
      // and no frame fits both (a handler that only throws is allowed there,
      // but its frame must still fit both). An exception from that call
      // leaves this method unseen: a traced callee reports it and the runtime
      // closes the chaining constructors with it; past a callee without
      // hooks, the handler that catches it (see caught) closes them.
      cover(layout_.preStart[i], layout_.instrStart[i], handler);
      cover(layout_.instrStart[i] + 3, end, plainHandler);
    } else {
      cover(bodyStart(insns_[i].offset), end, handler);
    }
  }
  table.insert(table.end(), ours.begin(), ours.end());
  return table;
}

std::vector<uint8_t> MethodRewriter::stackMapTable(uint32_t plainHandler, uint32_t uninitHandler) {
  std::vector<Frame> frames;
  frames.reserve(frames_.size() + 2);
  for (const Frame& f : frames_) {
    Frame moved;
    moved.offset = target(f.offset);
    for (const VType& t : f.locals) moved.locals.push_back(relocate(t));
    for (const VType& t : f.stack) moved.stack.push_back(relocate(t));
    frames.push_back(std::move(moved));
  }
  // A widened conditional branch falls through behind its goto_w, a point
  // that now needs a frame of its own: the types after the branch's pops.
  bool widened = false;
  for (std::size_t i = 0; i < insns_.size(); ++i)
    widened = widened || (wide_[i] && isConditionalBranch(insns_[i].opcode));
  if (widened) {
    std::vector<bool> framed(insns_.size() + 1, false);
    for (const Frame& f : frames_) framed[indexOf(f.offset)] = true;
    followTypes(flowInput(), ctx_.arena, [&](std::size_t i, const TypeState& s, bool) {
      if (!wide_[i] || !isConditionalBranch(insns_[i].opcode) || framed[i + 1]) return;
      if (i + 1 >= insns_.size()) throw FormatError("branch at the end of the code");
      Frame f;
      f.offset = layout_.preStart[i + 1];
      for (const VType& t : s.locals) f.locals.push_back(relocate(t));
      trimTop(f.locals);
      std::size_t kept = s.stack.size() - static_cast<std::size_t>(branchPops(insns_[i].opcode));
      for (std::size_t k = 0; k < kept; ++k) f.stack.push_back(relocate(s.stack[k]));
      frames.push_back(std::move(f));
    });
  }
  for (std::size_t i = 0; i < insns_.size(); ++i) {
    const Frame* original = copied(i) ? originalFrame(i) : nullptr;
    if (original == nullptr) continue;
    Frame copy;
    copy.offset = layout_.copyStart[i];
    for (const VType& t : original->locals) copy.locals.push_back(relocate(t));
    for (const VType& t : original->stack) copy.stack.push_back(relocate(t));
    frames.push_back(std::move(copy));
  }
  if (numbered()) frames.push_back(Frame{kNumberLookupLength, initial_.locals, {}});
  VType throwable{VTag::Object, 0, "java/lang/Throwable"};
  frames.push_back(Frame{plainHandler, {}, {throwable}});
  if (uninitHandler != 0)
    frames.push_back(Frame{uninitHandler, {VType{VTag::UninitializedThis, 0, {}}}, {throwable}});
  std::sort(frames.begin(), frames.end(),
            [](const Frame& a, const Frame& b) { return a.offset < b.offset; });
  return encodeStackMapTable(frames, initial_, pool_);
}

// A table of code ranges: a u2 count, then entries each rewritten by `entry`.
template <typename Entry>
std::vector<uint8_t> rewriteTable(const Attribute& a, const char* what, Entry entry) {
  ByteReader in(a.data, a.size);
  ByteWriter out;
  const uint16_t count = in.u2();
  out.u2(count);
  for (uint16_t k = 0; k < count; ++k) entry(in, out);
  if (!in.atEnd()) throw FormatError(std::string("bytes after the ") + what);
  return std::move(out.bytes());
}

std::vector<uint8_t> MethodRewriter::lineNumbers(const Attribute& a) const {
  std::vector<std::pair<uint32_t, uint16_t>> lines;  // as in the original
  std::vector<uint8_t> table = rewriteTable(a, "line numbers", [&](ByteReader& in, ByteWriter& out) {
    const uint32_t start = in.u2();
    const uint16_t line = in.u2();
    lines.emplace_back(start, line);
    out.u2(rangeStart(start));
    out.u2(line);
  });
  // A copied return shows the line of the return it copies, in a stack
  // trace or a debugger.
  ByteWriter added;
  std::size_t count = lines.size();
  for (std::size_t i = 0; i < insns_.size(); ++i) {
    if (!copied(i)) continue;
    const std::pair<uint32_t, uint16_t>* line = nullptr;
    for (const auto& l : lines)
      if (l.first <= insns_[i].offset && (line == nullptr || l.first >= line->first)) line = &l;
    if (line == nullptr) continue;
    added.u2(layout_.copyStart[i]);
    added.u2(line->second);
    ++count;
  }
  if (count == lines.size() || count > 65535) return table;
  table[0] = static_cast<uint8_t>(count >> 8);
  table[1] = static_cast<uint8_t>(count);
  table.insert(table.end(), added.bytes().begin(), added.bytes().end());
  return table;
}

std::vector<uint8_t> MethodRewriter::localVariables(const Attribute& a) const {
  return rewriteTable(a, "local variables", [this](ByteReader& in, ByteWriter& out) {
    const uint32_t start = in.u2();
    const uint32_t end = start + in.u2();
    const uint32_t newStart = rangeStart(start);
    out.u2(newStart);
    out.u2(rangeEnd(end) - newStart);
    out.append(in.take(6), 6);
  });
}

// javac -Xjcov's map from code ranges to source characters. Its ranges end
// at their last byte: the one before the instruction that follows them.
std::vector<uint8_t> MethodRewriter::characterRanges(const Attribute& a) const {
  return rewriteTable(a, "character ranges", [this](ByteReader& in, ByteWriter& out) {
    const uint32_t start = in.u2();
    const uint32_t last = in.u2();
    if (last < start) throw FormatError("character range ends before it starts");
    out.u2(rangeStart(start));
    out.u2(rangeEnd(last + 1) - 1);
    out.append(in.take(10), 10);  // the characters and the flags
  });
}

void copyElementValue(ByteReader& in, ByteWriter& out);

void copyAnnotation(ByteReader& in, ByteWriter& out) {
  out.u2(in.u2());  // type
  uint16_t pairs = in.u2();
  out.u2(pairs);
  for (uint16_t k = 0; k < pairs; ++k) {
    out.u2(in.u2());
    copyElementValue(in, out);
  }
}

void copyElementValue(ByteReader& in, ByteWriter& out) {
  uint8_t tag = in.u1();
  out.u1(tag);
  switch (tag) {
    case 'B': case 'C': case 'D': case 'F': case 'I': case 'J': case 'S': case 'Z':
    case 's': case 'c':
      out.u2(in.u2());
      break;
    case 'e':
      out.append(in.take(4), 4);
      break;
    case '@':
      copyAnnotation(in, out);
      break;
    case '[': {
      uint16_t count = in.u2();
      out.u2(count);
      for (uint16_t k = 0; k < count; ++k) copyElementValue(in, out);
      break;
    }
    default:
      throw FormatError("bad annotation element tag");
  }
}

// Type annotations on instructions are kept and moved with them.
std::vector<uint8_t> MethodRewriter::typeAnnotations(const Attribute& a) const {
  ByteReader in(a.data, a.size);
  ByteWriter out;
  uint16_t count = in.u2();
  out.u2(count);
  for (uint16_t k = 0; k < count; ++k) {
    uint8_t targetType = in.u1();
    out.u1(targetType);
    if (targetType == 0x40 || targetType == 0x41) {  // local variable ranges
      uint16_t ranges = in.u2();
      out.u2(ranges);
      for (uint16_t r = 0; r < ranges; ++r) {
        uint32_t start = in.u2();
        uint32_t end = start + in.u2();
        uint32_t newStart = rangeStart(start);
        out.u2(newStart);
        out.u2(rangeEnd(end) - newStart);
        out.u2(in.u2());
      }
    } else if (targetType == 0x42) {  // catch: an index into the exception table
      out.u2(in.u2());
    } else if (targetType >= 0x43 && targetType <= 0x46) {
      out.u2(instructionAt(in.u2()));
    } else if (targetType >= 0x47 && targetType <= 0x4b) {
      out.u2(instructionAt(in.u2()));
      out.u1(in.u1());
    } else {
      throw FormatError("type annotation target not of code");
    }
    uint8_t pathLength = in.u1();
    out.u1(pathLength);
    out.append(in.take(2u * pathLength), 2u * pathLength);
    copyAnnotation(in, out);
  }
  if (!in.atEnd()) throw FormatError("bytes after the type annotations");
  return std::move(out.bytes());
}

}  // namespace

std::optional<std::string> rewriteMethod(ClassContext& context, const Method& method,
                                         Attribute& code, int32_t number, MovedCode* moved) {
  try {
    MethodRewriter rewriter(context, method, number);
    std::vector<uint8_t> body = rewriter.run(code);
    if (moved != nullptr) {
      moved->number = number;
      rewriter.describeMoves(*moved);
    }
    code.replaced = true;
    code.replacement = std::move(body);
    return std::nullopt;
  } catch (const Unsupported& e) {
    return std::string(e.what());
  } catch (const ConstantPoolFull&) {
    return std::string("no room in the constant pool for the hooks' references");
  } catch (const FormatError& e) {
    return "malformed code: " + std::string(e.what());
  }
}

}  // namespace kolvaprof::classfile
