#pragma once

#include <jvmti.h>

#include "capture/capture_engine.h"
#include "capture/frame_location.h"

namespace kolvaprof {

class CLoggingAgent;

// Catches calls with JVMTI method entry and exit events. Every thread that
// has them runs interpreted; each class is registered as it is prepared (or
// at its first event), and each event becomes an entry or exit of the core,
// answered through an EventCallSite.
class EventsEngine final : public CaptureEngine {
 public:
  // `locations`: what the VM can tell of a frame's location, asked once.
  EventsEngine(CLoggingAgent& core, jvmtiEnv* env, const LocationSupport& locations);
  EventsEngine(const EventsEngine&) = delete;
  EventsEngine& operator=(const EventsEngine&) = delete;

  bool prepare() override;
  void start(JNIEnv*) override {}
  void stop() override;  // at the end of the run, before the agent unbinds
  void onThreadEnd(ThreadKey) override {}

  // The events, handed over by the thin callbacks.
  void registerClass(jvmtiEnv* env, jclass klass);
  void onException(jvmtiEnv* env, JNIEnv* jni, jobject exception);
  void onMethodEntry(jvmtiEnv* env, JNIEnv* jni, jmethodID method);
  void onMethodExit(jvmtiEnv* env, JNIEnv* jni, jmethodID method, bool poppedByException);

  CLoggingAgent& loggingCore() const { return core; }
  const LocationSupport& locationSupport() const { return locations; }

 private:
  CLoggingAgent& core;
  jvmtiEnv* jvmti;
  LocationSupport locations;
};

}  // namespace kolvaprof
