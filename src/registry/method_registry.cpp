#include "registry/method_registry.h"

#include <tuple>
#include <utility>

#include <boost/thread/lock_guard.hpp>

#include "registry/signature_decoder.h"

namespace kolvaprof {

namespace {

// "a.b.Name" -> "a.b", "Name"; a class without a package has "".
std::pair<std::string, std::string> splitDottedName(const std::string& dottedName) {
  const std::size_t dot = dottedName.rfind('.');
  if (dot == std::string::npos) return {std::string(), dottedName};
  return {dottedName.substr(0, dot), dottedName.substr(dot + 1)};
}

}  // namespace

ClassRegistration::ClassRegistration(MethodRegistry* registry, std::string dottedName)
    : registry(registry) {
  std::tie(packageName, className) = splitDottedName(dottedName);
}

ClassRegistration::ClassRegistration(ClassRegistration&& other) noexcept
    : registry(std::exchange(other.registry, nullptr)),
      packageName(std::move(other.packageName)),
      className(std::move(other.className)) {}

ClassRegistration::~ClassRegistration() {
  if (registry != nullptr) registry->registrationLock.unlock();
}

std::string ClassRegistration::dottedName() const {
  return packageName.empty() ? className : packageName + "." + className;
}

void ClassRegistration::add(const MethodDeclaration& declaration) {
  registry->store(declaration.method, describe(declaration));
}

std::unique_ptr<MethodInfo> ClassRegistration::describe(
    const MethodDeclaration& declaration) const {
  const MethodFilters& filters = registry->filters;
  DecodedSignature decoded = decodeMethodSignature(declaration.signature);
  return std::make_unique<MethodInfo>(
      packageName, className, declaration.name, std::move(decoded.parameterTypes),
      std::move(decoded.returnType), filters.isExcluded(packageName, className, declaration.name),
      filters.isStartMethod(packageName, className, declaration.name), declaration.isStatic);
}

void MethodRegistry::setFilters(MethodFilters replacement) {
  boost::lock_guard<boost::mutex> guard(registrationLock);
  filters = std::move(replacement);
}

bool MethodRegistry::excludesWholeClass(const std::string& dottedName) {
  const auto [packageName, className] = splitDottedName(dottedName);
  boost::lock_guard<boost::mutex> guard(registrationLock);
  return filters.excludesWholeClass(packageName, className);
}

ClassRegistration MethodRegistry::beginClass(const ClassDeclaration& declaration) {
  registrationLock.lock();
  for (const MethodKey method : declaration.methods) {
    if (registeredClasses.count(method) != 0) {
      registrationLock.unlock();
      return ClassRegistration(nullptr, std::string());
    }
  }
  if (!declaration.methods.empty()) registeredClasses.insert(declaration.methods.front());
  return ClassRegistration(this, declaration.hidden ? hiddenClassName(declaration.dottedName)
                                                    : declaration.dottedName);
}

// The address in a hidden class's name changes from run to run, and so does
// the number the VM puts after "$$Lambda" on older JDKs (it counts every
// lambda of the VM). The class is named after the rest, numbered in the order
// the run registers hidden classes of that name: a.b.Shop$$Lambda$1,
// a.b.Shop$$Lambda$2 ... the same in every run of a program that makes them
// in the same order.
std::string MethodRegistry::hiddenClassName(const std::string& vmName) {
  static constexpr char kLambda[] = "$$Lambda";
  std::string name = vmName;
  const std::size_t lambda = name.find(kLambda);
  if (lambda != std::string::npos) name.erase(lambda + sizeof kLambda - 1);
  return name + "$" + std::to_string(++hiddenClassCounts[name]);
}

void MethodRegistry::store(MethodKey method, std::unique_ptr<MethodInfo> info) {
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
    hiddenClassCounts.clear();
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

const MethodInfo* findMethodInfo(MethodKey method) {
  return MethodRegistry::instance().find(method);
}

}  // namespace kolvaprof
