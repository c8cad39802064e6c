#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "agent/jvmti_logging_agent.h"
#include "events/events_engine.h"
#include "registry/method_info.h"
#include "registry/method_registry.h"
#include "support/fake_jvmti.h"
#include "support/test_agent.h"

namespace kolvaprof {
namespace {

using fake::FakeJvmti;
using ::testing::internal::CaptureStdout;
using ::testing::internal::GetCapturedStdout;

constexpr jint kPublic = 0x0001;
constexpr jint kStatic = 0x0008;

// One agent per test: its destructor empties the process-wide registry, and
// the fake hands out identifiers that no other test has seen.
class ClassRegistrationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CaptureStdout();
    agent = std::make_unique<CJVMTILoggingAgent>(fake.vm(), testing::SteppingClock::shared());
    Settings settings = defaultSettings(agent->startTimeStamp());
    settings.options.verbose = true;
    agent->configure(settings);
    events = std::make_unique<EventsEngine>(*agent, fake.env(), LocationSupport{});
    GetCapturedStdout();
  }

  void TearDown() override {
    CaptureStdout();
    events.reset();
    agent.reset();
    GetCapturedStdout();
    EXPECT_EQ(fake.deallocations, fake.allocations) << "JVMTI buffers not given back";
    EXPECT_TRUE(fake.outstandingBuffers.empty());
    EXPECT_EQ(fake.strayDeallocations, 0u) << "Deallocate of a buffer not handed out";
  }

  std::string registerCapturing(jclass klass) {
    CaptureStdout();
    events->registerClass(fake.env(), klass);
    return GetCapturedStdout();
  }

  FakeJvmti fake;
  std::unique_ptr<CJVMTILoggingAgent> agent;
  std::unique_ptr<EventsEngine> events;
};

struct ExpectedRecord {
  jmethodID method;
  std::string packageName, className, methodName, parameters, returnType;
  bool isStatic;
};

void expectRecord(const ExpectedRecord& e) {
  SCOPED_TRACE(e.className + "." + e.methodName);
  const MethodInfo* info = findMethodInfo(e.method);
  ASSERT_NE(info, nullptr);
  EXPECT_EQ(info->getPackageName(), e.packageName);
  EXPECT_EQ(info->getClassName(), e.className);
  EXPECT_EQ(info->getMethodName(), e.methodName);
  EXPECT_EQ(info->getParameterList(), e.parameters);
  EXPECT_EQ(info->getReturnType(), e.returnType);
  EXPECT_FALSE(info->isExcluded());
  EXPECT_FALSE(info->isStartMethod());
  EXPECT_EQ(info->isStatic(), e.isStatic);
}

TEST_F(ClassRegistrationTest, StoresOneRecordPerMethodUnderTheSplitName) {
  const jclass foo = fake.addClass("LFoo;");
  const jmethodID fooInit = fake.addMethod(foo, "<init>", "()V", kPublic);
  const jmethodID fooRun = fake.addMethod(foo, "run", "(ILa/b/Name;)Z", kPublic | kStatic);
  const jmethodID fooClinit = fake.addMethod(foo, "<clinit>", "()V", kStatic);
  const jclass inner = fake.addClass("La/b/Outer$Inner;");
  const jmethodID innerGet = fake.addMethod(inner, "get", "([JLjava/lang/String;)[I", kPublic);

  EXPECT_EQ(registerCapturing(foo), "profiler> register class Foo\n");
  EXPECT_EQ(registerCapturing(inner), "profiler> register class a.b.Outer$Inner\n");

  const ExpectedRecord expected[] = {
      {fooInit, "", "Foo", "<init>", "", "void", false},
      {fooRun, "", "Foo", "run", "int,a.b.Name", "boolean", true},
      {fooClinit, "", "Foo", "<clinit>", "", "void", true},
      {innerGet, "a.b", "Outer$Inner", "get", "long[],java.lang.String", "int[]", false},
  };
  for (const auto& e : expected) expectRecord(e);
  EXPECT_EQ(FakeJvmti::classOf(foo).methodListings, 1);
  EXPECT_EQ(FakeJvmti::classOf(inner).methodListings, 1);
}

TEST_F(ClassRegistrationTest, RegistersEachClassOnce) {
  const jclass twice = fake.addClass("La/b/Twice;");
  const jmethodID first = fake.addMethod(twice, "first", "()V");
  // The same name from another class loader: another class, with methods of
  // its own.
  const jclass sameName = fake.addClass("La/b/Twice;");
  const jmethodID second = fake.addMethod(sameName, "second", "()V", kStatic);

  EXPECT_EQ(registerCapturing(twice), "profiler> register class a.b.Twice\n");
  EXPECT_EQ(registerCapturing(twice), "");
  EXPECT_EQ(registerCapturing(sameName), "profiler> register class a.b.Twice\n");
  EXPECT_EQ(registerCapturing(sameName), "");
  expectRecord({first, "a.b", "Twice", "first", "", "void", false});
  expectRecord({second, "a.b", "Twice", "second", "", "void", true});
}

TEST_F(ClassRegistrationTest, FailingQueriesSkipOnlyWhatTheyConcern) {
  // No signature: nothing is known about the class, so nothing is kept and a
  // later attempt starts afresh.
  const jclass unnamed = fake.addClass("Lx/Unnamed;");
  const jmethodID unnamedMethod = fake.addMethod(unnamed, "m", "()V");
  FakeJvmti::classOf(unnamed).failSignature = true;
  EXPECT_EQ(registerCapturing(unnamed), "");
  EXPECT_EQ(FakeJvmti::classOf(unnamed).methodListings, 0);
  EXPECT_EQ(findMethodInfo(unnamedMethod), nullptr);
  FakeJvmti::classOf(unnamed).failSignature = false;
  EXPECT_EQ(registerCapturing(unnamed), "profiler> register class x.Unnamed\n");
  EXPECT_NE(findMethodInfo(unnamedMethod), nullptr);

  // No method list: the class cannot be known either.
  const jclass unlisted = fake.addClass("Lx/Unlisted;");
  const jmethodID unlistedMethod = fake.addMethod(unlisted, "m", "()V");
  FakeJvmti::classOf(unlisted).failMethods = true;
  EXPECT_EQ(registerCapturing(unlisted), "");
  EXPECT_EQ(findMethodInfo(unlistedMethod), nullptr);
  FakeJvmti::classOf(unlisted).failMethods = false;
  EXPECT_EQ(registerCapturing(unlisted), "profiler> register class x.Unlisted\n");
  EXPECT_NE(findMethodInfo(unlistedMethod), nullptr);

  const jclass mixed = fake.addClass("Lx/Mixed;");
  const jmethodID noName = fake.addMethod(mixed, "noName", "()V", kStatic);
  const jmethodID noModifiers = fake.addMethod(mixed, "noModifiers", "(I)V", kStatic);
  const jmethodID fine = fake.addMethod(mixed, "fine", "(J)J", kStatic);
  FakeJvmti::methodOf(noName).failName = true;
  FakeJvmti::methodOf(noModifiers).failModifiers = true;
  EXPECT_EQ(registerCapturing(mixed), "profiler> register class x.Mixed\n");
  EXPECT_EQ(findMethodInfo(noName), nullptr);
  EXPECT_EQ(findMethodInfo(noModifiers), nullptr);
  expectRecord({fine, "x", "Mixed", "fine", "long", "long", true});
}

TEST_F(ClassRegistrationTest, ConcurrentRegistrationStoresEachClassOnce) {
  constexpr int kClasses = 8;
  constexpr int kMethodsPerClass = 4;
  constexpr int kThreads = 6;
  std::vector<jclass> classes;
  std::vector<ExpectedRecord> expected;
  for (int c = 0; c < kClasses; ++c) {
    const std::string name = "C" + std::to_string(c);
    classes.push_back(fake.addClass("Lcon/cur/" + name + ";"));
    for (int m = 0; m < kMethodsPerClass; ++m) {
      const std::string methodName = "m" + std::to_string(m);
      const jint modifiers = m % 2 == 0 ? kStatic : kPublic;
      expected.push_back({fake.addMethod(classes.back(), methodName, "(I)V", modifiers), "con.cur",
                          name, methodName, "int", "void", modifiers == kStatic});
    }
  }

  // Threads pair up on the same class at the same moment; a thread whose
  // registerClass returns must find every record of that class, since lazy
  // registration drops the event otherwise.
  // A VM slow to list methods lets the threads of a pair arrive together.
  fake.onClassMethods = [](jclass) { std::this_thread::sleep_for(std::chrono::milliseconds(5)); };
  std::atomic<int> incomplete{0};
  std::atomic<int> missingAfterRegistration{0};
  std::atomic<int> waiting{kThreads};
  auto worker = [&](int t) {
    --waiting;
    while (waiting.load() > 0) std::this_thread::yield();
    for (int round = 0; round < 2; ++round) {
      for (int i = 0; i < kClasses; ++i) {
        const int c = (t / 2 + i) % kClasses;
        for (int m = 0; m < kMethodsPerClass; ++m) {
          const ExpectedRecord& e = expected[c * kMethodsPerClass + m];
          const MethodInfo* info = findMethodInfo(e.method);
          if (info != nullptr && (info->getMethodName() != e.methodName ||
                                  info->getClassName() != e.className ||
                                  info->isStatic() != e.isStatic)) {
            ++incomplete;
          }
        }
        events->registerClass(fake.env(), classes[c]);
        for (int m = 0; m < kMethodsPerClass; ++m) {
          if (findMethodInfo(expected[c * kMethodsPerClass + m].method) == nullptr) {
            ++missingAfterRegistration;
          }
        }
      }
    }
  };
  CaptureStdout();
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) threads.emplace_back(worker, t);
  for (auto& thread : threads) thread.join();
  const std::string output = GetCapturedStdout();

  EXPECT_EQ(incomplete.load(), 0);
  EXPECT_EQ(missingAfterRegistration.load(), 0);
  for (int c = 0; c < kClasses; ++c) {
    const std::string line = "profiler> register class con.cur.C" + std::to_string(c) + "\n";
    const auto first = output.find(line);
    EXPECT_NE(first, std::string::npos) << line;
    EXPECT_EQ(output.find(line, first + 1), std::string::npos) << line;
  }
  for (const auto& e : expected) expectRecord(e);
}

}  // namespace
}  // namespace kolvaprof
