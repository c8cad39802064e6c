#include "classfile/constant_pool.h"

#include <cstring>

namespace kolvaprof::classfile {

namespace {

std::size_t bodySize(uint8_t tag, ByteReader& in) {
  switch (tag) {
    case kUtf8: {
      std::size_t length = in.u2();
      in.take(length);
      return 2 + length;
    }
    case kInteger:
    case kFloat:
    case kFieldref:
    case kMethodref:
    case kInterfaceMethodref:
    case kNameAndType:
    case kDynamic:
    case kInvokeDynamic:
      in.take(4);
      return 4;
    case kLong:
    case kDouble:
      in.take(8);
      return 8;
    case kClass:
    case kString:
    case kMethodType:
    case kModule:
    case kPackage:
      in.take(2);
      return 2;
    case kMethodHandle:
      in.take(3);
      return 3;
    default:
      throw FormatError("unknown constant pool tag " + std::to_string(tag));
  }
}

void putU2(std::vector<uint8_t>& v, uint32_t x) {
  v.push_back(static_cast<uint8_t>(x >> 8));
  v.push_back(static_cast<uint8_t>(x));
}

}  // namespace

void ConstantPool::read(ByteReader& in) {
  uint16_t count = in.u2();
  if (count == 0) throw FormatError("constant pool count 0");
  entries_.assign(1, Entry{});
  entries_.reserve(count);
  originalBytes_ = nullptr;
  std::size_t start = in.position();
  const uint8_t* first = nullptr;
  while (entries_.size() < count) {
    const uint8_t* at = in.take(1);
    if (!first) first = at;
    Entry e;
    e.tag = *at;
    e.body = at + 1;
    e.bodySize = bodySize(e.tag, in);
    entries_.push_back(e);
    if (e.tag == kLong || e.tag == kDouble) {
      if (entries_.size() >= count) throw FormatError("8-byte constant in the last slot");
      entries_.push_back(Entry{});
    }
  }
  originalBytes_ = first;
  originalSize_ = in.position() - start;
  originalCount_ = count;
  added_.clear();
}

void ConstantPool::write(ByteWriter& out) const {
  out.u2(static_cast<uint32_t>(entries_.size()));
  if (originalSize_ > 0) out.append(originalBytes_, originalSize_);
  for (const auto& bytes : added_) out.append(bytes);
}

const ConstantPool::Entry& ConstantPool::entry(uint16_t index, uint8_t expected) const {
  if (index == 0 || index >= entries_.size() || entries_[index].tag != expected)
    throw FormatError("constant pool entry " + std::to_string(index) + " is not of tag " +
                      std::to_string(expected));
  return entries_[index];
}

uint8_t ConstantPool::tag(uint16_t index) const {
  if (index == 0 || index >= entries_.size()) throw FormatError("constant pool index out of range");
  return entries_[index].tag;
}

std::string_view ConstantPool::utf8(uint16_t index) const {
  const Entry& e = entry(index, kUtf8);
  return std::string_view(reinterpret_cast<const char*>(e.body + 2), e.bodySize - 2);
}

std::string_view ConstantPool::className(uint16_t index) const {
  return utf8(readU2(entry(index, kClass).body));
}

ConstantPool::MemberRef ConstantPool::memberRef(uint16_t index) const {
  uint8_t t = tag(index);
  MemberRef ref;
  uint16_t nameAndType;
  if (t == kFieldref || t == kMethodref || t == kInterfaceMethodref) {
    const Entry& e = entries_[index];
    ref.owner = className(readU2(e.body));
    nameAndType = readU2(e.body + 2);
  } else if (t == kDynamic || t == kInvokeDynamic) {
    nameAndType = readU2(entries_[index].body + 2);
  } else {
    throw FormatError("constant pool entry " + std::to_string(index) + " is not a member");
  }
  const Entry& nat = entry(nameAndType, kNameAndType);
  ref.name = utf8(readU2(nat.body));
  ref.descriptor = utf8(readU2(nat.body + 2));
  return ref;
}

std::string_view ConstantPool::dynamicDescriptor(uint16_t index) const {
  entry(index, kDynamic);
  return memberRef(index).descriptor;
}

uint16_t ConstantPool::find(uint8_t tag, const std::vector<uint8_t>& body) const {
  for (std::size_t i = 1; i < entries_.size(); ++i) {
    const Entry& e = entries_[i];
    if (e.tag == tag && e.bodySize == body.size() && std::memcmp(e.body, body.data(), body.size()) == 0)
      return static_cast<uint16_t>(i);
  }
  return 0;
}

uint16_t ConstantPool::append(uint8_t tag, std::vector<uint8_t> body) {
  if (uint16_t existing = find(tag, body)) return existing;
  if (entries_.size() >= 65535) throw ConstantPoolFull("the constant pool is full");
  // The tag goes in front of the body in place: building a second vector
  // from a reserved buffer sets off a false free-nonheap-object warning in
  // GCC 12's optimised builds.
  const std::size_t bodySize = body.size();
  body.insert(body.begin(), tag);
  added_.push_back(std::move(body));
  // The vector's buffer does not move when added_ grows (it is moved, not
  // copied), so the entry may point into it.
  const std::vector<uint8_t>& stored = added_.back();
  entries_.push_back(Entry{tag, stored.data() + 1, bodySize});
  return static_cast<uint16_t>(entries_.size() - 1);
}

uint16_t ConstantPool::addUtf8(std::string_view text) {
  if (text.size() > 65535) throw FormatError("string too long for the constant pool");
  std::vector<uint8_t> body;
  putU2(body, static_cast<uint32_t>(text.size()));
  body.insert(body.end(), text.begin(), text.end());
  return append(kUtf8, std::move(body));
}

uint16_t ConstantPool::addClass(std::string_view internalName) {
  std::vector<uint8_t> body;
  putU2(body, addUtf8(internalName));
  return append(kClass, std::move(body));
}

uint16_t ConstantPool::addInteger(int32_t value) {
  std::vector<uint8_t> body;
  uint32_t u = static_cast<uint32_t>(value);
  putU2(body, u >> 16);
  putU2(body, u);
  return append(kInteger, std::move(body));
}

uint16_t ConstantPool::addNameAndType(std::string_view name, std::string_view descriptor) {
  std::vector<uint8_t> body;
  putU2(body, addUtf8(name));
  putU2(body, addUtf8(descriptor));
  return append(kNameAndType, std::move(body));
}

uint16_t ConstantPool::addMemberRef(uint8_t tag, std::string_view owner, std::string_view name,
                                    std::string_view descriptor) {
  std::vector<uint8_t> body;
  putU2(body, addClass(owner));
  putU2(body, addNameAndType(name, descriptor));
  return append(tag, std::move(body));
}

uint16_t ConstantPool::addMethodref(std::string_view owner, std::string_view name,
                                    std::string_view descriptor) {
  return addMemberRef(kMethodref, owner, name, descriptor);
}

uint16_t ConstantPool::addFieldref(std::string_view owner, std::string_view name,
                                   std::string_view descriptor) {
  return addMemberRef(kFieldref, owner, name, descriptor);
}

}  // namespace kolvaprof::classfile
