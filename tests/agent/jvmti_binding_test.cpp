#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "agent/callbacks.h"
#include "agent/jvmti_logging_agent.h"
#include "agent/virtual_thread_events.h"
#include "support/fake_jvmti.h"
#include "support/test_agent.h"

namespace kolvaprof {
namespace {

using fake::FakeJvmti;
using ::testing::internal::CaptureStdout;
using ::testing::internal::GetCapturedStdout;

// The events the agent switches on at load, those of the method events
// engine, and every event in the order teardown switches them off.
const std::vector<jvmtiEvent> kCommonEvents = {JVMTI_EVENT_VM_INIT, JVMTI_EVENT_VM_DEATH,
                                               JVMTI_EVENT_THREAD_START, JVMTI_EVENT_THREAD_END};
const std::vector<jvmtiEvent> kMethodEvents = {JVMTI_EVENT_METHOD_ENTRY, JVMTI_EVENT_METHOD_EXIT,
                                               JVMTI_EVENT_EXCEPTION, JVMTI_EVENT_CLASS_PREPARE};
const std::vector<jvmtiEvent> kEventOrder = {
    JVMTI_EVENT_VM_INIT,      JVMTI_EVENT_VM_DEATH,     JVMTI_EVENT_METHOD_ENTRY,
    JVMTI_EVENT_METHOD_EXIT,  JVMTI_EVENT_EXCEPTION,    JVMTI_EVENT_THREAD_START,
    JVMTI_EVENT_THREAD_END,   JVMTI_EVENT_CLASS_PREPARE, JVMTI_EVENT_CLASS_FILE_LOAD_HOOK};

std::vector<std::string> eventLines(const std::string& mode,
                                    const std::vector<jvmtiEvent>& events = kEventOrder) {
  std::vector<std::string> lines;
  for (jvmtiEvent event : events) {
    lines.push_back("SetEventNotificationMode " + mode + " " + std::to_string(event) + " all");
  }
  return lines;
}

std::string workingDirectory() {
  char buffer[1024];
  return getcwd(buffer, sizeof buffer) != nullptr ? buffer : "";
}

bool sameBytes(const void* a, const void* b, std::size_t size) {
  return std::memcmp(a, b, size) == 0;
}

TEST(JvmtiBindingTest, CallbackTableSetsExactlyTheNineHandlers) {
  jvmtiEventCallbacks table = makeEventCallbacks();
  EXPECT_NE(table.VMInit, nullptr);
  EXPECT_NE(table.VMDeath, nullptr);
  EXPECT_NE(table.MethodEntry, nullptr);
  EXPECT_NE(table.MethodExit, nullptr);
  EXPECT_NE(table.Exception, nullptr);
  EXPECT_NE(table.ThreadStart, nullptr);
  EXPECT_NE(table.ThreadEnd, nullptr);
  EXPECT_NE(table.ClassPrepare, nullptr);
  EXPECT_NE(table.ClassFileLoadHook, nullptr);
  table.ClassFileLoadHook = nullptr;
  table.VMInit = nullptr;
  table.VMDeath = nullptr;
  table.MethodEntry = nullptr;
  table.MethodExit = nullptr;
  table.Exception = nullptr;
  table.ThreadStart = nullptr;
  table.ThreadEnd = nullptr;
  table.ClassPrepare = nullptr;
  const jvmtiEventCallbacks empty{};
  EXPECT_TRUE(sameBytes(&table, &empty, sizeof table)) << "an unexpected handler is set";
}

// The capability JVMTI 21 added sits right after the last one the build's
// header names; a VM that offers it gets it asked for, the two events
// switched on and the longer callback table.
TEST(JvmtiBindingTest, AsksForVirtualThreadsOnlyWhereOffered) {
  jvmtiCapabilities last{};
  last.can_generate_sampled_object_alloc_events = 1;
  std::uint32_t lastWords[4];
  std::memcpy(lastWords, &last, sizeof last);
  jvmtiCapabilities next{};
  setVirtualThreadsCapability(next);
  std::uint32_t nextWords[4];
  std::memcpy(nextWords, &next, sizeof next);
  EXPECT_EQ(nextWords[1], lastWords[1] << 1);
  EXPECT_TRUE(offersVirtualThreads(next));
  EXPECT_FALSE(offersVirtualThreads(last));

  for (const bool offered : {false, true}) {
    FakeJvmti fake;
    if (offered) setVirtualThreadsCapability(fake.potentialCapabilities);
    CaptureStdout();
    auto agent = std::make_unique<CJVMTILoggingAgent>(fake.vm(), testing::SteppingClock::shared());
    GetCapturedStdout();
    const auto has = [&](const std::string& line) {
      return std::find(fake.journal.begin(), fake.journal.end(), line) != fake.journal.end();
    };
    EXPECT_EQ(fake.addedCapabilities.size(), offered ? 2u : 1u);
    if (offered) {
      EXPECT_TRUE(sameBytes(&fake.addedCapabilities[1], &next, sizeof next));
    }
    EXPECT_EQ(has("SetEventNotificationMode enable 87 all"), offered);
    EXPECT_EQ(has("SetEventNotificationMode enable 88 all"), offered);
    EXPECT_TRUE(has("SetEventCallbacks table " +
                    std::to_string(offered ? sizeof(EventCallbacksWithVirtualThreads)
                                           : sizeof(jvmtiEventCallbacks))));
  }
}

TEST(JvmtiBindingTest, BindsToTheVmAndUnbindsInTheSameOrder) {
  FakeJvmti fake;
  CaptureStdout();
  auto agent = std::make_unique<CJVMTILoggingAgent>(fake.vm(), testing::SteppingClock::shared());
  EXPECT_EQ(GetCapturedStdout(), "profiler> version 1.5.1\nprofiler> " + workingDirectory() +
                                     "\nprofiler> initializing ..... \nprofiler> .... ok \n");

  std::vector<std::string> expected = {"GetEnv " + std::to_string(JVMTI_VERSION_1_0),
                                       "AddCapabilities", "GetPotentialCapabilities"};
  for (const auto& line : eventLines("enable", kCommonEvents)) expected.push_back(line);
  expected.push_back("SetEventCallbacks table " + std::to_string(sizeof(jvmtiEventCallbacks)));
  expected.push_back("GetPotentialCapabilities");
  expected.push_back("GetJLocationFormat");
  // The default settings choose the method events.
  agent->prepareCapture();
  expected.push_back("AddCapabilities");
  for (const auto& line : eventLines("enable", kMethodEvents)) expected.push_back(line);
  EXPECT_EQ(fake.journal, expected);

  jvmtiCapabilities common{};
  common.can_tag_objects = 1;
  common.can_get_line_numbers = 1;
  jvmtiCapabilities events{};
  events.can_access_local_variables = 1;
  events.can_generate_exception_events = 1;
  events.can_generate_method_entry_events = 1;
  events.can_generate_method_exit_events = 1;
  const auto capabilities = fake.addedCapabilities;
  ASSERT_EQ(capabilities.size(), 2u);
  EXPECT_TRUE(sameBytes(&capabilities[0], &common, sizeof common));
  EXPECT_TRUE(sameBytes(&capabilities[1], &events, sizeof events));

  const auto callbacks = fake.callbacksCalls;
  ASSERT_EQ(callbacks.size(), 1u);
  const jvmtiEventCallbacks installed = makeEventCallbacks();
  EXPECT_TRUE(callbacks[0].tableGiven);
  EXPECT_TRUE(sameBytes(&callbacks[0].table, &installed, sizeof installed));
  for (const auto& call : fake.eventModes) EXPECT_EQ(call.thread, nullptr);

  EXPECT_TRUE(agent->lineNumbers());
  EXPECT_TRUE(agent->bytecodeLocations());

  fake.clearJournal();
  CaptureStdout();
  agent.reset();
  EXPECT_EQ(GetCapturedStdout(), "profiler> exit\n");
  expected = {"SetEventCallbacks null 0"};
  for (const auto& line : eventLines("disable")) expected.push_back(line);
  EXPECT_EQ(fake.journal, expected);
  EXPECT_EQ(fake.outstandingBuffers.size(), 0u);
}

TEST(JvmtiBindingTest, LocationFlagsFollowTheVmAnswers) {
  struct Case {
    const char* name;
    jvmtiError potentialResult;
    unsigned canGetLineNumbers;
    jvmtiError formatResult;
    jvmtiJlocationFormat format;
    bool lineNumbers;
    bool bytecodeLocations;
  };
  // (Both present is covered by the binding test above.)
  const Case cases[] = {
      {"potential capabilities refused", JVMTI_ERROR_NOT_AVAILABLE, 1, JVMTI_ERROR_NONE,
       JVMTI_JLOCATION_JVMBCI, false, true},
      {"no line numbers, machine pc", JVMTI_ERROR_NONE, 0, JVMTI_ERROR_NONE,
       JVMTI_JLOCATION_MACHINEPC, false, false},
      {"location format refused", JVMTI_ERROR_NONE, 1, JVMTI_ERROR_INTERNAL,
       JVMTI_JLOCATION_JVMBCI, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeJvmti fake;
    fake.potentialCapabilitiesResult = c.potentialResult;
    fake.potentialCapabilities.can_get_line_numbers = c.canGetLineNumbers;
    fake.locationFormatResult = c.formatResult;
    fake.locationFormat = c.format;
    CaptureStdout();
    {
      CJVMTILoggingAgent agent(fake.vm(), testing::SteppingClock::shared());
      EXPECT_EQ(agent.lineNumbers(), c.lineNumbers);
      EXPECT_EQ(agent.bytecodeLocations(), c.bytecodeLocations);
    }
    const std::string output = GetCapturedStdout();
    EXPECT_NE(output.find("profiler> .... ok \n"), std::string::npos) << output;
  }
}

TEST(JvmtiBindingDeathTest, RefusalsEndTheProcessWithStatusTwo) {
  {
    FakeJvmti fake;
    fake.addCapabilitiesResult = JVMTI_ERROR_NOT_AVAILABLE;
    EXPECT_EXIT(CJVMTILoggingAgent{fake.vm()}, ::testing::ExitedWithCode(2),
                "^Unable to get necessary JVMTI capabilities\n$");
  }
  {
    FakeJvmti fake;
    fake.setEventCallbacksResult = JVMTI_ERROR_INTERNAL;
    EXPECT_EXIT(CJVMTILoggingAgent{fake.vm()}, ::testing::ExitedWithCode(2),
                "^Cannot set jvmti callbacks\n$");
  }
  {
    FakeJvmti fake;
    fake.getEnvResult = JNI_EVERSION;
    EXPECT_EXIT(CJVMTILoggingAgent{fake.vm()}, ::testing::ExitedWithCode(2), ".+");
  }
}

}  // namespace
}  // namespace kolvaprof
