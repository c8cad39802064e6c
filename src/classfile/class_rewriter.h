#pragma once

// Rewrites one class file so that each chosen method calls static hooks on
// entry and on every way out. No JVM is involved: bytes in, bytes out.
//
// The hooks, all static methods of HookNames::owner:
//   enter(ILjava/lang/Object;)V      at the start of a method (this, or null)
//   enterInit(I)V                    at the start of a constructor
//   chainInit(I)V                    just before the constructor's own
//                                    super(...) or this(...) call, with the
//                                    constructorKey of the one it calls
//   bindInit(Ljava/lang/Object;)V    just after it, with the now usable this
//   exit(I)V                         before every return instruction
//   exitThrow(Ljava/lang/Throwable;I)V  when an exception leaves the method
//                                    (the exception is then rethrown)
//   receiverNumber(Ljava/lang/Object;)J  the number of an object whose class
//                                    keeps it in the number fields below, the
//                                    first time one of its methods runs
//   enterNumbered(IJ)V               at the start of an instance method of
//                                    such a class, with the kept number
//   caught(Ljava/lang/Throwable;I)V  at the start of each handler of the
//                                    method's own, with the exception caught
//   leaf(ILjava/lang/Object;)V       with HookNames::leaves, in place of
//   leafNumbered(IJ)V                enter or enterNumbered and exit, before
//                                    every return that leaf code reaches from
//                                    the start, running no other Java code
//                                    and unable to throw or loop: the whole
//                                    call at once. Enter or enterNumbered then
//                                    goes where the code first does more
//                                    (deferredEntry).

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kolvaprof::classfile {

struct HookNames {
  std::string owner = "kolvaprof/Hooks";  // internal name
  // Leaves report their calls through leaf and leafNumbered: one hook
  // instead of two, a leaf's entry reported when its exit is. Without them
  // every call has its two hooks (the engine always asks for them; tools
  // compare the two rewrites).
  bool leaves = false;
};

// How the instance methods of a class hand their receiver to the hooks.
enum class ReceiverPassing {
  Object,  // enter(number, this)
  Null,    // enter(number, null): receivers are not recorded
  // Where the class can take them (a class, not an interface or a record,
  // with a rewritten instance method other than a constructor), two private
  // transient synthetic fields are added: the number of the object and the
  // object that number was taken for, which tells a copy made by clone()
  // (or any copy of every field) from the object itself. Elsewhere: Object.
  NumberFieldsWhereUseful,
  // The class got the fields when it was first loaded (this is a
  // retransformation, which cannot add or remove fields): they are added
  // again and used.
  NumberFields,
};

// The fields ReceiverPassing adds: `$` is left to generated code, and the
// names would collide only with a class of this system's own making.
inline constexpr std::string_view kNumberFieldName = "kolvaprof$number";         // J
inline constexpr std::string_view kNumberedObjectFieldName = "kolvaprof$numbered";  // Object

struct MethodDescription {
  std::string_view className;  // internal name, a/b/C
  std::string_view name;
  std::string_view descriptor;
  uint16_t access = 0;
};

// The number passed to the hooks for this method, or nullopt to leave the
// method alone. Called only for methods that have code.
using MethodSelector = std::function<std::optional<int32_t>(const MethodDescription&)>;

struct LeftMethod {
  std::string name;
  std::string descriptor;
  std::string reason;
};

// Where the instructions of one rewritten method moved: pairs of (new
// offset, original offset), in the order of the code.
struct MovedCode {
  int32_t number = 0;
  std::vector<std::pair<uint32_t, uint32_t>> offsets;
};

struct RewriteResult {
  enum class Outcome {
    Rewritten,  // `bytes` holds the new class file
    Unchanged,  // nothing was rewritten (see `reason`); use the original bytes
    Refused,    // the input is not a class file this code can read (see `reason`)
  };
  Outcome outcome = Outcome::Unchanged;
  std::vector<uint8_t> bytes;
  std::string reason;
  int methodsRewritten = 0;
  // Selected methods that were left as they are, each with its reason.
  int methodsLeft = 0;
  std::vector<LeftMethod> left;
  // For each rewritten method, when the selector's caller asked for them.
  std::vector<MovedCode> moved;
  // The number fields were added (ReceiverPassing).
  bool numberFields = false;
  // Refused, or left whole for `reason` although it has code that would be
  // traced (java/lang/Object, say).
  bool classLeft = false;
};

// Never throws.
// With withOffsets, `moved` tells where each method's instructions went.
RewriteResult rewriteClass(const uint8_t* data, std::size_t size, const MethodSelector& select,
                           const HookNames& hooks = {}, bool withOffsets = false,
                           ReceiverPassing receivers = ReceiverPassing::Object);

}  // namespace kolvaprof::classfile
