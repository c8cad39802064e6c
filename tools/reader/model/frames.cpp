#include "reader/model/frames.h"

#include <fmt/format.h>

#include <limits>

#include "reader/input/diagnostics.h"

namespace kolvaprof::reader {
namespace {

constexpr FrameId kNone = FrameTable::kNoFrame;
// Numbers above this are looked up in the index map each time instead of
// being cached densely; real runs number a few thousand methods.
constexpr std::int32_t kDenseNumbers = 1 << 22;

}  // namespace

std::string frameName(std::string_view packageName, std::string_view className, std::string_view methodName,
                      std::string_view parameters) {
  std::string name;
  name.reserve(packageName.size() + className.size() + methodName.size() + parameters.size() + 5);
  if (!packageName.empty()) name.append(packageName).push_back('.');
  name.append(className).append(".").append(methodName).append("(").append(parameters).append(")");
  return name;
}

NameId FrameTable::internName(std::string_view name) {
  scratch.assign(name);
  const auto found = nameIds.find(scratch);
  if (found != nameIds.end()) return found->second;
  const NameId id = static_cast<NameId>(names.size());
  names.push_back(scratch);
  nameIds.emplace(scratch, id);
  return id;
}

FrameId FrameTable::add(MethodName method, std::string shownName) {
  const NameId name = internName(shownName);
  frames.push_back({std::move(method), name});
  return static_cast<FrameId>(frames.size() - 1);
}

FrameId FrameTable::intern(std::string_view returnType, std::string_view packageName, std::string_view className,
                           std::string_view methodName, std::string_view parameters) {
  // The key keeps the return type, so that the text output gives each
  // method back exactly.
  std::string& key = keyBuffer;
  key.clear();
  key.append(returnType).append(" ").append(packageName).append(".").append(className).append(".");
  key.append(methodName).append("(").append(parameters).append(")");
  const auto found = byKey.find(key);
  if (found != byKey.end()) return found->second;
  const FrameId id = add(MethodName{std::string(returnType), std::string(packageName), std::string(className),
                                    std::string(methodName), std::string(parameters)},
                         frameName(packageName, className, methodName, parameters));
  byKey.emplace(key, id);
  return id;
}

FrameId FrameTable::forMethodNumber(std::int32_t number, Diagnostics& diagnostics, const Position& where) {
  const bool dense = number > 0 && number < kDenseNumbers;
  if (dense && static_cast<std::size_t>(number) < byNumber.size() && byNumber[number] != kNone)
    return byNumber[number];
  if (index != nullptr) {
    const auto named = index->methods.find(number);
    if (named != index->methods.end()) {
      const MethodName& m = named->second;
      const FrameId id = intern(m.returnType, m.packageName, m.className, m.methodName, m.parameters);
      if (dense) {
        if (byNumber.size() <= static_cast<std::size_t>(number)) byNumber.resize(number + 1, kNone);
        byNumber[number] = id;
      }
      return id;
    }
  }
  diagnostics.report(Problem::UnknownMethod, where,
                     fmt::format("method {} has no Method line in Index.dat", number));
  const auto seen = unknownNumbers.find(number);
  if (seen != unknownNumbers.end()) return seen->second;
  if (unknownNumbers.size() >= kMaxUnknownFrames) {
    if (!overflowFrame) overflowFrame = add(MethodName{"?", "", "?", "method#?", ""}, "method#?");
    return *overflowFrame;
  }
  const std::string name = fmt::format("method#{}", number);
  const FrameId id = add(MethodName{"?", "", "?", name, ""}, name);
  unknownNumbers.emplace(number, id);
  return id;
}

}  // namespace kolvaprof::reader
