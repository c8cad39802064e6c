#pragma once

// HotSpot's attach mechanism, spoken natively: no JDK tools are needed on the
// machine. A JVM opens its attach socket, <tmp>/.java_pid<pid>, when it gets
// SIGQUIT while a trigger file, .attach_pid<pid>, exists in its working
// directory or in <tmp>; a request is then the protocol version, the command
// and three arguments, each ending in a NUL byte, and the reply is the
// command's status on its first line followed by its output. Paths are taken
// through /proc/<pid>/root and pids as the target's own namespace numbers
// them, so that a JVM in a container is reached as well.

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

namespace kolvaprof::command {

// What decides whether and how a process can be attached to. inspectJvm
// fills it or throws a CommandError that says why not.
struct JvmProcess {
  int pid = 0;       // as this process sees it
  int nsPid = 0;     // as the JVM sees itself (its pid namespace)
  uid_t uid = 0;     // effective user of the JVM
  std::string root;  // /proc/<pid>/root: the JVM's file system
  bool sameMountNamespace = true;
  std::string javaHome;               // in the JVM's file system; empty if unknown
  std::optional<int> featureVersion;  // 17 for 17.0.9; none if unknown
};

inline constexpr int kOldestSupportedJdk = 17;

// Checks, in this order: the process exists, it runs as this user (or this
// user is root), it is a HotSpot JVM, of JDK 17 or later, whose attach
// mechanism was not switched off.
JvmProcess inspectJvm(int pid);

// 17 for "17.0.9", 8 for "1.8.0_292", 25 for "25"; none for anything else.
std::optional<int> javaFeatureVersion(const std::string& version);

// Whether these JVM options (the command line, then JAVA_TOOL_OPTIONS and the
// like) leave the attach mechanism off: the last -XX:±DisableAttachMechanism
// decides.
bool attachDisabled(const std::vector<std::string>& options);

struct AttachReply {
  int status = -1;      // the command's status, the reply's first line
  std::string output;   // the rest
};

// Sends one command with up to three arguments and reads the whole reply.
// Starts the JVM's attach listener first when its socket is not there yet.
// Throws CommandError when the JVM cannot be reached or does not answer.
AttachReply sendAttachCommand(const JvmProcess& jvm, const std::string& command,
                              const std::vector<std::string>& args, int timeoutSeconds = 60);

// The reply's text as sent by the JVM: the status line, then the output.
AttachReply parseAttachReply(const std::string& text);

// What a `load` reply says: the value Agent_OnAttach returned, or, when the
// VM could not load the library or call it, the VM's message.
struct LoadResult {
  std::optional<int> agentStatus;
  std::string message;
};
LoadResult parseLoadReply(const AttachReply& reply);

// Loads `library` (an absolute path in the JVM's file system) into the JVM
// with `options`: Agent_OnAttach runs in it.
LoadResult loadAgent(const JvmProcess& jvm, const std::string& library, const std::string& options);

}  // namespace kolvaprof::command
