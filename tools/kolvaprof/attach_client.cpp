#include "kolvaprof/attach_client.h"

#include <fcntl.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

#include "kolvaprof/command_line.h"

namespace kolvaprof::command {

namespace {

class UniqueFd {
 public:
  explicit UniqueFd(int fd = -1) : fd_(fd) {}
  ~UniqueFd() {
    if (fd_ >= 0) ::close(fd_);
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  int get() const { return fd_; }
  void reset(int fd) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }

 private:
  int fd_;
};

std::string proc(int pid, const std::string& what) {
  return "/proc/" + std::to_string(pid) + "/" + what;
}

std::optional<std::string> readWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::vector<std::string> splitNul(const std::string& text) {
  std::vector<std::string> parts;
  std::string part;
  for (char c : text) {
    if (c == '\0') {
      parts.push_back(part);
      part.clear();
    } else {
      part += c;
    }
  }
  if (!part.empty()) parts.push_back(part);
  return parts;
}

std::vector<std::string> splitBlanks(const std::string& text) {
  std::istringstream in(text);
  std::vector<std::string> words;
  for (std::string word; in >> word;) words.push_back(word);
  return words;
}

// The value of a "Name:\t..." line of /proc/<pid>/status, split at blanks.
std::vector<std::string> statusField(const std::string& status, const std::string& name) {
  std::istringstream in(status);
  for (std::string line; std::getline(in, line);)
    if (line.rfind(name + ":", 0) == 0) return splitBlanks(line.substr(name.size() + 1));
  return {};
}

std::string userName(uid_t uid) {
  if (const passwd* entry = ::getpwuid(uid)) return entry->pw_name;
  return "uid " + std::to_string(uid);
}

std::string errorText(int error) { return std::strerror(error); }

bool isSocketOf(const std::string& path, uid_t owner) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISSOCK(info.st_mode) && info.st_uid == owner;
}

// The JDK's home: the folder above lib/ (or jre/lib/) that holds libjvm.so,
// found in the process's mappings.
std::string javaHomeFromMaps(const std::string& maps) {
  std::istringstream in(maps);
  for (std::string line; std::getline(in, line);) {
    const std::size_t slash = line.find('/');
    if (slash == std::string::npos) continue;
    std::string path = line.substr(slash);
    if (path.size() < 10 || path.compare(path.size() - 10, 10, "/libjvm.so") != 0) continue;
    // <home>/lib/server/libjvm.so, <home>/jre/lib/amd64/server/libjvm.so
    std::size_t lib = path.rfind("/lib/");
    if (lib == std::string::npos) return "/";
    std::string home = path.substr(0, lib);
    if (home.size() >= 4 && home.compare(home.size() - 4, 4, "/jre") == 0)
      home.erase(home.size() - 4);
    return home.empty() ? "/" : home;
  }
  return "";
}

std::optional<int> versionFromRelease(const std::string& release) {
  std::istringstream in(release);
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("JAVA_VERSION=", 0) != 0) continue;
    std::string value = line.substr(13);
    value.erase(std::remove(value.begin(), value.end(), '"'), value.end());
    return javaFeatureVersion(value);
  }
  return std::nullopt;
}

std::vector<std::string> optionsOf(int pid) {
  std::vector<std::string> options;
  if (auto cmdline = readWholeFile(proc(pid, "cmdline"))) options = splitNul(*cmdline);
  // The launcher also takes options from these variables.
  if (auto environ = readWholeFile(proc(pid, "environ")))
    for (const std::string& entry : splitNul(*environ))
      for (const char* name : {"JAVA_TOOL_OPTIONS=", "JDK_JAVA_OPTIONS=", "_JAVA_OPTIONS="})
        if (entry.rfind(name, 0) == 0)
          for (const std::string& word : splitBlanks(entry.substr(std::strlen(name))))
            options.push_back(word);
  return options;
}

// Asks the JVM to open its attach socket: a trigger file, then SIGQUIT. A
// JVM whose listener runs already has the socket and gets no signal.
void startAttachListener(const JvmProcess& jvm, const std::string& socketPath) {
  if (isSocketOf(socketPath, jvm.uid)) return;
  const std::string name = ".attach_pid" + std::to_string(jvm.nsPid);
  std::string trigger = proc(jvm.pid, "cwd/") + name;
  UniqueFd fd(::open(trigger.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0660));
  if (fd.get() < 0 && errno == EEXIST) fd.reset(::open(trigger.c_str(), O_WRONLY | O_CLOEXEC));
  if (fd.get() < 0) {
    trigger = jvm.root + "/tmp/" + name;
    fd.reset(::open(trigger.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0660));
  }
  if (fd.get() < 0)
    throw CommandError("cannot create the attach trigger " + trigger + ": " + errorText(errno));
  struct Remove {
    std::string path;
    ~Remove() { ::unlink(path.c_str()); }
  } removeTrigger{trigger};

  if (::kill(jvm.pid, SIGQUIT) != 0)
    throw CommandError("cannot signal process " + std::to_string(jvm.pid) + ": " + errorText(errno));
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  auto pause = std::chrono::milliseconds(20);
  while (!isSocketOf(socketPath, jvm.uid)) {
    if (::kill(jvm.pid, 0) != 0)
      throw CommandError("process " + std::to_string(jvm.pid) + " ended while attaching");
    if (std::chrono::steady_clock::now() > deadline)
      throw CommandError("JVM " + std::to_string(jvm.pid) +
                         " did not open its attach socket within 10 s (attach switched off, or the VM is not ready)");
    std::this_thread::sleep_for(pause);
    pause = std::min(pause * 2, std::chrono::milliseconds(200));
  }
}

void writeAll(int fd, const std::string& data) {
  std::size_t done = 0;
  while (done < data.size()) {
    ssize_t n = ::send(fd, data.data() + done, data.size() - done, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw CommandError("cannot send the attach request: " + errorText(errno));
    done += static_cast<std::size_t>(n);
  }
}

std::string readAll(int fd, int timeoutSeconds, int pid) {
  std::string text;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
  char buffer[8192];
  for (;;) {
    pollfd waiting{fd, POLLIN, 0};
    int ready = ::poll(&waiting, 1, 200);
    if (ready < 0 && errno != EINTR) throw CommandError("attach reply: " + errorText(errno));
    if (ready <= 0) {
      if (std::chrono::steady_clock::now() > deadline)
        throw CommandError("JVM " + std::to_string(pid) + " did not answer within " +
                           std::to_string(timeoutSeconds) + " s");
      continue;
    }
    ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw CommandError("attach reply: " + errorText(errno));
    if (n == 0) return text;
    text.append(buffer, static_cast<std::size_t>(n));
  }
}

}  // namespace

std::optional<int> javaFeatureVersion(const std::string& version) {
  std::size_t end = 0;
  while (end < version.size() && std::isdigit(static_cast<unsigned char>(version[end]))) ++end;
  if (end == 0 || end > 4) return std::nullopt;
  int first = std::stoi(version.substr(0, end));
  if (first != 1) return first;
  // 1.8.0_292: the old scheme, the feature release second
  if (end >= version.size() || version[end] != '.') return std::nullopt;
  std::size_t start = end + 1, stop = start;
  while (stop < version.size() && std::isdigit(static_cast<unsigned char>(version[stop]))) ++stop;
  if (stop == start || stop - start > 4) return std::nullopt;
  return std::stoi(version.substr(start, stop - start));
}

bool attachDisabled(const std::vector<std::string>& options) {
  bool disabled = false;
  for (const std::string& option : options) {
    if (option == "-XX:+DisableAttachMechanism") disabled = true;
    if (option == "-XX:-DisableAttachMechanism") disabled = false;
  }
  return disabled;
}

JvmProcess inspectJvm(int pid) {
  const std::string id = std::to_string(pid);
  JvmProcess jvm;
  jvm.pid = pid;
  auto status = readWholeFile(proc(pid, "status"));
  if (pid <= 0 || !status || (::kill(pid, 0) != 0 && errno == ESRCH))
    throw CommandError("no such process: " + id);

  std::vector<std::string> uids = statusField(*status, "Uid");
  if (uids.size() < 2) throw CommandError("cannot read the owner of process " + id);
  jvm.uid = static_cast<uid_t>(std::stoul(uids[1]));
  const uid_t self = ::geteuid();
  if (jvm.uid != self && self != 0)
    throw CommandError("process " + id + " belongs to user " + userName(jvm.uid) +
                       "; run kolvaprof as that user");

  std::vector<std::string> nsPids = statusField(*status, "NSpid");
  jvm.nsPid = nsPids.empty() ? pid : std::stoi(nsPids.back());
  jvm.root = proc(pid, "root");
  char own[64] = {}, theirs[64] = {};
  if (::readlink("/proc/self/ns/mnt", own, sizeof own - 1) > 0 &&
      ::readlink(proc(pid, "ns/mnt").c_str(), theirs, sizeof theirs - 1) > 0)
    jvm.sameMountNamespace = std::strcmp(own, theirs) == 0;

  auto maps = readWholeFile(proc(pid, "maps"));
  if (!maps) throw CommandError("cannot read the memory map of process " + id + ": " + errorText(errno));
  jvm.javaHome = javaHomeFromMaps(*maps);
  if (jvm.javaHome.empty()) throw CommandError("process " + id + " is not a Java VM (no libjvm.so)");

  if (auto release = readWholeFile(jvm.root + jvm.javaHome + "/release"))
    jvm.featureVersion = versionFromRelease(*release);
  if (jvm.featureVersion && *jvm.featureVersion < kOldestSupportedJdk)
    throw CommandError("JVM " + id + " runs JDK " + std::to_string(*jvm.featureVersion) +
                       " (" + jvm.javaHome + "); kolvaprof needs JDK " +
                       std::to_string(kOldestSupportedJdk) + " or later");

  if (attachDisabled(optionsOf(pid)))
    throw CommandError("JVM " + id + " refuses attaching (started with -XX:+DisableAttachMechanism)");
  return jvm;
}

AttachReply parseAttachReply(const std::string& text) {
  AttachReply reply;
  const std::size_t end = text.find('\n');
  const std::string first = text.substr(0, end);
  try {
    std::size_t used = 0;
    reply.status = std::stoi(first, &used);
    if (used != first.size()) reply.status = -1;
  } catch (const std::exception&) {
    reply.status = -1;
  }
  reply.output = reply.status == -1 ? text : (end == std::string::npos ? "" : text.substr(end + 1));
  return reply;
}

LoadResult parseLoadReply(const AttachReply& reply) {
  LoadResult result;
  std::string message = reply.output;
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r')) message.pop_back();
  // JDK 17 answers the agent's value on a line of its own, later JDKs as
  // "return code: N"; a library that cannot be loaded or has no
  // Agent_OnAttach gets a message instead, after a value on JDK 17.
  std::string first = message.substr(0, message.find('\n'));
  std::string rest = first.size() < message.size() ? message.substr(first.size() + 1) : "";
  static const std::string prefix = "return code: ";
  if (first.rfind(prefix, 0) == 0) first = first.substr(prefix.size());
  std::optional<int> value;
  try {
    std::size_t used = 0;
    int parsed = std::stoi(first, &used);
    if (used == first.size()) value = parsed;
  } catch (const std::exception&) {
  }
  if (reply.status == 0 && value && rest.empty()) {
    result.agentStatus = value;
    return result;
  }
  result.message = value ? rest : message;
  return result;
}

AttachReply sendAttachCommand(const JvmProcess& jvm, const std::string& command,
                              const std::vector<std::string>& args, int timeoutSeconds) {
  const std::string socketPath = jvm.root + "/tmp/.java_pid" + std::to_string(jvm.nsPid);
  startAttachListener(jvm, socketPath);

  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (socketPath.size() >= sizeof address.sun_path)
    throw CommandError("attach socket path too long: " + socketPath);
  std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);
  UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (fd.get() < 0) throw CommandError("socket: " + errorText(errno));
  if (::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
    throw CommandError("cannot connect to JVM " + std::to_string(jvm.pid) + " at " + socketPath +
                       ": " + errorText(errno));

  std::string request("1", 2);  // protocol version 1, NUL included
  request.append(command).push_back('\0');
  for (std::size_t i = 0; i < 3; ++i) {
    if (i < args.size()) request.append(args[i]);
    request.push_back('\0');
  }
  writeAll(fd.get(), request);
  return parseAttachReply(readAll(fd.get(), timeoutSeconds, jvm.pid));
}

LoadResult loadAgent(const JvmProcess& jvm, const std::string& library, const std::string& options) {
  LoadResult result = parseLoadReply(sendAttachCommand(jvm, "load", {library, "true", options}));
  if (!result.agentStatus)
    throw CommandError("JVM " + std::to_string(jvm.pid) + " could not load " + library +
                       (result.message.empty() ? std::string() : ": " + result.message));
  return result;
}

}  // namespace kolvaprof::command
