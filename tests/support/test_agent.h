#pragma once

#include <atomic>
#include <cstdint>
#include <ctime>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "config/settings.h"
#include "core/call_site.h"
#include "core/clock.h"
#include "core/logging_agent.h"

namespace kolvaprof::testing {

// Record times 1000, 2000, 3000, ... nanoseconds, one step per reading.
class SteppingRunClock : public RunClock {
 public:
  int64_t sinceStart() const override { return next.fetch_add(1000); }

 private:
  mutable std::atomic<int64_t> next{1000};
};

// A clock that is one second later at every reading and never sleeps, so that
// an agent's shutdown wait costs nothing; its record times step too, so that
// records compare byte for byte.
class SteppingClock : public Clock {
 public:
  explicit SteppingClock(std::time_t start) : next(start) {}
  std::time_t now() const override { return next.fetch_add(1); }
  void pause() const override {}
  std::unique_ptr<RunClock> startRunClock() const override { return std::make_unique<SteppingRunClock>(); }

  static const SteppingClock& shared() {
    static const SteppingClock* clock = new SteppingClock(std::time(nullptr));
    return *clock;
  }

 private:
  mutable std::atomic<std::time_t> next;
};

using SettingLines = std::vector<std::pair<std::string, std::string>>;

// The logging core without a VM, on the stepping clock.
class TestAgent : public CLoggingAgent {
 public:
  explicit TestAgent(const Clock& clock = SteppingClock::shared()) : CLoggingAgent(clock) {}

  using CLoggingAgent::configure;

  // Acts on these settings as if a settings file held them, in this order.
  void configure(const SettingLines& lines) {
    Settings settings = defaultSettings(startTimeStamp());
    for (const auto& [key, value] : lines) applySetting(settings, startTimeStamp(), key, value);
    CLoggingAgent::configure(settings);
  }
};

// A call as an engine would hand it over: the answers are whatever the test
// has put into the public fields (by default: no caller, no location, no
// receiver).
class TestCallSite final : public CallSite {
 public:
  explicit TestCallSite(ThreadKey thread, int64_t receiver = 0)
      : CallSite(thread), receiver(receiver) {}

  const MethodInfo* callerMethod() override { return caller; }
  std::string callerLocation(CallerLocation what) override {
    return what == CallerLocation::BytecodeIndex ? callerBytecodeIndex : callerSourceLine;
  }
  int64_t receiverTag() override {
    ++receiverQuestions;
    return receiver;
  }

  int64_t receiver;
  const MethodInfo* caller = nullptr;
  std::string callerBytecodeIndex;
  std::string callerSourceLine;
  int receiverQuestions = 0;
};

}  // namespace kolvaprof::testing
