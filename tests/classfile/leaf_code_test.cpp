#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
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

// The hooks expected, in the order of the code, with exitThrow's last:
// "leaf" alone where all the code is leaf code.
std::vector<std::string> expectedHooks(const std::string& names, bool numbered) {
  std::vector<std::string> hooks = numbered ? std::vector<std::string>{"receiverNumber"}
                                            : std::vector<std::string>{};
  std::stringstream in(names);
  for (std::string name; in >> name;)
    hooks.push_back(numbered && (name == "leaf" || name == "enter") ? name + "Numbered" : name);
  hooks.push_back("exitThrow");
  return hooks;
}

TEST(LeafCode, OnlyCodeThatRunsNothingElseCallsOneHook) {
  Fields f;
  buildClass(52, {}, 0, [&f](ConstantPool& pool) { f = addFields(pool); });
  const auto hi = [](uint16_t index) { return static_cast<uint8_t>(index >> 8); };
  const auto lo = [](uint16_t index) { return static_cast<uint8_t>(index & 0xFF); };
  constexpr uint16_t kInstance = 0, kStatic = kAccStatic;
  const VType kInt{VTag::Integer, 0, {}};
  constexpr uint8_t kCall[] = {0xb8, 0x00, testing::kThisInit};  // invokestatic
  struct Case {
    const char* name;
    uint16_t access;
    const char* descriptor;
    std::vector<uint8_t> code;
    const char* hooks;
    std::vector<ExceptionHandler> handlers = {};
    std::optional<std::vector<Frame>> frames = {};
  } cases[] = {
      {"static arithmetic", kStatic, "(II)I", {0x1a, 0x1b, 0x60, 0xac}, "leaf"},
      {"getter", kInstance, "()I", {0x2a, 0xb4, hi(f.ownInt), lo(f.ownInt), 0xac}, "leaf"},
      {"long setter", kInstance, "(J)V", {0x2a, 0x1f, 0xb5, hi(f.ownLong), lo(f.ownLong), 0xb1},
       "leaf"},
      // dup keeps both copies this; swap moves it away from the top.
      {"this duplicated", kInstance, "()V",
       {0x2a, 0x59, 0xb4, hi(f.ownInt), lo(f.ownInt), 0xb5, hi(f.ownInt), lo(f.ownInt), 0xb1},
       "leaf"},
      {"swapped away", kInstance, "(Lt/T;)I",
       {0x2b, 0x2a, 0x5f, 0xb4, hi(f.ownInt), lo(f.ownInt), 0xac}, "enter exit"},
      {"another object's field", kInstance, "(Lt/T;)I",
       {0x2b, 0xb4, hi(f.ownInt), lo(f.ownInt), 0xac}, "enter exit"},
      {"another class's field", kInstance, "()I",
       {0x2a, 0xb4, hi(f.otherInt), lo(f.otherInt), 0xac}, "enter exit"},
      {"this stored over", kInstance, "(Lt/T;)I",
       {0x2b, 0x4b, 0x2a, 0xb4, hi(f.ownInt), lo(f.ownInt), 0xac}, "enter exit"},
      {"integer division", kStatic, "(II)I", {0x1a, 0x1b, 0x6c, 0xac}, "enter exit"},
      {"jump forwards", kStatic, "(I)I", {0xa7, 0x00, 0x03, 0x1a, 0xac}, "leaf"},
      {"call", kInstance, "()V", {0x2a, 0xb7, 0x00, testing::kThisInit, 0xb1}, "enter exit"},
      {"class constant", kStatic, "()Ljava/lang/Object;", {0x12, testing::kThisClass, 0xb0},
       "enter exit"},
      {"array length", kStatic, "([I)I", {0x2a, 0xbe, 0xac}, "enter exit"},
      // n < 2 ? n : call(): entered where the call is, the call's way only.
      {"early return", kStatic, "(I)I",
       {0x1a, 0x05, 0xa2, 0x00, 0x05, 0x1a, 0xac, kCall[0], kCall[1], kCall[2], 0x1a, 0xac},
       "leaf enter exit"},
      // The handler is reached only from the call, after the entry.
      {"handler after the entry", kStatic, "(I)I",
       {0x1a, 0x9a, 0x00, 0x05, 0x03, 0xac, kCall[0], kCall[1], kCall[2], 0x04, 0xac, 0x57, 0x02,
        0xac},
       "leaf enter exit caught exit", {{6, 9, 11, 0}}},
      // if (n > 0) { n--; goto start; } return n: the loop comes back to
      // where no entry was reported yet.
      {"loop back to the start", kStatic, "(I)I",
       {0x1a, 0x9d, 0x00, 0x05, 0x1a, 0xac, 0x84, 0x00, 0xff, 0xa7, 0xff, 0xf7}, "enter exit"},
      // n == 0 ? 0 : call(): leaf code jumps to a copy of the shared return.
      {"shared return", kStatic, "(I)I",
       {0x1a, 0x9a, 0x00, 0x07, 0x03, 0xa7, 0x00, 0x06, kCall[0], kCall[1], kCall[2], 0xac},
       "enter exit leaf", {},
       std::vector<Frame>{{8, {kInt}, {}}, {11, {kInt}, {kInt}}}},
      // Leaf code falls into a return that the code past the entry jumps to.
      {"return fallen into", kStatic, "(I)I",
       {0x1a, 0x9a, 0x00, 0x05, 0x03, 0xac, kCall[0], kCall[1], kCall[2], 0x04, 0xa7, 0xff, 0xfb},
       "enter exit"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TestMethod method;
    method.access = c.access;
    method.descriptor = c.descriptor;
    method.maxStack = 4;
    method.maxLocals = 3;
    method.code = c.code;
    method.handlers = c.handlers;
    method.frames = c.frames;
    const std::vector<uint8_t> input = build(method);
    const bool deferred = std::string(c.hooks).find("leaf") != std::string::npos;
    uint16_t maxStack = 0;
    EXPECT_EQ(hooksCalled(input, true, ReceiverPassing::Object, &maxStack),
              expectedHooks(c.hooks, false));
    if (deferred) {
      EXPECT_EQ(maxStack, 7);  // the method's 4, and the hook's number and receiver
    }
    // A receiver kept in fields is looked up at entry still.
    if (deferred && c.access == kInstance) {
      EXPECT_EQ(hooksCalled(input, true, ReceiverPassing::NumberFieldsWhereUseful),
                expectedHooks(c.hooks, true));
    }
    // Without leaves the entry hook stays at the start.
    const std::vector<std::string> twoHooks = hooksCalled(input, false, ReceiverPassing::Object);
    EXPECT_EQ(twoHooks.empty() ? "" : twoHooks.front(), "enter");
    EXPECT_EQ(std::count(twoHooks.begin(), twoHooks.end(), "leaf"), 0);
  }
}

}  // namespace
}  // namespace kolvaprof::classfile
