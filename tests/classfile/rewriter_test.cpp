#include <dirent.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "classfile/hand_made_classes.h"
#include "classfile/class_rewriter.h"
#include "classfile/hook_signature.h"

namespace kolvaprof::classfile {
namespace {

using testing::buildClass;
using testing::decodeMethod;
using testing::DecodedMethod;
using testing::kObjectInit;
using testing::kThisClass;
using testing::kThisInit;
using testing::TestMethod;

constexpr uint8_t kBipush = 0x10, kReturn = 0xb1, kIreturn = 0xac, kNop = 0x00;

RewriteResult rewriteAll(const std::vector<uint8_t>& bytes, int32_t number = 7) {
  return rewriteClass(bytes.data(), bytes.size(),
                      [&](const MethodDescription&) { return std::optional<int32_t>(number); });
}

std::vector<uint8_t> rewritten(const std::vector<uint8_t>& bytes, int32_t number = 7) {
  RewriteResult r = rewriteAll(bytes, number);
  EXPECT_EQ(r.outcome, RewriteResult::Outcome::Rewritten) << r.reason;
  for (const auto& left : r.left) ADD_FAILURE() << left.name << ": " << left.reason;
  return r.bytes;
}

Frame frameAt(uint32_t offset, std::vector<VType> locals, std::vector<VType> stack = {}) {
  return Frame{offset, std::move(locals), std::move(stack)};
}
const VType kInt{VTag::Integer, 0, {}};
VType object(std::string_view name) { return VType{VTag::Object, 0, name}; }

const Frame* frameAtOffset(const DecodedMethod& d, uint32_t offset) {
  for (const Frame& f : d.frames)
    if (f.offset == offset) return &f;
  ADD_FAILURE() << "no frame at " << offset;
  return nullptr;
}

// Static methods start with bipush 7; aconst_null; invokestatic enter (6
// bytes); every return gets bipush 7; invokestatic exit (5 bytes) before it.
TEST(Rewriter, JumpsLandOnTheInstructionsTheyMeant) {
  TestMethod backToStart;  // a loop back to offset 0 skips the entry hook
  backToStart.name = "loop";
  backToStart.descriptor = "(I)V";
  backToStart.code = {0x84, 0, 0xFF, 0x1a, 0x9a, 0xFF, 0xFC, kReturn};  // iinc; iload_0; ifne 0
  backToStart.frames = std::vector<Frame>{frameAt(0, {kInt})};
  TestMethod toReturn;  // a jump to a return runs its exit hook
  toReturn.name = "skip";
  toReturn.descriptor = "(I)V";
  toReturn.code = {0x1a, 0x99, 0, 4, kNop, kReturn};  // iload_0; ifeq 5; nop; return
  toReturn.frames = std::vector<Frame>{frameAt(5, {kInt})};
  std::vector<uint8_t> out = rewritten(buildClass(52, {backToStart, toReturn}));

  DecodedMethod loop = decodeMethod(out, "loop");
  EXPECT_EQ(loop.invoked(3), "kolvaprof/Hooks.enter");
  EXPECT_EQ(loop.code[6], 0x84);
  EXPECT_EQ(loop.branchTarget(10), 6u);
  EXPECT_NE(frameAtOffset(loop, 6), nullptr);
  EXPECT_EQ(loop.invoked(15), "kolvaprof/Hooks.exit");

  DecodedMethod skip = decodeMethod(out, "skip");
  EXPECT_EQ(skip.branchTarget(7), 11u);
  EXPECT_EQ(skip.code[11], kBipush);
  EXPECT_EQ(skip.invoked(13), "kolvaprof/Hooks.exit");
  EXPECT_NE(frameAtOffset(skip, 11), nullptr);
}

TEST(Rewriter, SwitchesGetNewPaddingAndTargets) {
  // iload_0; switch (at 1, two bytes of padding); then three "iconst_k; ireturn".
  std::vector<uint8_t> table = {0x1a, 0xaa, 0, 0, 0, 0, 0, 23, 0, 0, 0, 0, 0, 0, 0, 1,
                                0, 0, 0, 25, 0, 0, 0, 27};
  std::vector<uint8_t> lookup = {0x1a, 0xab, 0, 0, 0, 0, 0, 27, 0, 0, 0, 2,
                                 0xFF, 0xFF, 0xFF, 0xFB, 0, 0, 0, 29, 0, 0, 3, 0xE8, 0, 0, 0, 31};
  std::vector<uint8_t> returns = {0x03, kIreturn, 0x04, kIreturn, 0x05, kIreturn};
  std::vector<TestMethod> methods;
  for (auto* code : {&table, &lookup}) {
    TestMethod m;
    m.name = code == &table ? "table" : "lookup";
    m.descriptor = "(I)I";
    m.code = *code;
    m.code.insert(m.code.end(), returns.begin(), returns.end());
    uint32_t after = static_cast<uint32_t>(code->size());
    m.frames = std::vector<Frame>{frameAt(after, {kInt}), frameAt(after + 2, {kInt}),
                                  frameAt(after + 4, {kInt})};
    methods.push_back(m);
  }
  std::vector<uint8_t> out = rewritten(buildClass(52, methods));
  for (const char* name : {"table", "lookup"}) {
    SCOPED_TRACE(name);
    DecodedMethod d = decodeMethod(out, name);
    // The switch moved from 1 to 7: no padding now.
    const Instruction& sw = d.instructions[d.at(7)];
    std::vector<uint32_t> targets = branchTargets(d.code.data(), sw);
    ASSERT_EQ(targets.size(), 3u);
    uint32_t after = sw.offset + sw.length;
    EXPECT_EQ(targets, (std::vector<uint32_t>{after, after + 7, after + 14}));
    for (uint32_t k = 0; k < 3; ++k) {
      EXPECT_EQ(d.code[targets[k]], 0x03 + k);
      EXPECT_NE(frameAtOffset(d, targets[k]), nullptr);
    }
  }
}

TEST(Rewriter, MovesExceptionLineAndLocalTables) {
  TestMethod m;  // int m(int x) { try { return x / 1; } catch (Exception e) { return -1; } }
  m.access = 0;
  m.descriptor = "(I)I";
  m.maxLocals = 3;
  m.code = {0x1b, 0x04, 0x6c, kIreturn, 0x4d, 0x02, kIreturn};
  m.handlers = {{0, 3, 4, 0xFFFF}};
  m.frames = std::vector<Frame>{frameAt(4, {object("t/T"), kInt}, {object("java/lang/Exception")})};
  m.lines = {{0, 10}, {4, 11}};
  m.locals = {{0, 7, "this", "Lt/T;", 0}, {0, 7, "x", "I", 1}, {5, 2, "e", "Ljava/lang/Exception;", 2}};
  DecodedMethod d = decodeMethod(rewritten(buildClass(52, {m})), "m");

  // iload_1 at 6 .. idiv at 8, exit hook 9..13, ireturn 14, the handler's
  // caught hook 15..20 (dup; bipush 7; invokestatic), astore_2 21,
  // iconst_m1 22, exit hook 23..27, ireturn 28, catch-all handler at 29.
  ASSERT_EQ(d.handlers.size(), 2u);
  EXPECT_EQ(d.handlers[0].start, 6u);
  EXPECT_EQ(d.handlers[0].end, 9u);
  EXPECT_EQ(d.handlers[0].handler, 15u);
  EXPECT_EQ(d.catchTypes[0], "java/lang/Exception");
  EXPECT_EQ(d.code[15], op::kDup);
  EXPECT_EQ(d.invoked(18), "kolvaprof/Hooks.caught");
  EXPECT_EQ(d.code[21], 0x4d);
  EXPECT_NE(frameAtOffset(d, 15), nullptr);
  EXPECT_EQ(d.handlers[1].start, 6u);
  EXPECT_EQ(d.handlers[1].end, 29u);
  EXPECT_EQ(d.handlers[1].handler, 29u);
  EXPECT_EQ(d.catchTypes[1], "");
  EXPECT_EQ(d.code[29], op::kDup);
  EXPECT_EQ(d.invoked(32), "kolvaprof/Hooks.exitThrow");
  EXPECT_EQ(d.code[35], op::kAthrow);
  EXPECT_EQ(d.lines, (std::vector<std::pair<uint16_t, uint16_t>>{{0, 10}, {15, 11}}));
  ASSERT_EQ(d.locals.size(), 3u);
  EXPECT_EQ(std::make_pair(d.locals[0].start, d.locals[0].length), std::make_pair(uint16_t{0}, uint16_t{29}));
  EXPECT_EQ(std::make_pair(d.locals[2].start, d.locals[2].length), std::make_pair(uint16_t{22}, uint16_t{7}));
  const Frame* handler = frameAtOffset(d, 29);
  ASSERT_NE(handler, nullptr);
  EXPECT_TRUE(handler->locals.empty());
  EXPECT_EQ(handler->stack, std::vector<VType>{object("java/lang/Throwable")});
  EXPECT_EQ(d.maxStack, 3);
}

// javac -Xjcov's ranges end at their last byte; a method that has them is
// traced like any other.
TEST(Rewriter, MovesCharacterRanges) {
  TestMethod m;  // static int m(int x) { return x != 0 ? 1 : 0; }
  m.descriptor = "(I)I";
  m.code = {0x1a, 0x99, 0, 5, 0x04, kIreturn, 0x03, kIreturn};
  m.extraAttribute = "CharacterRangeTable";
  auto range = [](uint16_t start, uint16_t last, uint8_t tag) {
    return std::vector<uint8_t>{uint8_t(start >> 8), uint8_t(start), uint8_t(last >> 8),
                                uint8_t(last), 0, 0, 0x10, tag, 0, 0, 0x10, tag, 0, 1};
  };
  m.extraAttributeBody = {0, 3};
  for (auto r : {range(0, 3, 1), range(4, 5, 2), range(6, 7, 3)})
    m.extraAttributeBody.insert(m.extraAttributeBody.end(), r.begin(), r.end());
  DecodedMethod d = decodeMethod(rewritten(buildClass(49, {m})), "m");
  // iload_0 6, ifeq 7, iconst_1 10, exit hook 11..15, ireturn 16, iconst_0
  // 17, exit hook 18..22, ireturn 23, the catch-all handler from 24.
  std::vector<uint8_t> expected = {0, 3};
  for (auto r : {range(0, 9, 1), range(10, 16, 2), range(17, 23, 3)})
    expected.insert(expected.end(), r.begin(), r.end());
  ASSERT_EQ(d.attributeNames, std::vector<std::string>{"CharacterRangeTable"});
  EXPECT_EQ(d.attributeBodies[0], expected);
  EXPECT_EQ(d.branchTarget(7), 17u);
}

// A pool without room for the hooks' entries is a limit the class reached,
// not a fault of its code.
TEST(Rewriter, SaysWhenTheConstantPoolHasNoRoomForTheHooks) {
  TestMethod m;
  m.code = {kReturn};
  std::vector<uint8_t> in = buildClass(52, {m}, 65520);
  RewriteResult r = rewriteAll(in);
  EXPECT_EQ(r.outcome, RewriteResult::Outcome::Unchanged);
  ASSERT_EQ(r.left.size(), 1u);
  EXPECT_EQ(r.left[0].reason, "no room in the constant pool for the hooks' references");
}

TEST(Rewriter, PushesTheMethodNumberInTheShortestForm) {
  struct Case {
    int32_t number;
    int poolPadding;
    uint8_t opcode;
  } cases[] = {{-1, 0, 0x02},      {5, 0, 0x08},      {6, 0, op::kBipush}, {-128, 0, op::kBipush},
               {128, 0, op::kSipush}, {-32768, 0, op::kSipush}, {32768, 0, op::kLdc},
               {-40000, 0, op::kLdc}, {70000, 300, op::kLdcW}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.number);
    TestMethod m;
    m.code = {kReturn};
    DecodedMethod d = decodeMethod(rewritten(buildClass(52, {m}, c.poolPadding), c.number), "m");
    EXPECT_EQ(d.code[0], c.opcode);
    // The exit hook and the handler push it the same way.
    std::size_t exitPush = d.at(d.instructions[1].offset + 4);
    EXPECT_EQ(d.instructions[exitPush].opcode, c.opcode);
  }
}

TEST(Rewriter, ConstructorsBindAroundTheCallThatInitialisesThis) {
  TestMethod plain;  // T() { super(); }
  plain.access = 0;
  plain.name = "<init>";
  plain.code = {0x2a, 0xb7, 0, kObjectInit, kReturn};
  TestMethod withNew = plain;  // T(Object o) { super(); new T(); } with the new before super
  withNew.descriptor = "(Ljava/lang/Object;)V";
  withNew.maxStack = 3;
  withNew.code = {0x2a, 0xbb, 0, kThisClass, 0x59, 0xb7, 0, kThisInit, 0x57, 0xb7, 0, kObjectInit, kReturn};
  std::vector<uint8_t> out = rewritten(buildClass(52, {plain, withNew}));

  DecodedMethod d = decodeMethod(out, "<init>", "()V");
  std::vector<std::string> calls;
  for (const auto& name : d.invokedNames)
    if (!name.empty()) calls.push_back(name);
  EXPECT_EQ(calls, (std::vector<std::string>{
                       "kolvaprof/Hooks.enterInit", "kolvaprof/Hooks.chainInit", "java/lang/Object.<init>",
                       "kolvaprof/Hooks.bindInit", "kolvaprof/Hooks.exit", "kolvaprof/Hooks.exitThrow",
                       "kolvaprof/Hooks.exitThrow"}));
  // chainInit gets the key of the constructor called, from the pool (ldc).
  EXPECT_EQ(d.code[6], op::kLdc);
  EXPECT_EQ(d.invoked(8), "kolvaprof/Hooks.chainInit");
  EXPECT_EQ(d.code[14], op::kAload0);  // bindInit gets this
  // Before the call: its own handler with this uninitialised; the call itself
  // is in neither; after it, the plain one.
  ASSERT_EQ(d.handlers.size(), 2u);
  EXPECT_EQ(std::make_tuple(d.handlers[0].start, d.handlers[0].end, d.handlers[0].handler),
            std::make_tuple(5u, 11u, 31u));
  EXPECT_EQ(std::make_tuple(d.handlers[1].start, d.handlers[1].end, d.handlers[1].handler),
            std::make_tuple(14u, 24u, 24u));
  EXPECT_EQ(d.code[37], op::kAthrow);
  const Frame* uninit = frameAtOffset(d, 31);
  ASSERT_NE(uninit, nullptr);
  const VType uninitializedThis{VTag::UninitializedThis, 0, {}};
  EXPECT_EQ(uninit->locals, std::vector<VType>{uninitializedThis});
  EXPECT_TRUE(frameAtOffset(d, 24)->locals.empty());
  EXPECT_NE(constructorKey("java/lang/Object", "()V"), constructorKey("t/T", "()V"));
  EXPECT_NE(constructorKey("t/T", "()V"), constructorKey("t/T", "(I)V"));

  // The <init> of an object made by new in the arguments is not the chain.
  DecodedMethod n = decodeMethod(out, "<init>", "(Ljava/lang/Object;)V");
  std::vector<std::string> ncalls;
  for (const auto& name : n.invokedNames)
    if (!name.empty()) ncalls.push_back(name);
  EXPECT_EQ(std::vector<std::string>(ncalls.begin(), ncalls.begin() + 5),
            (std::vector<std::string>{"kolvaprof/Hooks.enterInit", "t/T.<init>", "kolvaprof/Hooks.chainInit",
                                      "java/lang/Object.<init>", "kolvaprof/Hooks.bindInit"}));
}

// A jump of 32740 bytes over ten returns grows by 50 bytes: the ifeq becomes
// ifne over a goto_w, whose fall-through gets a frame; the goto back becomes
// a goto_w.
TEST(Rewriter, WidensJumpsThatNoLongerFit) {
  TestMethod m;
  m.descriptor = "(I)V";
  std::vector<Frame> frames;
  m.code = {0x1a, 0x99, 0x7F, 0xE4};  // iload_0; ifeq +32740
  for (int k = 0; k < 10; ++k) {
    m.code.insert(m.code.end(), {0x1a, 0x9a, 0, 4, kReturn});  // iload_0; ifne +4; return
    frames.push_back(frameAt(static_cast<uint32_t>(m.code.size()), {kInt}));
  }
  m.code.resize(32741, kNop);
  int16_t back = static_cast<int16_t>(9 - 32741);
  m.code.insert(m.code.end(), {op::kGoto, static_cast<uint8_t>(back >> 8), static_cast<uint8_t>(back)});
  frames.push_back(frameAt(32741, {kInt}));
  m.frames = frames;
  DecodedMethod d = decodeMethod(rewritten(buildClass(52, {m})), "m");

  const Instruction& test = d.instructions[d.at(7)];
  EXPECT_EQ(test.opcode, 0x9a);  // ifne
  EXPECT_EQ(d.branchTarget(7), 15u);
  EXPECT_EQ(d.code[10], op::kGotoW);
  uint32_t far = d.branchTarget(10);
  EXPECT_EQ(far, 32741u + 6 + 5 + 50);
  EXPECT_EQ(d.code[far], op::kGotoW);
  EXPECT_EQ(d.branchTarget(far), 25u);  // the second block, behind the widened jump and the first
  const Frame* fallThrough = frameAtOffset(d, 15);
  ASSERT_NE(fallThrough, nullptr);
  EXPECT_EQ(fallThrough->locals, std::vector<VType>{kInt});
  EXPECT_TRUE(fallThrough->stack.empty());
}

TEST(Rewriter, LeavesMethodsItCannotRewriteAndRewritesTheRest) {
  TestMethod ok;
  ok.name = "ok";
  ok.code = {kReturn};
  struct Case {
    const char* reason;
    TestMethod method;
    uint16_t major;
  };
  TestMethod jsr;  // jsr 4; return; astore_0; ret 0
  jsr.code = {0xa8, 0, 4, kReturn, 0x4b, 0xa9, 0};
  TestMethod big;
  big.code.assign(65534, kNop);
  big.code.push_back(kReturn);
  TestMethod unknown = ok;
  unknown.extraAttribute = "SomethingWithOffsets";
  TestMethod finalize;
  finalize.access = 0;
  finalize.name = "finalize";
  finalize.code = {kReturn};
  const Case cases[] = {{"jsr/ret subroutines", jsr, 49},
                        {"code would exceed 65535 bytes", big, 52},
                        {"unknown attribute SomethingWithOffsets in Code", unknown, 52},
                        {"empty finalize()", finalize, 52}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reason);
    std::vector<uint8_t> in = buildClass(c.major, {c.method, ok});
    RewriteResult r = rewriteAll(in);
    EXPECT_EQ(r.outcome, RewriteResult::Outcome::Rewritten);
    EXPECT_EQ(r.methodsRewritten, 1);
    EXPECT_EQ(r.methodsLeft, 1);
    ASSERT_EQ(r.left.size(), 1u);
    EXPECT_EQ(r.left[0].reason, c.reason);
    DecodedMethod left = decodeMethod(r.bytes, c.method.name);
    EXPECT_EQ(left.code, c.method.code);
  }
}

TEST(Rewriter, RefusesWhatIsNotAClassItCanRead) {
  TestMethod m;
  m.code = {kReturn};
  std::vector<uint8_t> good = buildClass(52, {m});
  std::vector<uint8_t> truncated(good.begin(), good.end() - 3);
  std::vector<uint8_t> tooNew = buildClass(70, {m});
  std::vector<uint8_t> junk = {0xCA, 0xFE, 0xBA, 0xBE, 0, 0, 0, 52, 0, 3, 99};
  for (const auto* bytes : {&truncated, &tooNew, &junk}) {
    RewriteResult r = rewriteAll(*bytes);
    EXPECT_EQ(r.outcome, RewriteResult::Outcome::Refused);
    EXPECT_FALSE(r.reason.empty());
    EXPECT_TRUE(r.bytes.empty());
  }
  HookNames hooksAreT{"t/T"};
  RewriteResult self = rewriteClass(good.data(), good.size(), [](const MethodDescription&) {
    return std::optional<int32_t>(1);
  }, hooksAreT);
  EXPECT_EQ(self.outcome, RewriteResult::Outcome::Unchanged);
  RewriteResult none = rewriteClass(good.data(), good.size(), [](const MethodDescription&) {
    return std::optional<int32_t>();
  });
  EXPECT_EQ(none.outcome, RewriteResult::Outcome::Unchanged);
  EXPECT_EQ(none.methodsLeft, 0);
}

// Which classes take the receiver-number fields, and how the entry of an
// instance method then hands its receiver to the hooks.
TEST(Rewriter, KeepsReceiverNumbersInFieldsOfClassesThatCanTakeThem) {
  TestMethod instance;
  instance.access = 0;
  instance.code = {kReturn};
  TestMethod staticOnly;
  staticOnly.code = {kReturn};
  enum class Shape { Class, Interface, Record, OwnNumberField };
  struct Case {
    const char* name;
    ReceiverPassing passing;
    Shape shape;
    TestMethod method;
    bool selected;
    bool fields;
    const char* entryHook;  // what the method's entry calls; "" when it is left as it is
  } cases[] = {
      {"class", ReceiverPassing::NumberFieldsWhereUseful, Shape::Class, instance, true, true,
       "kolvaprof/Hooks.receiverNumber"},
      {"static methods only", ReceiverPassing::NumberFieldsWhereUseful, Shape::Class, staticOnly,
       true, false, "kolvaprof/Hooks.enter"},
      {"interface", ReceiverPassing::NumberFieldsWhereUseful, Shape::Interface, instance, true,
       false, "kolvaprof/Hooks.enter"},
      {"record", ReceiverPassing::NumberFieldsWhereUseful, Shape::Record, instance, true, false,
       "kolvaprof/Hooks.enter"},
      {"own field of that name", ReceiverPassing::NumberFields, Shape::OwnNumberField, instance,
       true, false, "kolvaprof/Hooks.enter"},
      {"retransformed, nothing selected", ReceiverPassing::NumberFields, Shape::Class, instance,
       false, true, ""},
      {"receivers not recorded", ReceiverPassing::Null, Shape::Class, instance, true, false,
       "kolvaprof/Hooks.enter"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> built = buildClass(52, {c.method});
    ClassFile cls = parseClassFile(built.data(), built.size());
    ByteWriter ownField;  // no interfaces; one private field, no attributes
    if (c.shape == Shape::Interface) cls.access = 0x0601;
    if (c.shape == Shape::Record) cls.superClass = cls.pool.addClass("java/lang/Record");
    if (c.shape == Shape::OwnNumberField) {
      for (uint32_t v : {0u, 1u, 2u, uint32_t{cls.pool.addUtf8(kNumberFieldName)},
                         uint32_t{cls.pool.addUtf8("J")}, 0u})
        ownField.u2(v);
      cls.middle = ownField.bytes().data();
      cls.middleSize = ownField.size();
    }
    std::vector<uint8_t> input = writeClassFile(cls);
    RewriteResult r = rewriteClass(
        input.data(), input.size(),
        [&](const MethodDescription&) { return c.selected ? std::optional<int32_t>(7) : std::nullopt; },
        {}, false, c.passing);
    ASSERT_EQ(r.outcome, RewriteResult::Outcome::Rewritten) << r.reason;
    EXPECT_EQ(r.numberFields, c.fields);
    ClassFile out = parseClassFile(r.bytes.data(), r.bytes.size());
    std::vector<std::string> fields;
    for (uint16_t name : out.fieldNames) fields.emplace_back(out.pool.utf8(name));
    if (c.fields) {
      EXPECT_EQ(fields, (std::vector<std::string>{std::string(kNumberedObjectFieldName),
                                                  std::string(kNumberFieldName)}));
    } else {
      EXPECT_EQ(fields.size(), c.shape == Shape::OwnNumberField ? 1u : 0u);
    }
    DecodedMethod d = decodeMethod(r.bytes, "m");
    std::string firstInvoked;
    for (const std::string& name : d.invokedNames)
      if (firstInvoked.empty()) firstInvoked = name;
    EXPECT_EQ(firstInvoked, c.entryHook);
    if (std::string(c.entryHook) == "kolvaprof/Hooks.receiverNumber") {
      // The lookup joins the entry with the method's own starting frame.
      const Frame* join = frameAtOffset(d, 21);
      if (join) {
        EXPECT_EQ(join->locals, std::vector<VType>{object("t/T")});
      }
      EXPECT_EQ(d.invoked(d.instructions[d.at(21) + 3].offset), "kolvaprof/Hooks.enterNumbered");
    } else if (std::string(c.entryHook) == "kolvaprof/Hooks.enter") {
      const bool receiver = c.method.access == 0 && c.passing != ReceiverPassing::Null;
      EXPECT_EQ(d.code[2], receiver ? op::kAload0 : op::kAconstNull);  // after bipush 7
    }
  }
}

// Every single-byte corruption of a real class ends in a result, never a
// crash or an exception (the sanitizer builds check the memory accesses).
TEST(Rewriter, CorruptedClassesEndInAResult) {
  TestMethod m;  // a handler, a frame and a line table to corrupt
  m.name = "m";
  m.descriptor = "(I)I";
  m.maxLocals = 3;
  m.code = {0x1b, 0x04, 0x6c, kIreturn, 0x4d, 0x02, kIreturn};
  m.handlers = {{0, 3, 4, 0xFFFF}};
  m.frames = std::vector<Frame>{frameAt(4, {kInt}, {object("java/lang/Exception")})};
  m.lines = {{0, 10}, {4, 11}};
  m.access = kAccStatic;
  TestMethod leaf;  // and code that is read for a leaf
  leaf.name = "leaf";
  leaf.descriptor = "(JI)J";
  leaf.maxStack = 6;
  leaf.maxLocals = 3;
  leaf.code = {0x1e, 0x1c, 0x85, 0x5c, 0x61, 0x61, 0xad};  // lload_0; iload_2; i2l; dup2; ladd; ladd; lreturn
  std::vector<uint8_t> good = buildClass(52, {m, leaf});
  HookNames leaves;
  leaves.leaves = true;
  for (std::size_t at = 0; at < good.size(); ++at) {
    for (uint8_t value : {uint8_t{0}, uint8_t{0xFF}, static_cast<uint8_t>(good[at] + 1)}) {
      std::vector<uint8_t> bad = good;
      bad[at] = value;
      for (const RewriteResult& r :
           {rewriteAll(bad), rewriteClass(bad.data(), bad.size(), [](const MethodDescription&) {
              return std::optional<int32_t>(7);
            }, leaves)}) {
        if (r.outcome == RewriteResult::Outcome::Rewritten) {
          EXPECT_NO_THROW(parseClassFile(r.bytes.data(), r.bytes.size())) << at;
        }
      }
    }
  }
}

// Before 50 the JVM infers types and reads no table; from 51 on a method
// without one gets one for its handler; 50 falls back to inference when the
// table is missing.
TEST(Rewriter, AddsAStackMapTableOnlyWhereTheVersionWantsOne) {
  TestMethod m;
  m.code = {kReturn};
  for (auto [major, expected] : {std::pair{49, false}, {50, false}, {51, true}, {69, true}}) {
    SCOPED_TRACE(major);
    DecodedMethod d = decodeMethod(rewritten(buildClass(static_cast<uint16_t>(major), {m})), "m");
    EXPECT_EQ(d.hasTable, expected);
  }
}

// The compiled test programs: written back unchanged byte for byte, and
// rewritten into code whose every jump, handler and frame is where an
// instruction starts and whose frames carry the types through the code.
TEST(Rewriter, RealClassesRoundTripAndRewriteConsistently) {
#ifndef KOLVAPROF_CLASSFILE_TEST_CLASSES
  GTEST_SKIP() << "no compiled test programs in this build";
#else
  std::vector<std::string> files;
  std::vector<std::string> dirs{KOLVAPROF_CLASSFILE_TEST_CLASSES};
  while (!dirs.empty()) {
    std::string dir = dirs.back();
    dirs.pop_back();
    if (DIR* d = opendir(dir.c_str())) {
      while (dirent* e = readdir(d)) {
        std::string name = e->d_name, path = dir + "/" + name;
        struct stat st;
        if (name[0] == '.' || stat(path.c_str(), &st) != 0) continue;
        if (S_ISDIR(st.st_mode)) dirs.push_back(path);
        else if (name.size() > 6 && name.substr(name.size() - 6) == ".class") files.push_back(path);
      }
      closedir(d);
    }
  }
  ASSERT_GT(files.size(), 10u);
  for (const std::string& file : files) {
    SCOPED_TRACE(file);
    std::ifstream in(file, std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
    EXPECT_EQ(writeClassFile(parseClassFile(bytes.data(), bytes.size())), bytes);
    RewriteResult r = rewriteAll(bytes, 1000);
    ASSERT_NE(r.outcome, RewriteResult::Outcome::Refused) << r.reason;
    EXPECT_EQ(r.methodsLeft, 0);
    if (r.outcome != RewriteResult::Outcome::Rewritten) continue;
    ClassFile cls = parseClassFile(r.bytes.data(), r.bytes.size());
    for (const Method& m : cls.methods) {
      if (std::none_of(m.attributes.begin(), m.attributes.end(),
                       [&](const Attribute& a) { return cls.pool.utf8(a.nameIndex) == "Code"; }))
        continue;
      std::string name(cls.pool.utf8(m.nameIndex));
      DecodedMethod d = decodeMethod(r.bytes, name, std::string(cls.pool.utf8(m.descriptorIndex)));
      SCOPED_TRACE(name);
      std::vector<int32_t> indexAt(d.code.size() + 1, -1);
      for (std::size_t i = 0; i < d.instructions.size(); ++i)
        indexAt[d.instructions[i].offset] = static_cast<int32_t>(i);
      indexAt[d.code.size()] = static_cast<int32_t>(d.instructions.size());
      for (const auto& h : d.handlers) {
        EXPECT_GE(indexAt[h.start], 0);
        EXPECT_GE(indexAt[h.end], 0);
        EXPECT_GE(indexAt[h.handler], 0);
      }
      Frame initial = initialFrame(cls.pool.className(cls.thisClass), name,
                                   cls.pool.utf8(m.descriptorIndex), (m.access & kAccStatic) != 0);
      FlowInput flow;
      flow.code = d.code.data();
      flow.instructions = &d.instructions;
      flow.indexAt = &indexAt;
      flow.pool = &cls.pool;
      flow.className = cls.pool.className(cls.thisClass);
      flow.initial = &initial;
      flow.maxLocals = d.maxLocals;
      flow.frames = &d.frames;
      flow.handlers = &d.handlers;
      NameArena arena;
      std::size_t reached = 0;
      EXPECT_NO_THROW(followTypes(flow, arena, [&](std::size_t, const TypeState& s, bool) {
        ++reached;
        EXPECT_LE(s.stack.size(), d.maxStack);
      }));
      EXPECT_EQ(reached, d.instructions.size());
    }
  }
#endif
}

}  // namespace
}  // namespace kolvaprof::classfile
