#pragma once

#include <jvmti.h>

#include "format/run_manifest.h"

namespace kolvaprof {

// The VM for run.json: vendor, name and version from the properties the VM
// sets before any Java code runs (while the agent loads), its command line
// and its process id. What cannot be read stays empty.
RunManifest::Jvm describeVm(jvmtiEnv* jvmti);

}  // namespace kolvaprof
