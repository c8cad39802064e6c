#include "classfile/class_rewriter.h"

#include <new>

#include "classfile/class_file.h"
#include "classfile/method_rewriter.h"

namespace kolvaprof::classfile {

namespace {

constexpr uint16_t kAccModule = 0x8000;
constexpr uint16_t kOldestMajor = 45;
constexpr uint16_t kNewestMajor = 69;

RewriteResult rewrite(const uint8_t* data, std::size_t size, const MethodSelector& select,
                      const HookNames& hooks, bool withOffsets) {
  RewriteResult result;
  ClassFile cls;
  try {
    cls = parseClassFile(data, size);
  } catch (const FormatError& e) {
    result.outcome = RewriteResult::Outcome::Refused;
    result.reason = std::string("not a readable class file: ") + e.what();
    return result;
  }
  if (cls.majorVersion < kOldestMajor || cls.majorVersion > kNewestMajor) {
    result.outcome = RewriteResult::Outcome::Refused;
    result.reason = "class file version " + std::to_string(cls.majorVersion) + " is not supported";
    return result;
  }
  if (cls.access & kAccModule) {
    result.reason = "module descriptor";
    return result;
  }
  std::string_view className;
  try {
    className = cls.pool.className(cls.thisClass);
  } catch (const FormatError& e) {
    result.outcome = RewriteResult::Outcome::Refused;
    result.reason = std::string("not a readable class file: ") + e.what();
    return result;
  }
  if (className == "java/lang/Object") {
    // HotSpot treats its constructor specially (finalizer registration, the
    // compilers' assumptions about its code); C2 was seen to crash compiling
    // a rewritten one.
    result.reason = "java/lang/Object";
    return result;
  }
  if (className == hooks.owner) {
    // Its hooks would call themselves.
    result.reason = "the hooks class";
    return result;
  }

  ClassContext context(cls, className, hooks);
  for (Method& method : cls.methods) {
    Attribute* code = nullptr;
    std::string_view name, descriptor;
    try {
      name = cls.pool.utf8(method.nameIndex);
      descriptor = cls.pool.utf8(method.descriptorIndex);
      for (Attribute& a : method.attributes)
        if (cls.pool.utf8(a.nameIndex) == "Code") code = &a;
    } catch (const FormatError& e) {
      result.outcome = RewriteResult::Outcome::Refused;
      result.reason = std::string("not a readable class file: ") + e.what();
      return result;
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
    }
  }
  if (result.methodsRewritten == 0) {
    result.reason = result.methodsLeft ? "no method could be rewritten" : "no method selected";
    return result;
  }
  result.outcome = RewriteResult::Outcome::Rewritten;
  result.bytes = writeClassFile(cls);
  return result;
}

}  // namespace

RewriteResult rewriteClass(const uint8_t* data, std::size_t size, const MethodSelector& select,
                           const HookNames& hooks, bool withOffsets) {
  try {
    return rewrite(data, size, select, hooks, withOffsets);
  } catch (const std::bad_alloc&) {
    RewriteResult result;
    result.outcome = RewriteResult::Outcome::Refused;
    result.reason = "out of memory";
    return result;
  } catch (const std::exception& e) {
    // Includes exceptions thrown by the selector.
    RewriteResult result;
    result.outcome = RewriteResult::Outcome::Refused;
    result.reason = std::string("internal error: ") + e.what();
    return result;
  } catch (...) {
    RewriteResult result;
    result.outcome = RewriteResult::Outcome::Refused;
    result.reason = "internal error";
    return result;
  }
}

}  // namespace kolvaprof::classfile
