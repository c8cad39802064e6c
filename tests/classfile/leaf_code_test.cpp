#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "classfile/class_rewriter.h"
#include "classfile/hand_made_classes.h"

namespace kolvaprof::classfile {
namespace {

using testing::buildClass;
using testing::decodeMethod;
using testing::DecodedMethod;
using testing::TestMethod;

// The Fieldrefs the cases' code names, at the same indexes in every class.
struct Fields {
  uint16_t ownInt = 0, ownLong = 0, otherInt = 0;
};
Fields addFields(ConstantPool& pool) {
  return Fields{pool.addFieldref("t/T", "x", "I"), pool.addFieldref("t/T", "l", "J"),
                pool.addFieldref("o/O", "x", "I")};
}

std::vector<uint8_t> build(const TestMethod& method) {
  return buildClass(52, {method}, 0, [](ConstantPool& pool) { addFields(pool); });
}

// The hooks the rewritten method calls, in order.
std::vector<std::string> hooksCalled(const std::vector<uint8_t>& input, bool leaves,
                                     ReceiverPassing receivers, uint16_t* maxStack = nullptr) {
  HookNames hooks;
  hooks.leaves = leaves;
  RewriteResult r = rewriteClass(
      input.data(), input.size(),
      [](const MethodDescription&) { return std::optional<int32_t>(7); }, hooks, false, receivers);
  EXPECT_EQ(r.outcome, RewriteResult::Outcome::Rewritten) << r.reason;
  if (r.outcome != RewriteResult::Outcome::Rewritten) return {};
  DecodedMethod d = decodeMethod(r.bytes, "m");
  if (maxStack) *maxStack = d.maxStack;
  std::vector<std::string> called;
  for (const std::string& name : d.invokedNames)
    if (name.rfind("kolvaprof/Hooks.", 0) == 0) called.push_back(name.substr(16));
  return called;
}

TEST(LeafCode, OnlyCodeThatRunsNothingElseCallsOneHook) {
  Fields f;
  buildClass(52, {}, 0, [&f](ConstantPool& pool) { f = addFields(pool); });
  const auto hi = [](uint16_t index) { return static_cast<uint8_t>(index >> 8); };
  const auto lo = [](uint16_t index) { return static_cast<uint8_t>(index & 0xFF); };
  constexpr uint16_t kInstance = 0, kStatic = kAccStatic;
  struct Case {
    const char* name;
    uint16_t access;
    const char* descriptor;
    std::vector<uint8_t> code;
    bool leaf;
  } cases[] = {
      {"static arithmetic", kStatic, "(II)I", {0x1a, 0x1b, 0x60, 0xac}, true},
      {"getter", kInstance, "()I", {0x2a, 0xb4, hi(f.ownInt), lo(f.ownInt), 0xac}, true},
      {"long setter", kInstance, "(J)V", {0x2a, 0x1f, 0xb5, hi(f.ownLong), lo(f.ownLong), 0xb1},
       true},
      // dup keeps both copies this; swap moves it away from the top.
      {"this duplicated", kInstance, "()V",
       {0x2a, 0x59, 0xb4, hi(f.ownInt), lo(f.ownInt), 0xb5, hi(f.ownInt), lo(f.ownInt), 0xb1},
       true},
      {"swapped away", kInstance, "(Lt/T;)I",
       {0x2b, 0x2a, 0x5f, 0xb4, hi(f.ownInt), lo(f.ownInt), 0xac}, false},
      {"another object's field", kInstance, "(Lt/T;)I",
       {0x2b, 0xb4, hi(f.ownInt), lo(f.ownInt), 0xac}, false},
      {"another class's field", kInstance, "()I",
       {0x2a, 0xb4, hi(f.otherInt), lo(f.otherInt), 0xac}, false},
      {"this stored over", kInstance, "(Lt/T;)I",
       {0x2b, 0x4b, 0x2a, 0xb4, hi(f.ownInt), lo(f.ownInt), 0xac}, false},
      {"integer division", kStatic, "(II)I", {0x1a, 0x1b, 0x6c, 0xac}, false},
      {"jump", kStatic, "(I)I", {0xa7, 0x00, 0x03, 0x1a, 0xac}, false},
      {"call", kInstance, "()V", {0x2a, 0xb7, 0x00, testing::kThisInit, 0xb1}, false},
      {"class constant", kStatic, "()Ljava/lang/Object;", {0x12, testing::kThisClass, 0xb0}, false},
      {"array length", kStatic, "([I)I", {0x2a, 0xbe, 0xac}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TestMethod method;
    method.access = c.access;
    method.descriptor = c.descriptor;
    method.maxStack = 4;
    method.maxLocals = 3;
    method.code = c.code;
    const std::vector<uint8_t> input = build(method);
    const std::vector<std::string> expected =
        c.leaf ? std::vector<std::string>{"leaf", "exitThrow"}
               : std::vector<std::string>{"enter", "exit", "exitThrow"};
    uint16_t maxStack = 0;
    EXPECT_EQ(hooksCalled(input, true, ReceiverPassing::Object, &maxStack), expected);
    if (c.leaf) {
      EXPECT_EQ(maxStack, 7);  // the method's 4, and the hook's number and receiver
    }
    // A receiver kept in fields is looked up at entry still.
    if (c.leaf && c.access == kInstance) {
      EXPECT_EQ(hooksCalled(input, true, ReceiverPassing::NumberFieldsWhereUseful),
                (std::vector<std::string>{"receiverNumber", "leafNumbered", "exitThrow"}));
    }
    // Records with times keep both hooks.
    EXPECT_EQ(hooksCalled(input, false, ReceiverPassing::Object),
              (std::vector<std::string>{"enter", "exit", "exitThrow"}));
  }
}

}  // namespace
}  // namespace kolvaprof::classfile
