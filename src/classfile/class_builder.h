#pragma once

// A class file made from nothing rather than read: for the classes this
// system defines itself, and for hand-made classes in tests.

#include <cstdint>
#include <string_view>
#include <vector>

#include "classfile/class_file.h"
#include "classfile/constant_pool.h"

namespace kolvaprof::classfile {

class ClassBuilder {
 public:
  explicit ClassBuilder(uint16_t majorVersion);

  // Entries added before declare() come first in the pool.
  ConstantPool& pool() { return cls.pool; }
  void declare(uint16_t access, std::string_view name, std::string_view superName);

  // An attribute with this name and body, its name added to the pool.
  Attribute attribute(std::string_view name, std::vector<uint8_t> body);
  void addMethod(uint16_t access, std::string_view name, std::string_view descriptor,
                 std::vector<Attribute> attributes = {});

  // No interfaces, no fields, no class attributes.
  std::vector<uint8_t> bytes() const { return writeClassFile(cls); }

 private:
  ClassFile cls;
};

}  // namespace kolvaprof::classfile
