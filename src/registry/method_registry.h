#pragma once

#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include <boost/thread/mutex.hpp>

#include "registry/method_filters.h"
#include "registry/method_info.h"
#include "registry/method_key.h"
#include "registry/method_table.h"

namespace kolvaprof {

// A method as the VM describes it: name and JVM descriptor.
struct MethodDeclaration {
  MethodKey method;
  std::string name;
  std::string signature;
  bool isStatic;
};

// A class as the VM describes it: its name and the methods it declares.
struct ClassDeclaration {
  // "a.b.C", "C" in the default package; for a hidden class (a lambda, say),
  // the VM's name up to the address that follows it.
  std::string dottedName;
  bool hidden = false;
  std::vector<MethodKey> methods;
};

class MethodRegistry;

// The right to register one class: held by exactly one thread per class, so a
// second registrant of the same class waits until the first one has stored
// every record, and then finds them. Empty when the class is known already.
class ClassRegistration {
 public:
  ClassRegistration(ClassRegistration&& other) noexcept;
  ClassRegistration& operator=(ClassRegistration&&) = delete;
  ~ClassRegistration();
  explicit operator bool() const { return registry != nullptr; }

  // The name the records give the class, package and class joined by '.'.
  std::string dottedName() const;

  // Decides filters and start methods from the class's names and stores the
  // method's record.
  void add(const MethodDeclaration& declaration);
  // The record add() would store, for an engine that keeps records itself
  // (the method has no MethodKey yet); declaration.method is not read.
  std::unique_ptr<MethodInfo> describe(const MethodDeclaration& declaration) const;

 private:
  friend class MethodRegistry;
  ClassRegistration(MethodRegistry* registry, std::string dottedName);

  MethodRegistry* registry;
  std::string packageName;
  std::string className;
};

// The process-wide table of method records (methodInfos). Records are only
// added while the program runs and all deleted together at agent teardown,
// so a pointer handed out stays valid until then.
class MethodRegistry {
 public:
  const MethodInfo* find(MethodKey method) const { return methodInfos.find(method); }

  // The filters that decide every record stored from now on.
  void setFilters(MethodFilters filters);
  // Whether the filters leave out every method of the class, whatever its
  // name; "a.b.Name" as records give it.
  bool excludesWholeClass(const std::string& dottedName);

  // Registration of a class, unless it is registered already. A class is
  // known by its methods, not by its name: a class of the same name from
  // another class loader has methods of its own, and is registered too.
  ClassRegistration beginClass(const ClassDeclaration& declaration);

  // Stores the record under the method; a record it replaces is kept alive
  // until destroyAll, since another thread may still be reading it.
  void store(MethodKey method, std::unique_ptr<MethodInfo> info);

  std::size_t size() const { return methodInfos.size(); }

  // Deletes every record and forgets every class; no lookup may run at the
  // same time.
  void destroyAll();

  static MethodRegistry& instance();

 private:
  friend class ClassRegistration;

  std::string hiddenClassName(const std::string& vmName);  // registrationLock held

  MethodTable<const MethodInfo*> methodInfos;
  boost::mutex ownedLock;
  std::vector<std::unique_ptr<MethodInfo>> owned;
  // Held for the whole registration of one class.
  boost::mutex registrationLock;
  // One method of every class registered.
  std::unordered_set<MethodKey> registeredClasses;
  // Hidden classes registered so far, by the name they are numbered under.
  std::unordered_map<std::string, int> hiddenClassCounts;
  MethodFilters filters;
};

const MethodInfo* findMethodInfo(MethodKey method);

}  // namespace kolvaprof
