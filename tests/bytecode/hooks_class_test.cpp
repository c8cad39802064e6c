#include "bytecode/hooks_class.h"

#include <gtest/gtest.h>

#include <string>

#include "classfile/class_file.h"

namespace kolvaprof {
namespace {

// The VM defines these bytes with no verifier to explain a mistake: every
// hook must come back as a public static native method of the right shape.
TEST(HooksClass, ParsesBackWithEveryHookAsAPublicStaticNative) {
  const std::vector<uint8_t> bytes = hooksClassBytes();
  const classfile::ClassFile cls = classfile::parseClassFile(bytes.data(), bytes.size());
  EXPECT_EQ(cls.majorVersion, 52);
  EXPECT_EQ(cls.pool.className(cls.thisClass), kHooksClassName);
  EXPECT_EQ(cls.pool.className(cls.superClass), "java/lang/Object");
  ASSERT_EQ(cls.methods.size(), classfile::kHookCount);
  for (unsigned i = 0; i < classfile::kHookCount; ++i) {
    const classfile::HookSignature hook = classfile::hookSignature(static_cast<classfile::Hook>(i));
    const classfile::Method& method = cls.methods[i];
    EXPECT_EQ(cls.pool.utf8(method.nameIndex), hook.name);
    EXPECT_EQ(cls.pool.utf8(method.descriptorIndex), hook.descriptor) << hook.name;
    EXPECT_EQ(method.access, 0x0109) << hook.name;
    EXPECT_TRUE(method.attributes.empty()) << hook.name;
  }
}

}  // namespace
}  // namespace kolvaprof
