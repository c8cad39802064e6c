#include "classfile/class_rewriter.h"

#include <new>
#include <utility>

#include "classfile/class_file.h"
#include "classfile/constant_pool.h"
#include "classfile/method_rewriter.h"

namespace kolvaprof::classfile {

namespace {

constexpr uint16_t kAccModule = 0x8000;
constexpr uint16_t kOldestMajor = 45;
constexpr uint16_t kNewestMajor = 69;

// Whether the class can take the number fields, and should.
bool takesNumberFields(const ClassFile& cls, ReceiverPassing receivers) {
  if (receivers != ReceiverPassing::NumberFieldsWhereUseful &&
      receivers != ReceiverPassing::NumberFields)
    return false;
  for (uint16_t name : cls.fieldNames) {
    // A class of its own with such a field was not given ours: on a
    // retransformation, the VM's answer was about the class's own field.
    std::string_view text = cls.pool.utf8(name);
    if (text == kNumberFieldName || text == kNumberedObjectFieldName) return false;
  }
  if (receivers == ReceiverPassing::NumberFields) return true;
  // A record's fields are its components, as tools and the JDK read it.
  if ((cls.access & kAccInterface) || cls.pool.className(cls.superClass) == "java/lang/Record")
    return false;
  return cls.fieldNames.size() + 2 <= 65535;
}

void addNumberFields(ClassFile& cls) {
  constexpr uint16_t kAccess = kAccPrivate | kAccTransient | kAccSynthetic;
  // The object field publishes the number, stored just before it: volatile,
  // a thread that finds the object there finds its number too. It costs a
  // fence only at an object's first traced call; the check is a plain load.
  struct Field {
    std::string_view name, descriptor;
    uint16_t access;
  };
  ByteWriter out;
  for (const Field& field :
       {Field{kNumberedObjectFieldName, "Ljava/lang/Object;", kAccess | kAccVolatile},
        Field{kNumberFieldName, "J", kAccess}}) {
    out.u2(field.access);
    out.u2(cls.pool.addUtf8(field.name));
    out.u2(cls.pool.addUtf8(field.descriptor));
    out.u2(0);  // attributes
  }
  cls.addedFieldCount = 2;
  cls.addedFields = std::move(out.bytes());
}

// The class stays as it is, for `reason`; `counted`: a class the engine
// meant to trace, which its users are told of.
RewriteResult leftAsItIs(std::string reason, bool counted,
                         RewriteResult::Outcome outcome = RewriteResult::Outcome::Unchanged) {
  RewriteResult result;
  result.outcome = outcome;
  result.classLeft = counted;
  result.reason = std::move(reason);
  return result;
}

RewriteResult refused(std::string reason) {
  return leftAsItIs(std::move(reason), true, RewriteResult::Outcome::Refused);
}

// Rewrites the selected methods of `cls` into `result`; whether any of them
// (instance methods other than constructors) use the number fields.
bool rewriteMethods(ClassFile& cls, std::string_view className, const MethodSelector& select,
                    ClassContext& context, bool withOffsets, RewriteResult& result) {
  bool fieldsUsed = false;
  for (Method& method : cls.methods) {
    Attribute* code = nullptr;
    const std::string_view name = cls.pool.utf8(method.nameIndex);
    const std::string_view descriptor = cls.pool.utf8(method.descriptorIndex);
    for (Attribute& a : method.attributes) {
      if (cls.pool.utf8(a.nameIndex) == "Code") code = &a;
    }
    if (!code) continue;
    std::optional<int32_t> number = select(MethodDescription{className, name, descriptor, method.access});
    if (!number) continue;
    MovedCode moved;
    if (std::optional<std::string> reason =
            rewriteMethod(context, method, *code, *number, withOffsets ? &moved : nullptr)) {
      ++result.methodsLeft;
      result.left.push_back({std::string(name), std::string(descriptor), std::move(*reason)});
    } else {
      ++result.methodsRewritten;
      if (withOffsets) result.moved.push_back(std::move(moved));
      fieldsUsed = fieldsUsed || (!(method.access & kAccStatic) && name != "<init>");
    }
  }
  return fieldsUsed;
}

// Throws FormatError where the class file cannot be read.
RewriteResult rewrite(const uint8_t* data, std::size_t size, const MethodSelector& select,
                      const HookNames& hooks, bool withOffsets, ReceiverPassing receivers) {
  ClassFile cls = parseClassFile(data, size);
  if (cls.majorVersion < kOldestMajor || cls.majorVersion > kNewestMajor) {
    return refused("class file version " + std::to_string(cls.majorVersion) + " is not supported");
  }
  if (cls.access & kAccModule) return leftAsItIs("module descriptor", false);
  const std::string_view className = cls.pool.className(cls.thisClass);
  // HotSpot treats Object's constructor specially (finalizer registration,
  // the compilers' assumptions about its code); C2 was seen to crash
  // compiling a rewritten one.
  if (className == "java/lang/Object") return leftAsItIs("java/lang/Object", true);
  // Its hooks would call themselves.
  if (className == hooks.owner) return leftAsItIs("the hooks class", false);

  const bool fields = cls.superClass != 0 && takesNumberFields(cls, receivers);
  ReceiverPassing methodsPass = receivers;
  if (fields) methodsPass = ReceiverPassing::NumberFields;
  else if (receivers != ReceiverPassing::Null) methodsPass = ReceiverPassing::Object;
  ClassContext context(cls, className, hooks, methodsPass);
  RewriteResult result;
  const bool fieldsUsed = rewriteMethods(cls, className, select, context, withOffsets, result);
  // A retransformation must keep the fields the class was loaded with.
  if (fields && (fieldsUsed || receivers == ReceiverPassing::NumberFields)) {
    try {
      addNumberFields(cls);
    } catch (const ConstantPoolFull&) {
      // The rewritten methods use the fields: none of them can stay.
      return leftAsItIs("no room in the constant pool for the number fields", true);
    }
    result.numberFields = true;
  }
  if (result.methodsRewritten == 0 && !result.numberFields) {
    result.reason = result.methodsLeft ? "no method could be rewritten" : "no method selected";
    return result;
  }
  result.outcome = RewriteResult::Outcome::Rewritten;
  result.bytes = writeClassFile(cls);
  return result;
}

}  // namespace

RewriteResult rewriteClass(const uint8_t* data, std::size_t size, const MethodSelector& select,
                           const HookNames& hooks, bool withOffsets,
                           ReceiverPassing receivers) {
  try {
    return rewrite(data, size, select, hooks, withOffsets, receivers);
  } catch (const ConstantPoolFull& e) {
    return refused(std::string("no room in the constant pool: ") + e.what());
  } catch (const FormatError& e) {
    return refused(std::string("not a readable class file: ") + e.what());
  } catch (const std::bad_alloc&) {
    return refused("out of memory");
  } catch (const std::exception& e) {
    // Includes exceptions thrown by the selector.
    return refused(std::string("internal error: ") + e.what());
  } catch (...) {
    return refused("internal error");
  }
}

}  // namespace kolvaprof::classfile
