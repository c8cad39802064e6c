#include "bytecode/bytecode_engine.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <iostream>
#include <optional>
#include <vector>

#include <boost/thread/lock_guard.hpp>

#include "bytecode/hook_call_site.h"
#include "bytecode/hook_natives.h"
#include "bytecode/hooks_class.h"
#include "capture/class_names.h"
#include "capture/jvmti_buffer.h"
#include "capture/object_numbers.h"
#include "capture/thread_key.h"
#include "classfile/class_rewriter.h"
#include "classfile/hook_signature.h"
#include "core/logging_agent.h"
#include "output/console.h"
#include "output/thread_registry.h"
#include "registry/method_registry.h"

namespace kolvaprof {
namespace {

constexpr uint16_t kStaticAccess = 0x0008;
// Classes retransformed in one request; a request the VM refuses is tried
// class by class, so that one class does not keep the others as they are.
constexpr std::size_t kRetransformBatch = 200;

// "Ljava/lang/String;" -> "java/lang/String"; empty for arrays and primitives.
std::string internalNameFromSignature(const char* signature) {
  if (signature == nullptr || signature[0] != 'L') return std::string();
  std::string name(signature + 1);
  if (!name.empty() && name.back() == ';') name.pop_back();
  return name;
}

std::string dotted(std::string name) {
  for (char& c : name) {
    if (c == '/') c = '.';
  }
  return name;
}

// Whether `dottedName` names the class of the method.
bool isClassOf(const MethodInfo& info, const std::string& dottedName) {
  const std::string& package = info.getPackageName();
  const std::string& simple = info.getClassName();
  if (package.empty()) return dottedName == simple;
  return dottedName.size() == package.size() + 1 + simple.size() &&
         dottedName.compare(0, package.size(), package) == 0 &&
         dottedName[package.size()] == '.' &&
         dottedName.compare(package.size() + 1, std::string::npos, simple) == 0;
}

bool definedByBootLoader(jvmtiEnv* jvmti, jclass klass) {
  jobject loader = nullptr;
  return jvmti->GetClassLoader(klass, &loader) == JVMTI_ERROR_NONE && loader == nullptr;
}

// A constructor run by another constructor's super(...) or this(...) call.
bool isChained(const HookFrames& frames, std::size_t index) {
  const int32_t root = frames[index].chainRoot;
  return root >= 0 && static_cast<std::size_t>(root) != index;
}

}  // namespace

BytecodeEngine::BytecodeEngine(CLoggingAgent& core, jvmtiEnv* env, bool attached)
    : core(core),
      jvmti(env),
      attached(attached),
      locations(locationSupport(env)),
      catalogue(numberedBefore.load(std::memory_order_acquire)) {}

std::atomic<BytecodeEngine*> BytecodeEngine::activeEngine{nullptr};
std::atomic<int32_t> BytecodeEngine::numberedBefore{0};

bool BytecodeEngine::prepare() {
  jvmtiCapabilities capabilities{};
  capabilities.can_retransform_classes = 1;
  capabilities.can_tag_objects = 1;
  capabilities.can_get_line_numbers = 1;
  if (jvmti->AddCapabilities(&capabilities) != JVMTI_ERROR_NONE) return false;
  jvmti->SetEventNotificationMode(JVMTI_ENABLE, JVMTI_EVENT_CLASS_FILE_LOAD_HOOK, nullptr);
  return true;
}

void BytecodeEngine::start(JNIEnv* jni) {
  activeEngine.store(this, std::memory_order_release);
  onVmInit(jni, hookNatives());
}

void BytecodeEngine::stop() {
  BytecodeEngine* self = this;
  activeEngine.compare_exchange_strong(self, nullptr, std::memory_order_acq_rel);
  numberedBefore.store(catalogue.lastNumber(), std::memory_order_release);
  jvmti->SetEventNotificationMode(JVMTI_DISABLE, JVMTI_EVENT_CLASS_FILE_LOAD_HOOK, nullptr);
  // At the end of the run, when every class has come by.
  const std::string summary = untraced.summary(core.verbose());
  if (!summary.empty()) printMessage(&std::cout, summary);
}

bool BytecodeEngine::selects(const std::string& internalName) const {
  return internalName != kHooksClassName;
}

bool BytecodeEngine::leavesAsItIs(const std::string& internalName) const {
  // Calls into excluded methods are recorded when that setting is on.
  return !core.options().getFilteredMethod &&
         MethodRegistry::instance().excludesWholeClass(dotted(internalName));
}

void BytecodeEngine::onClassFileLoad(JNIEnv* jni, jclass beingRedefined, jobject loader,
                                     const char* name, jint length, const unsigned char* data,
                                     jint* newLength, unsigned char** newData) {
  if (data == nullptr || length <= 0) return;
  if (!hooksReady.load(std::memory_order_acquire)) {
    if (name != nullptr) {
      boost::lock_guard<boost::mutex> guard(classesLock);
      startPhaseClasses.insert(name);
    }
    return;
  }
  if (name != nullptr && (!selects(name) || leavesAsItIs(name))) return;
  readModules();

  const bool filteredNeeded = core.options().getFilteredMethod;
  std::optional<ClassRegistration> registration;
  // A class catalogued before (this is a retransformation) keeps its numbers.
  std::optional<MethodNumbers> known;
  if (name != nullptr && jni != nullptr) known = cataloguedNumbers(jni, name, loader);
  MethodNumbers given;
  const classfile::MethodSelector select =
      [&](const classfile::MethodDescription& method) -> std::optional<int32_t> {
    const uint64_t hash = classfile::nameAndDescriptorHash(method.name, method.descriptor);
    if (known) {
      const auto found = std::lower_bound(known->begin(), known->end(),
                                          std::make_pair(hash, INT32_MIN));
      if (found == known->end() || found->first != hash) return std::nullopt;
      return found->second;
    }
    if (!registration) {
      registration.emplace(MethodRegistry::instance().beginClass(
          ClassDeclaration{dotted(std::string(method.className)), false, {}}));
    }
    if (!*registration) return std::nullopt;
    std::unique_ptr<MethodInfo> info = registration->describe(MethodDeclaration{
        nullptr, std::string(method.name), std::string(method.descriptor),
        (method.access & kStaticAccess) != 0});
    // Calls into excluded methods are seen only when a setting shows them.
    if (info->isExcluded() && !filteredNeeded) return std::nullopt;
    const int32_t number = catalogue.add(
        std::move(info), method.name == "<init>"
                             ? classfile::constructorKey(method.className, method.descriptor)
                             : 0);
    if (number == 0) return std::nullopt;
    given.emplace_back(hash, number);
    return number;
  };
  const bool withOffsets = core.options().recordCallerLocation == 1;
  classfile::RewriteResult result = classfile::rewriteClass(
      data, static_cast<std::size_t>(length), select,
      classfile::HookNames{kHooksClassName, /*leaves=*/true},
      withOffsets, receiverPassing(beingRedefined, jni, loader, name));
  if (withOffsets) {
    boost::lock_guard<boost::mutex> guard(offsetsLock);
    for (classfile::MovedCode& moved : result.moved) {
      movedCode[moved.number] = std::move(moved.offsets);
    }
  }
  if (registration && *registration && name != nullptr && jni != nullptr) {
    std::sort(given.begin(), given.end());
    catalogueClass(jni, name, loader, std::move(given));
  }
  const std::string shownName = name != nullptr ? name : "?";
  if (result.classLeft) untraced.noteClass(shownName, result.reason);
  for (const classfile::LeftMethod& left : result.left) {
    untraced.noteMethod(shownName, left.name + left.descriptor, left.reason);
  }
  if (result.classLeft) {
    if (core.verbose()) {
      printMessage(&std::cout, "class " + shownName + " left as it is: " + result.reason);
    }
    if (result.outcome == classfile::RewriteResult::Outcome::Refused) return;
  }
  if (core.verbose() && registration && *registration) {
    printMessage(&std::cout, "register class " + (*registration).dottedName());
    for (const classfile::LeftMethod& left : result.left) {
      printMessage(&std::cout, "method " + left.name + left.descriptor + " left as it is: " +
                                   left.reason);
    }
  }
  if (result.outcome != classfile::RewriteResult::Outcome::Rewritten) return;
  unsigned char* bytes = nullptr;
  if (jvmti->Allocate(static_cast<jlong>(result.bytes.size()), &bytes) != JVMTI_ERROR_NONE) {
    untraced.noteClass(shownName, "no memory for its rewritten bytes");
    return;
  }
  std::memcpy(bytes, result.bytes.data(), result.bytes.size());
  *newData = bytes;
  *newLength = static_cast<jint>(result.bytes.size());
  if (beingRedefined == nullptr && name != nullptr) {
    boost::lock_guard<boost::mutex> guard(classesLock);
    rewrittenAtLoad.insert(name);
  }
}

classfile::ReceiverPassing BytecodeEngine::receiverPassing(jclass beingRedefined, JNIEnv* jni,
                                                           jobject loader, const char* name) {
  switch (core.options().receiverTags) {
    case ReceiverTagMode::Never:
      return classfile::ReceiverPassing::Null;
    case ReceiverTagMode::LoggedOnly:
      // Numbers are taken only for logged calls, which the code cannot know.
      return classfile::ReceiverPassing::Object;
    case ReceiverTagMode::BeforeGates:
      break;
  }
  // Fields added to a class as it loads could not be taken out again when
  // the agent detaches (a retransformation cannot change a class's fields):
  // an attached run numbers every receiver through its tag.
  if (attached) return classfile::ReceiverPassing::Object;
  // The fields are read and written through references to the class by its
  // name, which must resolve to the class itself.
  if (definedByReflectionLoader(jni, loader, name)) return classfile::ReceiverPassing::Object;
  if (beingRedefined == nullptr) return classfile::ReceiverPassing::NumberFieldsWhereUseful;
  return hasNumberFields(beingRedefined) ? classfile::ReceiverPassing::NumberFields
                                         : classfile::ReceiverPassing::Object;
}

// Core reflection (JDK 17 and before) makes accessor classes at run time
// (jdk/internal/reflect/GeneratedMethodAccessor1 ...) and defines each in a
// DelegatingClassLoader of its own. HotSpot resolves the class references of
// a class of such a loader through the loader's parent, which does not know
// the class: a reference to the class by its own name fails to link. Other
// loaders find the classes they define by name (the VM records them), and
// hidden classes never come through here. The accessors' names are taken too,
// in case a JDK defines them otherwise.
bool BytecodeEngine::definedByReflectionLoader(JNIEnv* jni, jobject loader, const char* name) {
  if (name != nullptr && (std::strncmp(name, "jdk/internal/reflect/Generated", 30) == 0 ||
                          std::strncmp(name, "sun/reflect/Generated", 21) == 0)) {
    return true;
  }
  if (jni == nullptr || loader == nullptr) return false;
  bool reflection = false;
  jclass klass = jni->GetObjectClass(loader);
  while (klass != nullptr && !reflection) {
    JvmtiBuffer<char> signature(jvmti);
    if (jvmti->GetClassSignature(klass, signature.out(), nullptr) == JVMTI_ERROR_NONE) {
      const std::string loaderClass = internalNameFromSignature(signature.get());
      reflection = loaderClass == "jdk/internal/reflect/DelegatingClassLoader" ||
                   loaderClass == "sun/reflect/DelegatingClassLoader";
    }
    jclass super = jni->GetSuperclass(klass);
    jni->DeleteLocalRef(klass);
    klass = super;
  }
  if (klass != nullptr) jni->DeleteLocalRef(klass);
  return reflection;
}

std::optional<BytecodeEngine::MethodNumbers> BytecodeEngine::cataloguedNumbers(
    JNIEnv* jni, const std::string& name, jobject loader) {
  boost::lock_guard<boost::mutex> guard(cataloguedLock);
  const auto classes = catalogued.find(name);
  if (classes == catalogued.end()) return std::nullopt;
  for (const CataloguedClass& known : classes->second) {
    // A loader that is gone compares equal to null: the boot loader is told
    // apart by a mark of its own.
    const bool same = loader == nullptr
                          ? known.boot
                          : !known.boot && jni->IsSameObject(known.loader, loader) == JNI_TRUE;
    if (same) return known.numbers;
  }
  return std::nullopt;
}

void BytecodeEngine::catalogueClass(JNIEnv* jni, const std::string& name, jobject loader,
                                    MethodNumbers numbers) {
  CataloguedClass known;
  known.boot = loader == nullptr;
  known.loader = known.boot ? nullptr : jni->NewWeakGlobalRef(loader);
  if (!known.boot && known.loader == nullptr) {
    if (jni->ExceptionCheck()) jni->ExceptionClear();
    return;
  }
  known.numbers = std::move(numbers);
  boost::lock_guard<boost::mutex> guard(cataloguedLock);
  std::vector<CataloguedClass>& classes = catalogued[name];
  // The entries of loaders that are gone make room.
  classes.erase(std::remove_if(classes.begin(), classes.end(),
                               [&](const CataloguedClass& old) {
                                 if (old.boot || !jni->IsSameObject(old.loader, nullptr)) {
                                   return false;
                                 }
                                 jni->DeleteWeakGlobalRef(old.loader);
                                 return true;
                               }),
                classes.end());
  classes.push_back(std::move(known));
}

bool BytecodeEngine::hasNumberFields(jclass klass) {
  jint count = 0;
  JvmtiBuffer<jfieldID> fields(jvmti);
  if (jvmti->GetClassFields(klass, &count, fields.out()) != JVMTI_ERROR_NONE) return false;
  for (jint i = 0; i < count; ++i) {
    JvmtiBuffer<char> name(jvmti);
    if (jvmti->GetFieldName(klass, fields[i], name.out(), nullptr, nullptr) != JVMTI_ERROR_NONE) {
      continue;
    }
    if (classfile::kNumberFieldName == name.get()) return true;
  }
  return false;
}

bool BytecodeEngine::onVmInit(JNIEnv* jni, const JNINativeMethod* natives) {
  const std::vector<uint8_t> bytes = hooksClassBytes();
  jclass hooks = jni->DefineClass(kHooksClassName, nullptr,
                                  reinterpret_cast<const jbyte*>(bytes.data()),
                                  static_cast<jsize>(bytes.size()));
  if (hooks == nullptr && attached) {
    // An agent attached before left it in the boot loader, which keeps its
    // classes for good; its natives are bound to this library again.
    if (jni->ExceptionCheck()) jni->ExceptionClear();
    hooks = jni->FindClass(kHooksClassName);
  }
  if (hooks == nullptr ||
      jni->RegisterNatives(hooks, natives, static_cast<jint>(classfile::kHookCount)) != JNI_OK) {
    if (jni->ExceptionCheck()) jni->ExceptionClear();
    printMessage(&std::cerr, "cannot define the hooks class: no call is traced");
    return false;
  }
  jclass classClass = jni->FindClass("java/lang/Class");
  jmethodID getModule =
      classClass != nullptr ? jni->GetMethodID(classClass, "getModule", "()Ljava/lang/Module;")
                            : nullptr;
  jobject module = getModule != nullptr ? jni->CallObjectMethod(hooks, getModule) : nullptr;
  if (jni->ExceptionCheck()) jni->ExceptionClear();
  if (module != nullptr) hooksModule = jni->NewGlobalRef(module);
  readModules();
  hooksReady.store(true, std::memory_order_release);
  retransformLoadedClasses();
  return true;
}

// Code in a named module may call the hooks only once its module reads the
// hooks class's module (the boot loader's unnamed one). The boot layer's
// modules are all there at start-up; a module made later gets the same as
// soon as a class loads after it.
void BytecodeEngine::readModules() {
  // Adding a read runs Java code, which may load classes and so come back
  // here on the same thread: no lock is held, and the inner call returns.
  thread_local bool reading = false;
  if (hooksModule == nullptr || reading) return;
  jint count = 0;
  JvmtiBuffer<jobject> modules(jvmti);
  if (jvmti->GetAllModules(&count, modules.out()) != JVMTI_ERROR_NONE) return;
  if (count == modulesRead.load(std::memory_order_acquire)) return;
  reading = true;
  for (jint i = 0; i < count; ++i) jvmti->AddModuleReads(modules[i], hooksModule);
  reading = false;
  modulesRead.store(count, std::memory_order_release);
}

void BytecodeEngine::retransformLoadedClasses() {
  jint count = 0;
  JvmtiBuffer<jclass> loaded(jvmti);
  if (jvmti->GetLoadedClasses(&count, loaded.out()) != JVMTI_ERROR_NONE) return;
  std::vector<jclass> wanted;
  std::vector<std::string> wantedNames;
  for (jint i = 0; i < count; ++i) {
    jboolean modifiable = JNI_FALSE;
    if (jvmti->IsModifiableClass(loaded[i], &modifiable) != JVMTI_ERROR_NONE || !modifiable) {
      continue;
    }
    JvmtiBuffer<char> signature(jvmti);
    if (jvmti->GetClassSignature(loaded[i], signature.out(), nullptr) != JVMTI_ERROR_NONE) {
      continue;
    }
    const std::string name = internalNameFromSignature(signature.get());
    if (name.empty() || !selects(name) || leavesAsItIs(name)) continue;
    boost::lock_guard<boost::mutex> guard(classesLock);
    if (rewrittenAtLoad.count(name) != 0) continue;
    // Without built-in classes, only those the program loaded once it was
    // starting are traced, as the events engine registers them. Attached,
    // the agent saw no start: the boot loader's classes count as built in.
    if (core.ignoreBuiltInClass() && startPhaseClasses.count(name) == 0 &&
        (!attached || definedByBootLoader(jvmti, loaded[i]))) {
      continue;
    }
    wanted.push_back(loaded[i]);
    wantedNames.push_back(name);
  }
  rewrittenAtStart = wanted.size();
  retransform(wanted, [&](std::size_t i, jvmtiError error) {
    const std::string reason =
        "the VM refused its retransformation (JVMTI error " + std::to_string(error) + ")";
    if (untraced.noteClass(wantedNames[i], reason) && core.verbose()) {
      printMessage(&std::cout, "class " + wantedNames[i] + " left as it is: " + reason);
    }
  });
}

template <typename Refused>
void BytecodeEngine::retransform(std::vector<jclass>& classes, Refused refused) {
  for (std::size_t start = 0; start < classes.size(); start += kRetransformBatch) {
    const jint batch = static_cast<jint>(std::min(kRetransformBatch, classes.size() - start));
    if (jvmti->RetransformClasses(batch, &classes[start]) == JVMTI_ERROR_NONE) continue;
    for (jint i = 0; i < batch; ++i) {
      const jvmtiError error = jvmti->RetransformClasses(1, &classes[start + i]);
      if (error != JVMTI_ERROR_NONE) refused(start + static_cast<std::size_t>(i), error);
    }
  }
}

std::size_t BytecodeEngine::restoreClasses(JNIEnv* jni) {
  jint count = 0;
  JvmtiBuffer<jclass> loaded(jvmti);
  if (jvmti->GetLoadedClasses(&count, loaded.out()) != JVMTI_ERROR_NONE) return 0;
  std::vector<jclass> changed;
  std::vector<std::string> changedNames;
  {
    // A class of a rewritten class's name from another loader is
    // retransformed too, which gives it the bytes it has already.
    boost::lock_guard<boost::mutex> guard(cataloguedLock);
    for (jint i = 0; i < count; ++i) {
      JvmtiBuffer<char> signature(jvmti);
      if (jvmti->GetClassSignature(loaded[i], signature.out(), nullptr) != JVMTI_ERROR_NONE) {
        continue;
      }
      const std::string name = internalNameFromSignature(signature.get());
      if (name.empty() || catalogued.count(name) == 0) continue;
      changed.push_back(loaded[i]);
      changedNames.push_back(name);
    }
  }
  retransform(changed, [&](std::size_t i, jvmtiError error) {
    printMessage(&std::cout, "class " + changedNames[i] +
                                 " keeps its hooks: the VM refused its retransformation (JVMTI error " +
                                 std::to_string(error) + ")");
  });
  boost::lock_guard<boost::mutex> guard(cataloguedLock);
  for (auto& entry : catalogued) {
    for (CataloguedClass& known : entry.second) {
      if (known.loader != nullptr) jni->DeleteWeakGlobalRef(known.loader);
      known.loader = nullptr;
    }
  }
  catalogued.clear();
  if (hooksModule != nullptr) jni->DeleteGlobalRef(hooksModule);
  hooksModule = nullptr;
  return changed.size();
}

void BytecodeEngine::nameRunningThread(JNIEnv* jni, ThreadKey key, HookFrames& frames) {
  frames.named = true;
  // A virtual thread's key is its own identity, given at its start.
  if (key != static_cast<ThreadKey>(jni)) return;
  jvmtiThreadInfo info{};
  if (jvmti->GetThreadInfo(nullptr, &info) != JVMTI_ERROR_NONE) return;
  JvmtiBuffer<char> name(jvmti);
  *name.out() = info.name;
  if (info.thread_group != nullptr) jni->DeleteLocalRef(info.thread_group);
  if (info.context_class_loader != nullptr) jni->DeleteLocalRef(info.context_class_loader);
  if (name.get() != nullptr) ThreadRegistry::instance().nameIfUnknown(key, name.get());
}

void BytecodeEngine::onThreadEnd(ThreadKey thread) { threads.forget(thread); }

namespace {

void pushFrame(HookFrames& frames, const MethodInfo* info, jint number, int32_t chainRoot,
               jmethodID method) {
  // Filled in place: a whole frame built aside and then copied costs a
  // stall on every call.
  HookFrame& frame = frames.emplace_back();
  frame.info = info;
  frame.number = number;
  frame.chainRoot = chainRoot;
  frame.tag = 0;
  frame.awaitingSuper = false;
  frame.superKey = 0;
  frame.method = method;
}

}  // namespace

void BytecodeEngine::push(JNIEnv* jni, const MethodInfo& info, jint number, jobject receiver,
                          bool constructor, int64_t receiverNumber) {
  const ThreadKey key = currentThreadKey(jvmti, jni);
  HookFrames& frames = threads.framesOf(key);
  if (attached && !frames.named) nameRunningThread(jni, key, frames);
  int32_t chainRoot = -1;
  bool chained = false;
  if (!frames.empty() && frames.back().awaitingSuper) {
    // A constructor called by a constructor waiting on its own super(...)
    // or this(...) builds the same object; one called from inside a super
    // constructor without hooks builds another.
    chained = constructor && (frames.back().superKey == catalogue.constructorKey(number) ||
                              reachedThroughSuperclasses(jni));
    if (!chained) closeLeftConstructors(jni, key, frames);
  }
  const int32_t index = static_cast<int32_t>(frames.size());
  if (constructor) chainRoot = chained ? frames.back().chainRoot : index;
  jmethodID method = nullptr;
  if (core.options().recordCallerLocation == 1) {
    // Depth 0 is the hook, 1 the method entered.
    jlocation location = 0;
    jvmti->GetFrameLocation(nullptr, 1, &method, &location);
  }
  pushFrame(frames, &info, number, chainRoot, method);
  HookCallSite site(*this, jni, key, frames, frames.size() - 1, receiver, receiverNumber);
  core.logMethodEntry(site, info);
}

void BytecodeEngine::enter(JNIEnv* jni, jint number, jobject receiver) {
  const MethodInfo* info = catalogue.find(number);
  if (info == nullptr) return;  // not a number this engine handed out
  // A static method's entry passes no receiver.
  if (receiver == nullptr && enterPlain(jni, *info, number, 0)) return;
  push(jni, *info, number, receiver, false);
}

// Most calls pass every gate and come while no constructor waits on its
// super(...) call: they skip what push asks for the others. The records are
// the same either way.
bool BytecodeEngine::enterPlain(JNIEnv* jni, const MethodInfo& info, jint number,
                                int64_t receiverNumber) {
  HookFrames* frames = nullptr;
  ThreadContext* context = plainContext(jni, info, frames);
  if (context == nullptr) return false;
  pushFrame(*frames, &info, number, -1, nullptr);
  core.logPlainEntry(*context, info, receiverNumber);
  return true;
}

ThreadContext* BytecodeEngine::plainContext(JNIEnv* jni, const MethodInfo& info,
                                            HookFrames*& frames) {
  if (!core.isPlainCall(info)) return nullptr;
  const ThreadKey key = currentThreadKey(jvmti, jni);
  frames = &threads.framesOf(key);
  if ((attached && !frames->named) || (!frames->empty() && frames->back().awaitingSuper)) {
    return nullptr;
  }
  return ThreadRegistry::instance().findContext(key);  // null before its first call
}

void BytecodeEngine::leaf(JNIEnv* jni, jint number, jobject receiver) {
  if (const MethodInfo* info = catalogue.find(number)) leafCall(jni, *info, number, receiver, 0);
}

void BytecodeEngine::leafNumbered(JNIEnv* jni, jint number, int64_t receiver) {
  if (const MethodInfo* info = catalogue.find(number)) {
    leafCall(jni, *info, number, nullptr, receiver);
  }
}

void BytecodeEngine::leafCall(JNIEnv* jni, const MethodInfo& info, jint number, jobject receiver,
                              int64_t receiverNumber) {
  // An object passed itself needs its tag looked up the long way.
  HookFrames* frames = nullptr;
  ThreadContext* context = receiver == nullptr ? plainContext(jni, info, frames) : nullptr;
  if (context != nullptr) {
    core.logPlainCall(*context, info, receiverNumber);
    return;
  }
  push(jni, info, number, receiver, false, receiverNumber);
  exit(jni, number);
}

int64_t BytecodeEngine::receiverNumber(JNIEnv* jni, jobject receiver) {
  return objectTag(jni, receiver, nullptr);
}

void BytecodeEngine::enterNumbered(JNIEnv* jni, jint number, int64_t receiver) {
  const MethodInfo* info = catalogue.find(number);
  if (info == nullptr) return;
  if (!enterPlain(jni, *info, number, receiver)) push(jni, *info, number, nullptr, false, receiver);
}

void BytecodeEngine::enterInit(JNIEnv* jni, jint number) {
  if (const MethodInfo* info = catalogue.find(number)) push(jni, *info, number, nullptr, true);
}

// A constructor reached through superclass constructors without hooks (a
// class between two traced ones that the filters leave out) continues the
// object under construction: its caller is then a constructor of a direct
// subclass of its class. Asked only when the keys disagree.
bool BytecodeEngine::reachedThroughSuperclasses(JNIEnv* jni) {
  // Depth 0 is the hook, 1 the constructor entered, 2 its caller.
  jmethodID callee = nullptr;
  jmethodID caller = nullptr;
  jlocation location = 0;
  if (jvmti->GetFrameLocation(nullptr, 1, &callee, &location) != JVMTI_ERROR_NONE ||
      jvmti->GetFrameLocation(nullptr, 2, &caller, &location) != JVMTI_ERROR_NONE ||
      callee == nullptr || caller == nullptr) {
    return false;
  }
  JvmtiBuffer<char> name(jvmti);
  if (jvmti->GetMethodName(caller, name.out(), nullptr, nullptr) != JVMTI_ERROR_NONE ||
      std::strcmp(name.get(), "<init>") != 0) {
    return false;
  }
  jclass calleeClass = nullptr;
  jclass callerClass = nullptr;
  if (jvmti->GetMethodDeclaringClass(callee, &calleeClass) != JVMTI_ERROR_NONE) return false;
  bool continues = false;
  if (jvmti->GetMethodDeclaringClass(caller, &callerClass) == JVMTI_ERROR_NONE) {
    jclass superclass = jni->GetSuperclass(callerClass);
    continues = superclass != nullptr && jni->IsSameObject(superclass, calleeClass);
    if (superclass != nullptr) jni->DeleteLocalRef(superclass);
    jni->DeleteLocalRef(callerClass);
  }
  jni->DeleteLocalRef(calleeClass);
  return continues;
}

// Constructors still waiting on their super(...) call whose frames are gone:
// the super constructor, without hooks, threw, and only code without hooks
// caught the exception. Asked only when a call comes while the innermost
// frame waits, which is also how a super constructor calls back: the stack
// then still holds a constructor of the waiting one's class.
void BytecodeEngine::closeLeftConstructors(JNIEnv* jni, ThreadKey key, HookFrames& frames) {
  constexpr jint kDepth = 512;
  jvmtiFrameInfo stack[kDepth];
  jint count = 0;
  // Depth 0 is the hook, 1 the method entered.
  if (jvmti->GetStackTrace(nullptr, 2, kDepth, stack, &count) != JVMTI_ERROR_NONE ||
      count == kDepth) {
    return;  // not known: left as it is
  }
  while (!frames.empty() && frames.back().awaitingSuper) {
    HookFrame& waiting = frames.back();
    for (jint i = 0; i < count; ++i) {
      // Once found, the constructor's method is known and compared alone.
      if (waiting.method != nullptr) {
        if (stack[i].method == waiting.method) return;
        continue;
      }
      JvmtiBuffer<char> name(jvmti);
      if (jvmti->GetMethodName(stack[i].method, name.out(), nullptr, nullptr) !=
              JVMTI_ERROR_NONE ||
          std::strcmp(name.get(), "<init>") != 0) {
        continue;
      }
      jclass klass = nullptr;
      if (jvmti->GetMethodDeclaringClass(stack[i].method, &klass) != JVMTI_ERROR_NONE) continue;
      const bool found = isClassOf(*waiting.info, dottedClassName(jvmti, klass));
      jni->DeleteLocalRef(klass);
      if (found) {
        waiting.method = stack[i].method;
        return;
      }
    }
    leaveTop(key, frames, true);
  }
}

void BytecodeEngine::chainInit(JNIEnv* jni, jint key) {
  HookFrames& frames = threads.framesOf(currentThreadKey(jvmti, jni));
  if (frames.empty() || frames.back().chainRoot < 0) return;
  HookFrame& frame = frames.back();
  if (!frame.awaitingSuper) ++frames.awaiting;
  frame.awaitingSuper = true;
  frame.superKey = key;
}

void BytecodeEngine::bindInit(JNIEnv* jni, jobject self) {
  HookFrames& frames = threads.framesOf(currentThreadKey(jvmti, jni));
  if (frames.empty() || frames.back().chainRoot < 0) return;
  HookFrame& frame = frames.back();
  if (frame.awaitingSuper) --frames.awaiting;
  frame.awaitingSuper = false;
  const int64_t tag = frames[static_cast<std::size_t>(frame.chainRoot)].tag;
  if (tag == 0 || self == nullptr) return;
  jlong current = 0;
  if (jvmti->GetTag(self, &current) == JVMTI_ERROR_NONE && current == 0) tagOnce(self, tag);
}

int64_t BytecodeEngine::receiverTag(JNIEnv* jni, HookFrames& frames, std::size_t index,
                                    jobject receiver) {
  const HookFrame& frame = frames[index];
  if (frame.chainRoot >= 0) {
    // The object is not usable before its super(...) call: its number is
    // kept with the chain and given to it by bindInit.
    HookFrame& root = frames[static_cast<std::size_t>(frame.chainRoot)];
    if (root.tag == 0) root.tag = core.allocateObjectTag();
    return root.tag;
  }
  return objectTag(jni, receiver, &frames);
}

int64_t BytecodeEngine::objectTag(JNIEnv* jni, jobject object, HookFrames* frames) {
  if (object == nullptr) return 0;
  jlong tag = 0;
  if (jvmti->GetTag(object, &tag) != JVMTI_ERROR_NONE) return 0;
  if (tag != 0) return tag;
  return tagOnce(object, constructionTag(jni, object, frames));
}

// An object without a number whose class is that of a constructor chain
// still waiting on its super(...) call is, but for a copy nothing traced has
// met, the object under construction, met through a method that a super
// constructor without hooks called back: it takes the number its chain
// keeps for it, which bindInit finds on it then.
int64_t BytecodeEngine::constructionTag(JNIEnv* jni, jobject object, HookFrames* frames) {
  if (jni == nullptr) return 0;
  if (frames == nullptr) frames = &threads.framesOf(currentThreadKey(jvmti, jni));
  if (frames->awaiting == 0) return 0;
  const std::string name = objectClassName(jvmti, jni, object);
  for (std::size_t i = frames->size(); i-- > 0;) {
    const HookFrame& waiting = (*frames)[i];
    if (!waiting.awaitingSuper || waiting.chainRoot < 0) continue;
    HookFrame& root = (*frames)[static_cast<std::size_t>(waiting.chainRoot)];
    if (!isClassOf(*root.info, name)) continue;
    if (root.tag == 0) root.tag = core.allocateObjectTag();
    return root.tag;
  }
  return 0;
}

int64_t BytecodeEngine::tagOnce(jobject object, int64_t wanted) {
  return objectNumber(jvmti, core, object, wanted);
}

std::string BytecodeEngine::callerLocation(HookFrames& frames, std::size_t index,
                                           CallerLocation what) {
  // Depth 0 is the hook, 1 the traced method, 2 its caller.
  if (what == CallerLocation::SourceLine || !locations.bytecodeIndex || index == 0) {
    return frameLocation(jvmti, 2, what, locations);
  }
  jmethodID caller = nullptr;
  jlocation location = 0;
  if (jvmti->GetFrameLocation(nullptr, 2, &caller, &location) != JVMTI_ERROR_NONE) return "-1";
  const HookFrame& below = frames[index - 1];
  // A caller without hooks runs the code as it was loaded; one with hooks
  // is shown at the index its call had before rewriting.
  if (caller == nullptr || caller != below.method) return std::to_string(location);
  boost::lock_guard<boost::mutex> guard(offsetsLock);
  const auto moved = movedCode.find(below.number);
  if (moved == movedCode.end()) return std::to_string(location);
  for (const auto& [now, before] : moved->second) {
    if (now == static_cast<uint32_t>(location)) return std::to_string(before);
  }
  return std::to_string(location);
}

void BytecodeEngine::leaveTop(ThreadKey key, HookFrames& frames, bool poppedByException) {
  const HookFrame& frame = frames.back();
  HookCallSite site(*this, nullptr, key, frames, frames.size() - 1, nullptr);
  core.logMethodExit(site, *frame.info, poppedByException);
  if (frames.back().awaitingSuper) --frames.awaiting;
  frames.pop_back();
}

void BytecodeEngine::leaveDownTo(ThreadKey key, HookFrames& frames, std::size_t index,
                                 bool poppedByException) {
  // Frames above the one leaving were left by an exception that no hook saw
  // (one thrown by a super(...) call into code without hooks, say).
  while (frames.size() > index + 1) leaveTop(key, frames, true);
  leaveTop(key, frames, poppedByException);
}

void BytecodeEngine::exit(JNIEnv* jni, jint number) {
  const ThreadKey key = currentThreadKey(jvmti, jni);
  HookFrames& frames = threads.framesOf(key);
  if (!frames.empty() && frames.back().number == number && !frames.back().awaitingSuper &&
      core.isPlainCall(*frames.back().info)) {
    // The innermost frame leaving, as most do; a thread has its context
    // from its first entry on, unless it ended meanwhile.
    if (ThreadContext* context = ThreadRegistry::instance().findContext(key)) {
      core.logPlainExit(*context, *frames.back().info);
      frames.pop_back();
      return;
    }
  }
  for (std::size_t i = frames.size(); i-- > 0;) {
    if (frames[i].number == number) {
      leaveDownTo(key, frames, i, false);
      return;
    }
  }
  // An exit without its entry is dropped.
}

void BytecodeEngine::exitThrow(JNIEnv* jni, jthrowable exception, jint number) {
  const ThreadKey key = currentThreadKey(jvmti, jni);
  HookFrames& frames = threads.framesOf(key);
  std::size_t index = frames.size();
  for (std::size_t i = frames.size(); i-- > 0;) {
    if (frames[i].number == number) {
      index = i;
      break;
    }
  }
  if (index == frames.size()) return;
  noteException(jni, key, exception);
  // No handler can cover a constructor's own super(...) or this(...) call:
  // when a constructor called that way throws, the constructors of its chain
  // that wait on it leave with it.
  bool chained = isChained(frames, index);
  leaveDownTo(key, frames, index, true);
  while (chained && !frames.empty() && frames.back().awaitingSuper) {
    chained = isChained(frames, frames.size() - 1);
    leaveTop(key, frames, true);
  }
}

void BytecodeEngine::caught(JNIEnv* jni, jthrowable exception, jint number) {
  const ThreadKey key = currentThreadKey(jvmti, jni);
  HookFrames& frames = threads.framesOf(key);
  // Most often the method catching is the innermost frame already.
  if (frames.empty() || frames.back().number == number) return;
  for (std::size_t i = frames.size() - 1; i-- > 0;) {
    if (frames[i].number != number) continue;
    noteException(jni, key, exception);
    while (frames.size() > i + 1) leaveTop(key, frames, true);
    return;
  }
}

void BytecodeEngine::noteException(JNIEnv* jni, ThreadKey key, jthrowable exception) {
  const std::string name = objectClassName(jvmti, jni, exception);
  if (!name.empty()) core.setLastExceptionClass(key, name);
}

}  // namespace kolvaprof
