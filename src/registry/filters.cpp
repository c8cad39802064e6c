#include <algorithm>

#include "core/logging_agent.h"
#include "registry/method_info.h"
#include "registry/method_registry.h"
#include "registry/patterns.h"
#include "registry/signature_decoder.h"

namespace kolvaprof {
namespace {

template <typename Patterns, typename... Names>
bool anyMatches(const Patterns& patterns, const Names&... names) {
  return std::any_of(patterns.begin(), patterns.end(),
                     [&](const auto& pattern) { return pattern->matches(names...); });
}

}  // namespace

bool CLoggingAgent::evaluateFilters(const std::string& packageName, const std::string& className,
                                    const std::string& methodName) const {
  const bool leaveOutMatches = settings.ignoreFilteredMethods;
  const bool packageMatch = anyMatches(settings.packageFilters, packageName);
  if (leaveOutMatches && packageMatch) return true;
  const bool classMatch = anyMatches(settings.classFilters, packageName, className);
  if (leaveOutMatches && classMatch) return true;
  const bool methodMatch = anyMatches(settings.methodFilters, packageName, className, methodName);
  if (leaveOutMatches) return methodMatch;
  return !packageMatch && !classMatch && !methodMatch;
}

bool CLoggingAgent::matchesStartMethod(const std::string& packageName,
                                       const std::string& className,
                                       const std::string& methodName) const {
  return anyMatches(settings.startMethods, packageName, className, methodName);
}

bool CLoggingAgent::isClassRegistered(const std::string& dottedName) const {
  return registeredClasses.count(dottedName) != 0;
}

void CLoggingAgent::markClassRegistered(const std::string& dottedName) {
  registeredClasses.insert(dottedName);
}

void CLoggingAgent::addMethod(jmethodID method, const std::string& packageName,
                              const std::string& className, const std::string& methodName,
                              const std::string& signature, bool excluded) {
  DecodedSignature decoded = decodeMethodSignature(signature);
  const bool startMethod = matchesStartMethod(packageName, className, methodName);
  storeMethodInfo(method, std::make_unique<MethodInfo>(packageName, className, methodName,
                                                       std::move(decoded.parameterTypes),
                                                       std::move(decoded.returnType), excluded,
                                                       startMethod));
}

}  // namespace kolvaprof
