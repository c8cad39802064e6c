#pragma once

// The constant pool of one class: the original entries are kept as the bytes
// they came in (so that an unchanged pool is written back byte for byte), and
// entries the rewriter needs are appended after them.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "classfile/byte_io.h"

namespace kolvaprof::classfile {

// No slot is left for an entry that the rewriting needs: a limit of the
// class-file format that the class reached, not a fault of the class.
class ConstantPoolFull : public FormatError {
 public:
  using FormatError::FormatError;
};

enum CpTag : uint8_t {
  kUtf8 = 1,
  kInteger = 3,
  kFloat = 4,
  kLong = 5,
  kDouble = 6,
  kClass = 7,
  kString = 8,
  kFieldref = 9,
  kMethodref = 10,
  kInterfaceMethodref = 11,
  kNameAndType = 12,
  kMethodHandle = 15,
  kMethodType = 16,
  kDynamic = 17,
  kInvokeDynamic = 18,
  kModule = 19,
  kPackage = 20,
};

class ConstantPool {
 public:
  // Reads the count and the entries; the reader ends just after the pool.
  void read(ByteReader& in);
  void write(ByteWriter& out) const;

  // Number of slots, as the class file's constant_pool_count.
  std::size_t count() const { return entries_.size(); }
  bool grew() const { return !added_.empty(); }

  uint8_t tag(uint16_t index) const;
  // Throws FormatError when the entry is missing or of another kind.
  std::string_view utf8(uint16_t index) const;
  std::string_view className(uint16_t index) const;
  // Name and descriptor of a Fieldref, Methodref or InterfaceMethodref (and
  // the class it names), or of the NameAndType of a Dynamic/InvokeDynamic.
  struct MemberRef {
    std::string_view owner;
    std::string_view name;
    std::string_view descriptor;
  };
  MemberRef memberRef(uint16_t index) const;
  // The descriptor of a Dynamic entry.
  std::string_view dynamicDescriptor(uint16_t index) const;

  // Existing entries are reused; new ones are appended. Throws
  // ConstantPoolFull when the pool would exceed 65535 slots.
  uint16_t addUtf8(std::string_view text);
  uint16_t addClass(std::string_view internalName);
  uint16_t addInteger(int32_t value);
  uint16_t addMethodref(std::string_view owner, std::string_view name, std::string_view descriptor);
  uint16_t addFieldref(std::string_view owner, std::string_view name, std::string_view descriptor);

 private:
  struct Entry {
    uint8_t tag = 0;          // 0 for the unusable slot after a Long or Double
    const uint8_t* body = nullptr;  // the bytes after the tag
    std::size_t bodySize = 0;
  };
  const Entry& entry(uint16_t index, uint8_t expected) const;
  uint16_t append(uint8_t tag, std::vector<uint8_t> body);
  uint16_t addMemberRef(uint8_t tag, std::string_view owner, std::string_view name,
                        std::string_view descriptor);
  uint16_t find(uint8_t tag, const std::vector<uint8_t>& body) const;
  uint16_t addNameAndType(std::string_view name, std::string_view descriptor);

  std::vector<Entry> entries_;            // slot 0 unused
  const uint8_t* originalBytes_ = nullptr;  // the entries as read, for writing back
  std::size_t originalSize_ = 0;
  std::size_t originalCount_ = 0;
  std::vector<std::vector<uint8_t>> added_;  // tag + body of each appended entry
};

}  // namespace kolvaprof::classfile
