#pragma once

// A class file split into the parts the rewriter touches (the constant pool
// and the methods with their attributes) and the parts it copies as they are.

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "classfile/byte_io.h"
#include "classfile/constant_pool.h"

namespace kolvaprof::classfile {

struct Attribute {
  uint16_t nameIndex = 0;
  const uint8_t* data = nullptr;  // the attribute's body, after its length
  uint32_t size = 0;
  // Set when the rewriter replaces the body; `data` is then unused.
  bool replaced = false;
  std::vector<uint8_t> replacement;
};

struct Method {
  uint16_t access = 0;
  uint16_t nameIndex = 0;
  uint16_t descriptorIndex = 0;
  std::vector<Attribute> attributes;
};

struct ClassFile {
  uint16_t minorVersion = 0;
  uint16_t majorVersion = 0;
  ConstantPool pool;
  uint16_t access = 0;
  uint16_t thisClass = 0;
  uint16_t superClass = 0;
  // Interfaces and fields, copied unchanged.
  const uint8_t* middle = nullptr;
  std::size_t middleSize = 0;
  // Where in `middle` the field count is, and the name of each field.
  std::size_t fieldCountAt = 0;
  std::vector<uint16_t> fieldNames;
  // Fields the rewriter adds (whole field_info structures), written after
  // the class's own.
  uint16_t addedFieldCount = 0;
  std::vector<uint8_t> addedFields;
  std::vector<Method> methods;
  // The class attributes, copied unchanged.
  const uint8_t* tail = nullptr;
  std::size_t tailSize = 0;
};

// Throws FormatError when the bytes are not a well-formed class file (as far
// as its structure goes: attribute contents are not looked into).
ClassFile parseClassFile(const uint8_t* data, std::size_t size);
std::vector<uint8_t> writeClassFile(const ClassFile& cls);

// Reads a u2 count and that many attributes.
std::vector<Attribute> readAttributes(ByteReader& in);
void writeAttributes(ByteWriter& out, const std::vector<Attribute>& attributes);

inline constexpr uint16_t kAccPrivate = 0x0002;
inline constexpr uint16_t kAccStatic = 0x0008;
inline constexpr uint16_t kAccVolatile = 0x0040;
inline constexpr uint16_t kAccTransient = 0x0080;
inline constexpr uint16_t kAccInterface = 0x0200;
inline constexpr uint16_t kAccSynthetic = 0x1000;
inline constexpr uint16_t kAccNative = 0x0100;
inline constexpr uint16_t kAccAbstract = 0x0400;

}  // namespace kolvaprof::classfile
