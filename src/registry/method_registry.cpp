#include "registry/method_registry.h"

#include <utility>

#include <boost/thread/lock_guard.hpp>

#include "registry/signature_decoder.h"

namespace kolvaprof {

ClassRegistration::ClassRegistration(MethodRegistry* registry, std::string dottedName)
    : registry(registry) {
  const std::size_t dot = dottedName.rfind('.');
  packageName = dot == std::string::npos ? "" : dottedName.substr(0, dot);
  className = dot == std::string::npos ? dottedName : dottedName.substr(dot + 1);
}

ClassRegistration::ClassRegistration(ClassRegistration&& other) noexcept
    : registry(std::exchange(other.registry, nullptr)),
      packageName(std::move(other.packageName)),
      className(std::move(other.className)) {}

ClassRegistration::~ClassRegistration() {
  if (registry != nullptr) registry->registrationLock.unlock();
}

void ClassRegistration::add(const MethodDeclaration& declaration) {
  const MethodFilters& filters = registry->filters;
  DecodedSignature decoded = decodeMethodSignature(declaration.signature);
  registry->store(declaration.method,
                  std::make_unique<MethodInfo>(
                      packageName, className, declaration.name, std::move(decoded.parameterTypes),
                      std::move(decoded.returnType),
                      filters.isExcluded(packageName, className, declaration.name),
                      filters.isStartMethod(packageName, className, declaration.name),
                      declaration.isStatic));
}

void MethodRegistry::setFilters(MethodFilters replacement) {
  boost::lock_guard<boost::mutex> guard(registrationLock);
  filters = std::move(replacement);
}

ClassRegistration MethodRegistry::beginClass(const std::string& dottedName) {
  registrationLock.lock();
  if (!registeredClasses.insert(dottedName).second) {
    registrationLock.unlock();
    return ClassRegistration(nullptr, dottedName);
  }
  return ClassRegistration(this, dottedName);
}

void MethodRegistry::store(jmethodID method, std::unique_ptr<MethodInfo> info) {
  const MethodInfo* record = info.get();
  {
    boost::lock_guard<boost::mutex> guard(ownedLock);
    owned.push_back(std::move(info));
  }
  methodInfos.insert(method, record);
}

void MethodRegistry::destroyAll() {
  methodInfos.clear();
  {
    boost::lock_guard<boost::mutex> guard(registrationLock);
    registeredClasses.clear();
    filters = MethodFilters();
  }
  boost::lock_guard<boost::mutex> guard(ownedLock);
  owned.clear();
}

MethodRegistry& MethodRegistry::instance() {
  // Never destroyed: daemon threads may still be inside the VM at exit.
  static MethodRegistry* registry = new MethodRegistry;
  return *registry;
}

const MethodInfo* findMethodInfo(jmethodID method) {
  return MethodRegistry::instance().find(method);
}

}  // namespace kolvaprof
