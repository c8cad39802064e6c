#include "classfile/class_builder.h"

#include <utility>

#include "classfile/byte_io.h"

namespace kolvaprof::classfile {
namespace {

// The class file points into these instead of into bytes it was read from.
const uint8_t kEmptyPool[] = {0, 1};
const uint8_t kNoMembers[] = {0, 0, 0, 0};  // no interfaces, no fields
const uint8_t kNoAttributes[] = {0, 0};

}  // namespace

ClassBuilder::ClassBuilder(uint16_t majorVersion) {
  ByteReader poolIn(kEmptyPool, sizeof kEmptyPool);
  cls.pool.read(poolIn);
  cls.majorVersion = majorVersion;
  cls.middle = kNoMembers;
  cls.middleSize = sizeof kNoMembers;
  cls.fieldCountAt = 2;
  cls.tail = kNoAttributes;
  cls.tailSize = sizeof kNoAttributes;
}

void ClassBuilder::declare(uint16_t access, std::string_view name, std::string_view superName) {
  cls.access = access;
  cls.thisClass = cls.pool.addClass(name);
  cls.superClass = cls.pool.addClass(superName);
}

Attribute ClassBuilder::attribute(std::string_view name, std::vector<uint8_t> body) {
  Attribute made;
  made.nameIndex = cls.pool.addUtf8(name);
  made.replaced = true;
  made.replacement = std::move(body);
  return made;
}

void ClassBuilder::addMethod(uint16_t access, std::string_view name, std::string_view descriptor,
                             std::vector<Attribute> attributes) {
  Method method;
  method.access = access;
  method.nameIndex = cls.pool.addUtf8(name);
  method.descriptorIndex = cls.pool.addUtf8(descriptor);
  method.attributes = std::move(attributes);
  cls.methods.push_back(std::move(method));
}

}  // namespace kolvaprof::classfile
