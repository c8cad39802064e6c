#include "classfile/class_file.h"

namespace kolvaprof::classfile {

std::vector<Attribute> readAttributes(ByteReader& in) {
  uint16_t count = in.u2();
  std::vector<Attribute> attributes(count);
  for (auto& a : attributes) {
    a.nameIndex = in.u2();
    a.size = in.u4();
    a.data = in.take(a.size);
  }
  return attributes;
}

void writeAttributes(ByteWriter& out, const std::vector<Attribute>& attributes) {
  out.u2(static_cast<uint32_t>(attributes.size()));
  for (const auto& a : attributes) {
    out.u2(a.nameIndex);
    if (a.replaced) {
      out.u4(static_cast<uint32_t>(a.replacement.size()));
      out.append(a.replacement);
    } else {
      out.u4(a.size);
      out.append(a.data, a.size);
    }
  }
}

ClassFile parseClassFile(const uint8_t* data, std::size_t size) {
  ByteReader in(data, size);
  if (in.u4() != 0xCAFEBABE) throw FormatError("not a class file");
  ClassFile cls;
  cls.minorVersion = in.u2();
  cls.majorVersion = in.u2();
  cls.pool.read(in);
  cls.access = in.u2();
  cls.thisClass = in.u2();
  cls.superClass = in.u2();
  std::size_t middleStart = in.position();
  uint16_t interfaces = in.u2();
  in.take(2u * interfaces);
  cls.fieldCountAt = in.position() - middleStart;
  uint16_t fields = in.u2();
  for (uint16_t i = 0; i < fields; ++i) {
    in.take(2);
    cls.fieldNames.push_back(in.u2());
    in.take(2);
    readAttributes(in);
  }
  cls.middle = data + middleStart;
  cls.middleSize = in.position() - middleStart;
  uint16_t methodCount = in.u2();
  cls.methods.resize(methodCount);
  for (auto& m : cls.methods) {
    m.access = in.u2();
    m.nameIndex = in.u2();
    m.descriptorIndex = in.u2();
    m.attributes = readAttributes(in);
  }
  std::size_t tailStart = in.position();
  readAttributes(in);
  if (!in.atEnd()) throw FormatError("bytes after the end of the class");
  cls.tail = data + tailStart;
  cls.tailSize = in.position() - tailStart;
  return cls;
}

std::vector<uint8_t> writeClassFile(const ClassFile& cls) {
  ByteWriter out;
  out.u4(0xCAFEBABE);
  out.u2(cls.minorVersion);
  out.u2(cls.majorVersion);
  cls.pool.write(out);
  out.u2(cls.access);
  out.u2(cls.thisClass);
  out.u2(cls.superClass);
  if (cls.addedFieldCount == 0) {
    out.append(cls.middle, cls.middleSize);
  } else {
    const std::size_t afterCount = cls.fieldCountAt + 2;
    out.append(cls.middle, cls.fieldCountAt);
    out.u2(readU2(cls.middle + cls.fieldCountAt) + cls.addedFieldCount);
    out.append(cls.middle + afterCount, cls.middleSize - afterCount);
    out.append(cls.addedFields);
  }
  out.u2(static_cast<uint32_t>(cls.methods.size()));
  for (const auto& m : cls.methods) {
    out.u2(m.access);
    out.u2(m.nameIndex);
    out.u2(m.descriptorIndex);
    writeAttributes(out, m.attributes);
  }
  out.append(cls.tail, cls.tailSize);
  return std::move(out.bytes());
}

}  // namespace kolvaprof::classfile
