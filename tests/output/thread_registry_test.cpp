#include "output/thread_registry.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "output/log_file.h"
#include "format/text_line.h"
#include "output/thread_context.h"

namespace kolvaprof {
namespace {

namespace fs = std::filesystem;

ThreadKey key(std::uintptr_t n) { return reinterpret_cast<ThreadKey>(0x7f0000001000 + n * 0x40); }

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

// Whether some descriptor of this process still refers to the file.
bool isOpenHere(const std::string& path) {
  const fs::path wanted = fs::weakly_canonical(path);
  std::error_code error;
  for (const auto& fd : fs::directory_iterator("/proc/self/fd", error)) {
    if (fs::read_symlink(fd.path(), error) == wanted) return true;
  }
  return false;
}

class TempDir {
 public:
  TempDir() {
    char pattern[] = "/tmp/kolvaprof-threads-XXXXXX";
    if (mkdtemp(pattern) != nullptr) path = std::string(pattern) + "/";
  }
  ~TempDir() {
    std::error_code ignored;
    fs::remove_all(path, ignored);
  }
  std::string path;
};

// Named virtual threads keep their names, shared or not; generated names are
// never a platform thread's, before or after; a thread's name goes with it.
TEST(ThreadRegistryTest, VirtualThreadNames) {
  ThreadRegistry registry;
  registry.onThreadStart(key(1), "VirtualThread-2");
  EXPECT_EQ(registry.registerThread(key(1)).name, "VirtualThread-2");
  registry.onVirtualThreadStart(key(10), "");
  registry.onVirtualThreadStart(key(11), "");
  registry.onVirtualThreadStart(key(12), "main");
  registry.onVirtualThreadStart(key(13), "main");
  EXPECT_EQ(registry.registerThread(key(10)).name, "VirtualThread-1");
  EXPECT_EQ(registry.registerThread(key(11)).name, "VirtualThread-3");
  EXPECT_EQ(registry.registerThread(key(12)).name, "main");
  EXPECT_EQ(registry.registerThread(key(13)).name, "main");
  EXPECT_TRUE(registry.registerThread(key(13)).isVirtual);
  registry.onThreadStart(key(2), "VirtualThread-3");
  registry.onThreadStart(key(3), "VirtualThread-4");
  EXPECT_EQ(registry.registerThread(key(2)).name, "VirtualThread-3(2)");
  EXPECT_EQ(registry.registerThread(key(3)).name, "VirtualThread-4");
  registry.onThreadEnd(key(10));
  EXPECT_FALSE(registry.registerThread(key(10)).isVirtual);
}

TEST(ThreadRegistryTest, NamesComeFromThreadStartAndAreMadeUnique) {
  ThreadRegistry registry;
  registry.onThreadStart(key(1), "main");
  registry.onThreadStart(key(2), "main");
  registry.onThreadStart(key(3), "main");
  registry.onThreadStart(key(4), "early name");
  registry.onThreadStart(key(4), "Worker");  // a later start replaces the name

  const std::pair<int, const char*> expected[] = {
      {1, "main"}, {2, "main(2)"}, {5, "UnknownThread1"}, {3, "main(3)"}, {4, "Worker"},
      {6, "UnknownThread2"}};
  int32_t number = 0;
  for (const auto& [thread, name] : expected) {
    const ThreadRegistry::NewThread registered = registry.registerThread(key(thread));
    EXPECT_EQ(registered.name, name);
    EXPECT_EQ(registered.number, number++);
    EXPECT_FALSE(registered.isVirtual);
  }

  ThreadRegistry other;  // counters belong to the instance
  EXPECT_EQ(other.registerThread(key(1)).name, "UnknownThread1");
  EXPECT_EQ(other.registerThread(key(2)).number, 1);
}

TEST(ThreadRegistryTest, ContextsAreFiledFoundAndEnded) {
  ThreadRegistry registry;
  EXPECT_EQ(registry.findContext(key(1)), nullptr);

  ThreadContext* first = registry.addContext(key(1), std::make_unique<ThreadContext>("main", 0));
  ThreadContext* other = registry.addContext(key(2), std::make_unique<ThreadContext>("other", 1));
  EXPECT_EQ(registry.findContext(key(1)), first);
  EXPECT_EQ(registry.findContext(key(2)), other);

  registry.onThreadEnd(key(1));
  EXPECT_EQ(registry.findContext(key(1)), nullptr);
  EXPECT_EQ(registry.findContext(key(2)), other);
  registry.onThreadEnd(key(1));  // a second end, and an end without a context
  registry.onThreadEnd(key(3));

  // A new thread that got the ended thread's JNIEnv gets a new context.
  ThreadContext* reused =
      registry.addContext(key(1), std::make_unique<ThreadContext>("main(2)", 2));
  ASSERT_EQ(registry.findContext(key(1)), reused);
  EXPECT_EQ(registry.findContext(key(1))->name(), "main(2)");

  registry.destroyAllContexts();
  EXPECT_EQ(registry.findContext(key(1)), nullptr);
  EXPECT_EQ(registry.findContext(key(2)), nullptr);
}

TEST(ThreadRegistryTest, ANewRegistryDoesNotSeeContextsOfAnEarlierOne) {
  // Both registries live at the same address in turn, and the thread looked
  // its context up in the first one.
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    ThreadRegistry registry;
    EXPECT_EQ(registry.findContext(key(1)), nullptr);
    ThreadContext* context = registry.addContext(key(1), std::make_unique<ThreadContext>("main", 0));
    EXPECT_EQ(registry.findContext(key(1)), context);
  }
}

// An agent attached again starts a new run in the same registry: nothing of
// the run before (names, numbers, contexts, cached lookups) carries over. A
// thread already running is named at its first call, unless its start named it.
TEST(ThreadRegistryTest, AResetStartsTheNextRunAfresh) {
  ThreadRegistry registry;
  registry.onThreadStart(key(1), "main");
  registry.onVirtualThreadStart(key(2), "");
  ThreadContext* context = registry.addContext(key(1), std::make_unique<ThreadContext>("main", 0));
  ASSERT_EQ(registry.findContext(key(1)), context);  // now cached
  EXPECT_EQ(registry.registerThread(key(2)).name, "VirtualThread-1");
  EXPECT_EQ(registry.registerThread(key(3)).name, "UnknownThread1");

  registry.reset();
  EXPECT_EQ(registry.findContext(key(1)), nullptr);
  registry.onThreadStart(key(4), "worker");
  registry.nameIfUnknown(key(4), "renamed");  // the start's name stays
  registry.nameIfUnknown(key(1), "main");
  registry.onVirtualThreadStart(key(5), "");
  const std::pair<int, const char*> expected[] = {
      {1, "main"}, {4, "worker"}, {3, "UnknownThread1"}, {5, "VirtualThread-1"}};
  int32_t number = 0;
  for (const auto& [thread, name] : expected) {
    const ThreadRegistry::NewThread registered = registry.registerThread(key(thread));
    EXPECT_EQ(registered.name, name);
    EXPECT_EQ(registered.number, number++);
  }
}

TEST(ThreadRegistryTest, ThreadEndWritesOutAndClosesTheThreadsOwnFile) {
  TempDir dir;
  const std::string mainLog = dir.path + "main.log";
  const std::string workerLog = dir.path + "worker.log";
  const std::string sharedLog = dir.path + "shared.log";
  {
    LogFile shared(dir.path, "shared", ".log");
    ThreadRegistry registry;
    ThreadContext* main = registry.addContext(
        key(1), std::make_unique<ThreadContext>(
                    "main", 0, std::make_unique<ThreadLogFile>(dir.path, "main", ".log")));
    ThreadContext* worker = registry.addContext(
        key(2), std::make_unique<ThreadContext>(
                    "worker", 1, std::make_unique<ThreadLogFile>(dir.path, "worker", ".log")));
    ThreadContext* guest = registry.addContext(key(3), std::make_unique<ThreadContext>("guest", 2, &shared));
    main->write("void a.B(1).run(){\n");
    main->write("}\n");
    worker->write("worker record\n");
    guest->write("guest record\n");
    ASSERT_TRUE(isOpenHere(mainLog));
    EXPECT_EQ(readFile(mainLog), "");

    registry.onThreadEnd(key(1));
    EXPECT_EQ(readFile(mainLog), "void a.B(1).run(){\n}\n");
    EXPECT_FALSE(isOpenHere(mainLog));

    registry.onThreadEnd(key(3));  // the shared file is not the context's to close
    shared.write("after guest ended\n");
    EXPECT_EQ(readFile(sharedLog), "");
    EXPECT_EQ(readFile(workerLog), "");

    registry.destroyAllContexts();
    EXPECT_EQ(readFile(workerLog), "worker record\n");
    EXPECT_FALSE(isOpenHere(workerLog));
  }
  EXPECT_EQ(readFile(sharedLog), "guest record\nafter guest ended\n");
}

TEST(ThreadRegistryTest, ConcurrentThreadsCreateFindAndEndTheirOwnContexts) {
  constexpr int kThreads = 8;
  constexpr int kRounds = 50;
  ThreadRegistry registry;
  std::vector<std::vector<std::string>> names(kThreads);
  std::vector<std::vector<int32_t>> numbers(kThreads);
  std::atomic<int> wrongLookups{0};
  std::atomic<bool> go{false};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      const ThreadKey self = key(100 + t);
      while (!go.load()) std::this_thread::yield();
      registry.onThreadStart(self, "worker");
      for (int round = 0; round < kRounds; ++round) {
        if (registry.findContext(self) != nullptr) ++wrongLookups;
        ThreadRegistry::NewThread thread = registry.registerThread(self);
        const std::string name = thread.name;
        const int32_t number = thread.number;
        ThreadContext* context =
            registry.addContext(self, std::make_unique<ThreadContext>(name, number));
        for (int i = 0; i < 20; ++i) {
          if (registry.findContext(self) != context) ++wrongLookups;
        }
        names[t].push_back(name);
        numbers[t].push_back(number);
        registry.onThreadEnd(self);
      }
    });
  }
  go = true;
  for (auto& thread : threads) thread.join();

  EXPECT_EQ(wrongLookups.load(), 0);
  std::set<std::string> allNames;
  std::vector<int32_t> allNumbers;
  for (int t = 0; t < kThreads; ++t) {
    allNames.insert(names[t].begin(), names[t].end());
    allNumbers.insert(allNumbers.end(), numbers[t].begin(), numbers[t].end());
    EXPECT_TRUE(std::is_sorted(numbers[t].begin(), numbers[t].end()));
  }
  std::set<std::string> expectedNames = {"worker"};
  for (int k = 2; k <= kThreads * kRounds; ++k) expectedNames.insert("worker(" + std::to_string(k) + ")");
  EXPECT_EQ(allNames, expectedNames);
  std::sort(allNumbers.begin(), allNumbers.end());
  for (int i = 0; i < kThreads * kRounds; ++i) ASSERT_EQ(allNumbers[i], i);
}

TEST(ThreadContextTest, CallStackHoldsFullWidthMethodRecords) {
  ThreadContext context("main", 7);
  EXPECT_TRUE(context.isCallStackEmpty());
  EXPECT_EQ(context.popCall(), 0u);
  EXPECT_EQ(context.callDepth(), 0u);

  // The two identifiers differ only above bit 31.
  const auto outer = reinterpret_cast<const MethodInfo*>(0x00007f1012345678);
  const auto inner = reinterpret_cast<const MethodInfo*>(0x00007f2012345678);
  context.pushCall(outer);
  context.pushCall(inner);
  EXPECT_EQ(context.callDepth(), 2u);
  EXPECT_EQ(context.topCall(), inner);
  EXPECT_EQ(context.popCall(), 1u);
  EXPECT_EQ(context.topCall(), outer);
  EXPECT_EQ(context.popCall(), 0u);
  EXPECT_TRUE(context.isCallStackEmpty());
  EXPECT_EQ(context.popCall(), 0u);
  EXPECT_EQ(context.callDepth(), 0u);

  context.enterStartMethod();
  context.enterStartMethod();
  context.leaveStartMethod();
  EXPECT_EQ(context.startDepth(), 1);
  EXPECT_EQ(context.threadNumber(), 7);
  EXPECT_EQ(context.name(), "main");
}

TEST(ThreadContextTest, PendingHeaderIsWrittenOnceAsItsOwnWriteBeforeTheFirstRecord) {
  TempDir dir;
  const std::string header = makeThreadHeaderLine(3, "worker");
  // Leaves room for all but one byte of the header: a header written on its
  // own overflows and goes out, while the record after it stays buffered.
  const std::string filler(LogFile::kBufferSize - header.size() + 1, 'f');
  {
    LogFile shared(dir.path, "shared", ".log");
    shared.write(filler);
    ThreadContext context("worker", 3, &shared);
    context.setPendingHeader(header);
    context.write("r1\n");
    EXPECT_EQ(readFile(dir.path + "shared.log"), filler + header);
    context.write("r2\n", 3);
  }
  EXPECT_EQ(readFile(dir.path + "shared.log"), filler + header + "r1\nr2\n");

  {
    // A thread that never logs never writes its header, so it leaves no file.
    ThreadContext idle("idle", 4, std::make_unique<ThreadLogFile>(dir.path, "idle", ".log"));
    idle.setPendingHeader(makeThreadHeaderLine(4, "idle"));
  }
  EXPECT_FALSE(fs::exists(dir.path + "idle.log"));
}

}  // namespace
}  // namespace kolvaprof
