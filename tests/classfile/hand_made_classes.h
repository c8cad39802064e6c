#pragma once

// Hand-made class files for the rewriter's tests, and a reader of what the
// rewriter made of them.

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include <deque>
#include <functional>

#include "classfile/byte_io.h"
#include "classfile/bytecode.h"
#include "classfile/class_builder.h"
#include "classfile/class_file.h"
#include "classfile/stack_map.h"
#include "classfile/type_flow.h"

namespace kolvaprof::classfile::testing {

struct LocalVariable {
  uint16_t start, length;
  std::string name, descriptor;
  uint16_t index;
};

struct TestMethod {
  uint16_t access = kAccStatic;
  std::string name = "m";
  std::string descriptor = "()V";
  uint16_t maxStack = 2, maxLocals = 2;
  std::vector<uint8_t> code;
  std::vector<ExceptionHandler> handlers;  // catchType 0 or 0xFFFF for java/lang/Exception
  std::optional<std::vector<Frame>> frames;  // written as a StackMapTable when set
  std::vector<std::pair<uint16_t, uint16_t>> lines;
  std::vector<LocalVariable> locals;
  std::string extraAttribute;  // a Code attribute of this name, with this body
  std::vector<uint8_t> extraAttributeBody = {0, 0, 0, 0};
};


struct DecodedMethod {
  uint16_t maxStack = 0, maxLocals = 0;
  std::vector<uint8_t> code;
  std::vector<Instruction> instructions;
  std::vector<ExceptionHandler> handlers;
  std::vector<std::string> catchTypes;  // "" for catch-all
  bool hasTable = false;
  std::vector<Frame> frames;
  std::vector<std::pair<uint16_t, uint16_t>> lines;
  std::vector<LocalVariable> locals;
  std::vector<std::string> attributeNames;
  std::vector<std::vector<uint8_t>> attributeBodies;  // parallel to attributeNames
  // "kolvaprof/Hooks.exit": the method invoked by the instruction at offset.
  std::string invoked(uint32_t offset) const;
  std::vector<std::string> invokedNames;  // parallel to instructions, "" when not an invoke
  std::size_t at(uint32_t offset) const;  // index of the instruction at offset
  uint32_t branchTarget(uint32_t offset) const;
};


// Pool entries every built class has (without padding): the class itself,
// and the Methodrefs java/lang/Object.<init>()V and t/T.<init>()V.
inline constexpr uint16_t kThisClass = 2, kObjectInit = 8, kThisInit = 9;

// Class t/T extending java/lang/Object. `poolPadding` Utf8 entries first, so
// that what the rewriter adds lands above index 255.
// `addToPool` adds entries right after those, before any method's: their
// indexes are the same in every class built with the same additions.
inline std::vector<uint8_t> buildClass(uint16_t major, const std::vector<TestMethod>& methods,
                                int poolPadding = 0,
                                const std::function<void(ConstantPool&)>& addToPool = {}) {
  ClassBuilder cls(major);
  for (int k = 0; k < poolPadding; ++k) cls.pool().addUtf8("pad" + std::to_string(k));
  cls.declare(0x0021, "t/T", "java/lang/Object");
  cls.pool().addMethodref("java/lang/Object", "<init>", "()V");
  cls.pool().addMethodref("t/T", "<init>", "()V");
  if (addToPool) addToPool(cls.pool());
  for (const TestMethod& m : methods) {
    // The method's names take their slots before its attributes' names.
    cls.pool().addUtf8(m.name);
    cls.pool().addUtf8(m.descriptor);
    std::vector<Attribute> inner;
    if (m.frames) {
      Frame initial = initialFrame("t/T", m.name, m.descriptor, (m.access & kAccStatic) != 0);
      inner.push_back(
          cls.attribute("StackMapTable", encodeStackMapTable(*m.frames, initial, cls.pool())));
    }
    if (!m.lines.empty()) {
      ByteWriter w;
      w.u2(static_cast<uint32_t>(m.lines.size()));
      for (auto [pc, line] : m.lines) w.u2(pc), w.u2(line);
      inner.push_back(cls.attribute("LineNumberTable", std::move(w.bytes())));
    }
    if (!m.locals.empty()) {
      ByteWriter w;
      w.u2(static_cast<uint32_t>(m.locals.size()));
      for (const auto& l : m.locals) {
        w.u2(l.start), w.u2(l.length), w.u2(cls.pool().addUtf8(l.name));
        w.u2(cls.pool().addUtf8(l.descriptor)), w.u2(l.index);
      }
      inner.push_back(cls.attribute("LocalVariableTable", std::move(w.bytes())));
    }
    if (!m.extraAttribute.empty()) inner.push_back(cls.attribute(m.extraAttribute, m.extraAttributeBody));
    ByteWriter code;
    code.u2(m.maxStack);
    code.u2(m.maxLocals);
    code.u4(static_cast<uint32_t>(m.code.size()));
    code.append(m.code);
    code.u2(static_cast<uint32_t>(m.handlers.size()));
    for (const auto& h : m.handlers) {
      code.u2(h.start), code.u2(h.end), code.u2(h.handler);
      code.u2(h.catchType == 0xFFFF ? cls.pool().addClass("java/lang/Exception") : h.catchType);
    }
    writeAttributes(code, inner);
    std::vector<Attribute> attributes;
    attributes.push_back(cls.attribute("Code", std::move(code.bytes())));
    cls.addMethod(m.access, m.name, m.descriptor, std::move(attributes));
  }
  return cls.bytes();
}

inline std::size_t DecodedMethod::at(uint32_t offset) const {
  for (std::size_t i = 0; i < instructions.size(); ++i)
    if (instructions[i].offset == offset) return i;
  ADD_FAILURE() << "no instruction at " << offset;
  return 0;
}

inline std::string DecodedMethod::invoked(uint32_t offset) const { return invokedNames[at(offset)]; }

inline uint32_t DecodedMethod::branchTarget(uint32_t offset) const {
  std::vector<uint32_t> targets = branchTargets(code.data(), instructions[at(offset)]);
  EXPECT_EQ(targets.size(), 1u);
  return targets.empty() ? 0 : targets[0];
}

// Reads method `name` of a class file (the first of that name, or of that
// descriptor too); fails the test on malformed input.
inline DecodedMethod decodeMethod(const std::vector<uint8_t>& bytes, const std::string& name,
                           const std::string& descriptor = "") {
  DecodedMethod d;
  ClassFile cls = parseClassFile(bytes.data(), bytes.size());
  for (const Method& m : cls.methods) {
    if (cls.pool.utf8(m.nameIndex) != name) continue;
    if (!descriptor.empty() && cls.pool.utf8(m.descriptorIndex) != descriptor) continue;
    for (const Attribute& a : m.attributes) {
      if (cls.pool.utf8(a.nameIndex) != "Code") continue;
      ByteReader in(a.data, a.size);
      d.maxStack = in.u2();
      d.maxLocals = in.u2();
      uint32_t length = in.u4();
      const uint8_t* code = in.take(length);
      d.code.assign(code, code + length);
      d.instructions = decodeInstructions(code, length);
      for (const Instruction& insn : d.instructions) {
        std::string invoked;
        if (insn.opcode >= 0xb6 && insn.opcode <= 0xb9) {
          auto ref = cls.pool.memberRef(readU2(code + insn.offset + 1));
          invoked = std::string(ref.owner) + "." + std::string(ref.name);
        }
        d.invokedNames.push_back(invoked);
      }
      uint16_t handlers = in.u2();
      for (uint16_t k = 0; k < handlers; ++k) {
        ExceptionHandler h{in.u2(), in.u2(), in.u2(), in.u2()};
        d.handlers.push_back(h);
        d.catchTypes.push_back(h.catchType ? std::string(cls.pool.className(h.catchType)) : "");
      }
      Frame initial = initialFrame(cls.pool.className(cls.thisClass), name,
                                   cls.pool.utf8(m.descriptorIndex), (m.access & kAccStatic) != 0);
      for (const Attribute& inner : readAttributes(in)) {
        std::string innerName(cls.pool.utf8(inner.nameIndex));
        d.attributeNames.push_back(innerName);
        d.attributeBodies.emplace_back(inner.data, inner.data + inner.size);
        ByteReader r(inner.data, inner.size);
        if (innerName == "StackMapTable") {
          d.hasTable = true;
          d.frames = decodeStackMapTable(inner.data, inner.size, initial, cls.pool);
          // Names point into `bytes`' pool or the decoder's; keep them stable.
          static std::deque<std::string> names;
          for (Frame& f : d.frames)
            for (auto* list : {&f.locals, &f.stack})
              for (VType& t : *list)
                if (t.tag == VTag::Object) t.name = names.emplace_back(t.name);
        } else if (innerName == "LineNumberTable") {
          for (uint16_t k = 0, n = r.u2(); k < n; ++k) d.lines.push_back({r.u2(), r.u2()});
        } else if (innerName == "LocalVariableTable") {
          for (uint16_t k = 0, n = r.u2(); k < n; ++k) {
            LocalVariable l;
            l.start = r.u2(), l.length = r.u2();
            l.name = cls.pool.utf8(r.u2()), l.descriptor = cls.pool.utf8(r.u2());
            l.index = r.u2();
            d.locals.push_back(l);
          }
        }
      }
      return d;
    }
  }
  ADD_FAILURE() << "no method " << name;
  return d;
}

}  // namespace kolvaprof::classfile::testing
