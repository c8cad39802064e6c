#include "registry/method_info.h"

#include <utility>

#include "format/text_line.h"

namespace kolvaprof {

MethodInfo::MethodInfo(std::string packageName, std::string className, std::string methodName,
                       std::vector<std::string> parameterTypes, std::string returnType,
                       bool excluded, bool startMethod, bool isStatic)
    : excluded(excluded),
      startMethod(startMethod),
      staticMethod(isStatic),
      methodName(std::move(methodName)),
      className(std::move(className)),
      packageName(std::move(packageName)),
      returnType(std::move(returnType)),
      parameterTypes(std::move(parameterTypes)) {
  for (std::size_t i = 0; i < this->parameterTypes.size(); ++i) {
    if (i != 0) parameterList.push_back(',');
    parameterList.append(this->parameterTypes[i]);
  }
  entryPrefix = makeEntryPrefix(text());
  entrySuffix = makeEntrySuffix(text());
}

}  // namespace kolvaprof
