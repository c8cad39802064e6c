#include "registry/method_registry.h"

#include <boost/thread/lock_guard.hpp>

namespace kolvaprof {

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

void storeMethodInfo(jmethodID method, std::unique_ptr<MethodInfo> info) {
  MethodRegistry::instance().store(method, std::move(info));
}

}  // namespace kolvaprof
