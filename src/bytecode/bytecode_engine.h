#pragma once

#include <jvmti.h>

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include <boost/thread/mutex.hpp>

#include "capture/capture_engine.h"
#include "capture/frame_location.h"
#include "classfile/class_rewriter.h"
#include "bytecode/hook_threads.h"
#include "bytecode/method_catalogue.h"
#include "bytecode/untraced_code.h"

namespace kolvaprof {

class CLoggingAgent;
class ThreadContext;

// Catches calls through hook calls put into the bytecode of the classes as
// they load, so that traced code keeps running compiled. Classes the VM
// loaded before the hooks class existed are rewritten once it does, by
// retransformation. Each hook call becomes the same entry or exit the core
// would get from the method events.
class BytecodeEngine final : public CaptureEngine {
 public:
  // `attached`: loaded into a running VM, whose classes it must be able to
  // give back as they were.
  BytecodeEngine(CLoggingAgent& core, jvmtiEnv* env, bool attached = false);
  BytecodeEngine(const BytecodeEngine&) = delete;
  BytecodeEngine& operator=(const BytecodeEngine&) = delete;

  // Asks for retransformation and the class file load events.
  bool prepare() override;
  // Makes the hooks class and rewrites the classes loaded so far; from then
  // on the hooks reach this engine.
  void start(JNIEnv* jni) override;
  // The hooks reach no engine any more; says what was left untraced.
  void stop() override;
  // Retransforms every loaded class this engine rewrote, while the class
  // file load hook passes bytes through (the callback gate is closed), so
  // that each gets the bytes it had before the engine changed it. Code
  // running in the old version meanwhile still calls hooks, which find the
  // gate closed or no engine.
  // Returns how many classes it retransformed. The engine's JNI references
  // go as well: the VM outlives it.
  std::size_t restoreClasses(JNIEnv* jni);
  // How many loaded classes start() retransformed.
  std::size_t classesRewrittenAtStart() const { return rewrittenAtStart; }
  // The engine the hooks' native methods hand their calls to: the one
  // started last and not stopped, or null.
  static BytecodeEngine* active() { return activeEngine.load(std::memory_order_acquire); }

  // ClassFileLoadHook: the class's bytes with hook calls, or nothing when no
  // method of it is traced or the hooks class is not there yet.
  void onClassFileLoad(JNIEnv* jni, jclass beingRedefined, jobject loader, const char* name,
                       jint length, const unsigned char* data, jint* newLength,
                       unsigned char** newData);
  // Defines the hooks class in the boot loader and binds `natives` (one per
  // classfile::Hook, in that order) to it, lets every named module read it, and
  // rewrites the classes loaded so far. False when the hooks class could not
  // be made: nothing is traced then.
  bool onVmInit(JNIEnv* jni, const JNINativeMethod* natives);
  void onThreadEnd(ThreadKey thread) override;

  // The hooks.
  void enter(JNIEnv* jni, jint number, jobject receiver);
  void enterInit(JNIEnv* jni, jint number);
  void chainInit(JNIEnv* jni, jint key);
  void bindInit(JNIEnv* jni, jobject self);
  void exit(JNIEnv* jni, jint number);
  void exitThrow(JNIEnv* jni, jthrowable exception, jint number);
  // A handler of method `number` caught `exception`: frames above the
  // method's were left by it without a hook (constructors waiting on a super
  // constructor without hooks that threw).
  void caught(JNIEnv* jni, jthrowable exception, jint number);
  // The number of an object whose class keeps it in fields of its own; the
  // number is the object's tag, so that every class of the object and every
  // method that passes the object itself agree on it.
  int64_t receiverNumber(JNIEnv* jni, jobject receiver);
  void enterNumbered(JNIEnv* jni, jint number, int64_t receiver);
  // A leaf's whole call, reported at its return.
  void leaf(JNIEnv* jni, jint number, jobject receiver);
  void leafNumbered(JNIEnv* jni, jint number, int64_t receiver);

  // For the call site: the receiver number of the frame's object.
  int64_t receiverTag(JNIEnv* jni, HookFrames& frames, std::size_t index, jobject receiver);
  std::string callerLocation(HookFrames& frames, std::size_t index, CallerLocation what);

 private:
  // `info` is that of method `number`, which this engine handed out.
  void push(JNIEnv* jni, const MethodInfo& info, jint number, jobject receiver, bool constructor,
            int64_t receiverNumber = 0);
  // False when the call needs push.
  bool enterPlain(JNIEnv* jni, const MethodInfo& info, jint number, int64_t receiverNumber);
  // The thread's context when a call of `info` may go the short way (its
  // frames in `frames`), or null.
  ThreadContext* plainContext(JNIEnv* jni, const MethodInfo& info, HookFrames*& frames);
  // Entry and exit of a leaf at once: the short way when it may, else as
  // the two hooks would.
  void leafCall(JNIEnv* jni, const MethodInfo& info, jint number, jobject receiver,
                int64_t receiverNumber);
  // `frames` are the thread's, or null when the caller has not fetched them.
  int64_t objectTag(JNIEnv* jni, jobject object, HookFrames* frames);
  int64_t constructionTag(JNIEnv* jni, jobject object, HookFrames* frames);
  bool reachedThroughSuperclasses(JNIEnv* jni);
  void closeLeftConstructors(JNIEnv* jni, ThreadKey key, HookFrames& frames);
  // The object's tag, set to `wanted` (or a new number) when it has none.
  int64_t tagOnce(jobject object, int64_t wanted);
  // How the instance methods of the class being loaded or retransformed
  // pass their receiver.
  classfile::ReceiverPassing receiverPassing(jclass beingRedefined, JNIEnv* jni, jobject loader,
                                             const char* name);
  // The class's loader cannot find the class by its name.
  bool definedByReflectionLoader(JNIEnv* jni, jobject loader, const char* name);
  bool hasNumberFields(jclass klass);
  // The numbers of the methods of a class by a hash of name and descriptor,
  // sorted: every rewritten class keeps them, so they are kept small.
  using MethodNumbers = std::vector<std::pair<uint64_t, int32_t>>;
  // Those given when the class of this name and defining loader was first
  // rewritten; nothing when it was not.
  std::optional<MethodNumbers> cataloguedNumbers(JNIEnv* jni, const std::string& name,
                                                 jobject loader);
  void catalogueClass(JNIEnv* jni, const std::string& name, jobject loader,
                      MethodNumbers numbers);
  // Leaves frames[index] and every frame above it that was left without an
  // exit hook; the innermost are closed by exception.
  void leaveDownTo(ThreadKey key, HookFrames& frames, std::size_t index, bool poppedByException);
  void leaveTop(ThreadKey key, HookFrames& frames, bool poppedByException);
  // The records' name for the exception the thread throws now.
  void noteException(JNIEnv* jni, ThreadKey key, jthrowable exception);
  void readModules();
  void retransformLoadedClasses();
  // RetransformClasses in batches; a batch the VM refuses is tried class by
  // class, and each class it still refuses is given to `refused`.
  template <typename Refused>
  void retransform(std::vector<jclass>& classes, Refused refused);
  // A thread that ran before the agent was attached has its name asked
  // for at its first hook, since its start was never seen.
  void nameRunningThread(JNIEnv* jni, ThreadKey key, HookFrames& frames);
  bool selects(const std::string& internalName) const;
  // No method of the class can reach a record: its bytes stay as they are,
  // and a class loaded already is not redefined for nothing, which would
  // throw away its compiled code.
  bool leavesAsItIs(const std::string& internalName) const;

  static std::atomic<BytecodeEngine*> activeEngine;
  // The last hook number of the engines before, which this one goes on from.
  static std::atomic<int32_t> numberedBefore;

  CLoggingAgent& core;
  jvmtiEnv* jvmti;
  const bool attached;
  LocationSupport locations;
  MethodCatalogue catalogue;
  HookThreads threads;
  std::atomic<bool> hooksReady{false};
  jobject hooksModule = nullptr;  // global reference
  std::atomic<jint> modulesRead{0};
  // Where the instructions of rewritten methods went, by method number: a
  // caller's bytecode index is shown as in the class file as it was loaded.
  // Kept only when caller bytecode indexes are recorded.
  boost::mutex offsetsLock;
  std::unordered_map<int32_t, std::vector<std::pair<uint32_t, uint32_t>>> movedCode;
  // A retransformation of a class (by another agent, say) rewrites it with
  // the numbers it was first given: one method, one record, one number. Kept
  // by name and defining loader (a weak reference, null for the boot loader).
  struct CataloguedClass {
    jweak loader;
    bool boot;
    MethodNumbers numbers;
  };
  boost::mutex cataloguedLock;
  std::unordered_map<std::string, std::vector<CataloguedClass>> catalogued;
  boost::mutex classesLock;
  // Classes the VM handed over before the hooks class existed, while the
  // program was starting (the VM gives none from before that).
  std::unordered_set<std::string> startPhaseClasses;
  // Classes rewritten as they loaded, which need no retransformation.
  std::unordered_set<std::string> rewrittenAtLoad;
  UntracedCode untraced;
  std::size_t rewrittenAtStart = 0;
};

}  // namespace kolvaprof
