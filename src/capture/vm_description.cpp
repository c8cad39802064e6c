#include "capture/vm_description.h"

#include <unistd.h>

#include <fstream>
#include <iterator>
#include <string>

#include "capture/jvmti_buffer.h"

namespace kolvaprof {
namespace {

std::string property(jvmtiEnv* jvmti, const char* name) {
  JvmtiBuffer<char> value(jvmti);
  if (jvmti->GetSystemProperty(name, value.out()) != JVMTI_ERROR_NONE || value.get() == nullptr) return {};
  return value.get();
}

// The arguments as the process was started, launcher options included.
std::vector<std::string> commandLine() {
  std::ifstream in("/proc/self/cmdline", std::ios::binary);
  const std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<std::string> arguments;
  for (std::size_t at = 0; at < all.size();) {
    const std::size_t end = all.find('\0', at);
    arguments.push_back(all.substr(at, end == std::string::npos ? std::string::npos : end - at));
    if (end == std::string::npos) break;
    at = end + 1;
  }
  return arguments;
}

}  // namespace

RunManifest::Jvm describeVm(jvmtiEnv* jvmti) {
  RunManifest::Jvm jvm;
  jvm.vendor = property(jvmti, "java.vm.vendor");
  jvm.name = property(jvmti, "java.vm.name");
  jvm.version = property(jvmti, "java.vm.version");
  jvm.commandLine = commandLine();
  jvm.pid = static_cast<int64_t>(::getpid());
  return jvm;
}

}  // namespace kolvaprof
