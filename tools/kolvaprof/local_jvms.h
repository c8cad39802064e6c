#pragma once

// The JVMs of this machine that kolvaprof can see: those that publish their
// performance data file (<tmp>/hsperfdata_<user>/<pid>) and processes whose
// executable is named java.

#include <string>
#include <vector>

namespace kolvaprof::command {

struct LocalJvm {
  int pid = 0;
  std::string mainClass;  // the class, `-jar file`, `-m module/class`; "?" if none
};

// What a java command line runs: the main class, "-jar app.jar" or
// "-m module/class" (a source file launch shows the file).
std::string mainClassOf(const std::vector<std::string>& commandLine);

// Running JVMs sorted by pid.
std::vector<LocalJvm> localJvms();

}  // namespace kolvaprof::command
