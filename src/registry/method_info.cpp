#include "registry/method_info.h"

#include <utility>

namespace kolvaprof {

MethodInfo::MethodInfo(std::string packageName, std::string className, std::string methodName,
                       std::vector<std::string> parameterTypes, std::string returnType,
                       bool excluded, bool startMethod)
    : excluded(excluded),
      startMethod(startMethod),
      methodName(std::move(methodName)),
      className(std::move(className)),
      packageName(std::move(packageName)),
      returnType(std::move(returnType)),
      parameterTypes(std::move(parameterTypes)) {}

std::string MethodInfo::getParameterList() const {
  std::string list;
  for (const std::string& type : parameterTypes) {
    if (!list.empty()) list.push_back(',');
    list.append(type);
  }
  return list;
}

}  // namespace kolvaprof
