#pragma once

#include <jni.h>

#include <memory>
#include <vector>

#include <boost/thread/mutex.hpp>

#include "registry/method_info.h"
#include "registry/method_table.h"

namespace kolvaprof {

// The process-wide table of method records (methodInfos). Records are only
// added while the program runs and all deleted together at agent teardown,
// so a pointer handed out stays valid until then.
class MethodRegistry {
 public:
  const MethodInfo* find(jmethodID method) const { return methodInfos.find(method); }

  // Stores the record under the method; a record it replaces is kept alive
  // until destroyAll, since another thread may still be reading it.
  void store(jmethodID method, std::unique_ptr<MethodInfo> info);

  std::size_t size() const { return methodInfos.size(); }

  // Deletes every record; no lookup may run at the same time.
  void destroyAll();

  // Held for the whole registration of one class, so that a class is
  // registered by exactly one thread and a second registrant of the same class
  // waits until its records are all stored.
  boost::mutex& registrationLock() { return registration; }

  static MethodRegistry& instance();

 private:
  MethodTable<const MethodInfo*> methodInfos;
  boost::mutex ownedLock;
  std::vector<std::unique_ptr<MethodInfo>> owned;
  boost::mutex registration;
};

const MethodInfo* findMethodInfo(jmethodID method);
void storeMethodInfo(jmethodID method, std::unique_ptr<MethodInfo> info);

}  // namespace kolvaprof
