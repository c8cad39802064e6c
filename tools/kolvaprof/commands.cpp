#include "kolvaprof/commands.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "kolvaprof/attach_client.h"
#include "kolvaprof/local_jvms.h"
#include "kolvaprof/run_directory.h"

namespace fs = std::filesystem;

namespace kolvaprof::command {

namespace {

const char* const kLibraryName = "libkolvaprof.so";

std::string readText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw CommandError("cannot read " + path + ": " + std::strerror(errno));
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// The agent library: --lib, else beside the executable (the build tree),
// else in the installed library folder relative to it and then absolute.
std::string findLibrary(const std::string& given) {
  if (!given.empty()) {
    std::error_code error;
    fs::path path = fs::absolute(given, error);
    if (error || !fs::is_regular_file(path, error)) throw CommandError("no agent library at " + given);
    return path.lexically_normal().string();
  }
  std::error_code error;
  const fs::path self = fs::read_symlink("/proc/self/exe", error);
  std::vector<fs::path> candidates;
  if (!error) {
    candidates.push_back(self.parent_path() / kLibraryName);
    candidates.push_back(self.parent_path().parent_path() / "lib" / "kolvaprof" / kLibraryName);
  }
  candidates.emplace_back(KOLVAPROF_INSTALLED_LIBRARY);
  for (const fs::path& candidate : candidates)
    if (fs::is_regular_file(candidate, error)) return candidate.lexically_normal().string();
  throw CommandError(std::string("cannot find ") + kLibraryName + " beside kolvaprof nor at " +
                     KOLVAPROF_INSTALLED_LIBRARY + "; give it with --lib");
}

// A settings file of our own, removed when it goes out of scope.
class TemporaryFile {
 public:
  // Made in `folder` with mode 0644: the JVM may run as another user.
  TemporaryFile(const std::string& folder, const std::string& content) {
    std::string name = folder + "/kolvaprof-settings-XXXXXX";
    int fd = ::mkstemp(name.data());
    if (fd < 0) throw CommandError("cannot create a settings file in " + folder + ": " + std::strerror(errno));
    path_ = name;
    ::fchmod(fd, 0644);
    std::size_t done = 0;
    while (done < content.size()) {
      ssize_t n = ::write(fd, content.data() + done, content.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        ::close(fd);
        throw CommandError("cannot write " + path_ + ": " + std::strerror(errno));
      }
      done += static_cast<std::size_t>(n);
    }
    ::close(fd);
  }
  ~TemporaryFile() {
    if (!path_.empty() && !kept_) ::unlink(path_.c_str());
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;
  const std::string& path() const { return path_; }
  // The file outlives this process (an attach that `kolvaprof detach` ends).
  void keep() { kept_ = true; }

 private:
  std::string path_;
  bool kept_ = false;
};

// The settings the agent gets: the file (or profiler.ini here, when there is
// one and no file is given) merged with the pairs.
std::string settingsText(const SettingsSource& source) {
  for (const std::string& key : unknownKeys(source.pairs))
    std::cerr << "kolvaprof: unknown setting " << key << " (the agent ignores it)\n";
  std::string file = source.file;
  std::error_code error;
  if (file.empty() && fs::is_regular_file("profiler.ini", error)) file = "profiler.ini";
  return mergeSettings(file.empty() ? std::string() : readText(file), source.pairs);
}

std::string temporaryFolder() {
  const char* tmp = std::getenv("TMPDIR");
  return tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
}

// --- run ----------------------------------------------------------------

volatile sig_atomic_t childToSignal = 0;

void forwardSignal(int signal) {
  if (childToSignal > 0) ::kill(childToSignal, signal);
}

int runProgram(const CommandLine& line) {
  const std::string library = findLibrary(line.library);
  const std::string settings = settingsText(line.settings);
  TemporaryFile settingsFile(temporaryFolder(), settings);
  const std::string logBase = lastSettingValue(settings, "LogfileDirectory").value_or(".");
  const RunDirectoryWatch watch(fs::absolute(logBase).lexically_normal().string());

  std::vector<std::string> command = javaCommandWithAgent(line.javaCommand, library, settingsFile.path());
  std::vector<char*> argv;
  for (std::string& word : command) argv.push_back(word.data());
  argv.push_back(nullptr);

  // Ctrl-C and Ctrl-\ reach the program from the terminal; the program
  // decides, and kolvaprof waits for it. A SIGTERM or SIGHUP sent to
  // kolvaprof alone is passed on.
  struct sigaction ignore {}, forward {}, oldInt {}, oldQuit {}, oldTerm {}, oldHup {};
  ignore.sa_handler = SIG_IGN;
  forward.sa_handler = forwardSignal;
  ::sigaction(SIGINT, &ignore, &oldInt);
  ::sigaction(SIGQUIT, &ignore, &oldQuit);
  ::sigaction(SIGTERM, &forward, &oldTerm);
  ::sigaction(SIGHUP, &forward, &oldHup);

  const pid_t child = ::fork();
  if (child < 0) throw CommandError(std::string("fork: ") + std::strerror(errno));
  if (child == 0) {
    ::sigaction(SIGINT, &oldInt, nullptr);
    ::sigaction(SIGQUIT, &oldQuit, nullptr);
    ::signal(SIGTERM, SIG_DFL);
    ::signal(SIGHUP, SIG_DFL);
    ::execvp(argv[0], argv.data());
    std::fprintf(stderr, "kolvaprof: cannot run %s: %s\n", argv[0], std::strerror(errno));
    std::fflush(stderr);
    ::_exit(errno == ENOENT ? 127 : 126);
  }
  childToSignal = child;
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  childToSignal = 0;
  ::sigaction(SIGINT, &oldInt, nullptr);
  ::sigaction(SIGQUIT, &oldQuit, nullptr);
  ::sigaction(SIGTERM, &oldTerm, nullptr);
  ::sigaction(SIGHUP, &oldHup, nullptr);

  const int exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  if (auto run = watch.newest())
    std::cerr << "kolvaprof: trace in " << *run << "\n";
  else
    std::cerr << "kolvaprof: no trace written in " << watch.base() << "\n";
  return exitStatus;
}

// --- attach and detach ------------------------------------------------------

// What an attach leaves for `kolvaprof detach` (from another shell) to find:
// the library loaded, the settings file, where the run goes and who waits.
struct AttachState {
  int waiter = 0;
  std::string library;
  std::string settingsFile;  // as this process sees it
  std::string logBase;
  std::set<std::string> before;
};

std::string stateFolder() { return "/tmp/kolvaprof-" + std::to_string(::geteuid()); }

std::string statePath(int pid) { return stateFolder() + "/attached-" + std::to_string(pid); }

void saveState(int pid, const AttachState& state) {
  ::mkdir(stateFolder().c_str(), 0700);
  std::ofstream out(statePath(pid), std::ios::trunc);
  out << "waiter=" << state.waiter << "\nlibrary=" << state.library
      << "\nsettings=" << state.settingsFile << "\nlogs=" << state.logBase << "\n";
  for (const std::string& name : state.before) out << "before=" << name << "\n";
}

std::optional<AttachState> loadState(int pid) {
  std::ifstream in(statePath(pid));
  if (!in) return std::nullopt;
  AttachState state;
  for (std::string line; std::getline(in, line);) {
    const std::size_t equals = line.find('=');
    if (equals == std::string::npos) continue;
    const std::string key = line.substr(0, equals), value = line.substr(equals + 1);
    if (key == "waiter") state.waiter = std::atoi(value.c_str());
    if (key == "library") state.library = value;
    if (key == "settings") state.settingsFile = value;
    if (key == "logs") state.logBase = value;
    if (key == "before") state.before.insert(value);
  }
  return state;
}

// A path of the JVM's file system as this process reaches it.
std::string fromHere(const JvmProcess& jvm, const std::string& path) {
  return jvm.sameMountNamespace ? path : jvm.root + path;
}

// Where the JVM's runs go: LogfileDirectory, relative to the JVM's working
// directory as the agent takes it.
std::string jvmLogBase(const JvmProcess& jvm, const std::string& settings) {
  std::string dir = lastSettingValue(settings, "LogfileDirectory").value_or(".");
  if (dir[0] != '/') {
    std::error_code error;
    fs::path cwd = fs::read_symlink("/proc/" + std::to_string(jvm.pid) + "/cwd", error);
    if (error) throw CommandError("cannot read the working directory of JVM " + std::to_string(jvm.pid));
    dir = (cwd / dir).string();
  }
  return fs::path(fromHere(jvm, dir)).lexically_normal().string();
}

// The library as the JVM finds it: in another mount namespace (a container)
// a copy in its /tmp.
std::string libraryForJvm(const JvmProcess& jvm, const std::string& library) {
  if (jvm.sameMountNamespace) return library;
  const std::string folder = "/tmp/kolvaprof-" KOLVAPROF_VERSION;
  std::error_code error;
  fs::create_directories(jvm.root + folder, error);
  fs::copy_file(library, jvm.root + folder + "/" + kLibraryName, fs::copy_options::update_existing, error);
  if (error) throw CommandError("cannot copy the agent library into the JVM's /tmp: " + error.message());
  return folder + "/" + kLibraryName;
}

void reportRun(const RunDirectoryWatch& watch) {
  if (auto run = watch.newest())
    std::cout << *run << std::endl;
  else
    std::cerr << "kolvaprof: no trace written in " << watch.base() << "\n";
}

bool detachAgent(const JvmProcess& jvm, const std::string& library) {
  LoadResult result = loadAgent(jvm, library, "detach");
  return *result.agentStatus == 0;
}

int attach(const CommandLine& line) {
  const JvmProcess jvm = inspectJvm(line.pid);
  const std::string id = std::to_string(jvm.pid);
  const std::string library = libraryForJvm(jvm, findLibrary(line.library));
  const std::string settings = settingsText(line.settings);
  TemporaryFile settingsFile(fromHere(jvm, "/tmp"), settings);
  const std::string settingsForJvm =
      jvm.sameMountNamespace ? settingsFile.path() : settingsFile.path().substr(jvm.root.size());
  const RunDirectoryWatch watch(jvmLogBase(jvm, settings));

  // Signals that end the wait are taken one at a time below, not by handlers.
  sigset_t ending;
  sigemptyset(&ending);
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&ending, signal);
  ::sigprocmask(SIG_BLOCK, &ending, nullptr);

  LoadResult result = loadAgent(jvm, library, settingsForJvm);
  if (*result.agentStatus != 0)
    throw CommandError("JVM " + id + " is traced already (kolvaprof detach " + id +
                       " ends that), or the agent could not start there: it returned " +
                       std::to_string(*result.agentStatus) + "; see the JVM's console");
  saveState(jvm.pid, {static_cast<int>(::getpid()), library, settingsFile.path(), watch.base(), watch.before()});
  settingsFile.keep();  // `kolvaprof detach` removes it
  std::cerr << "kolvaprof: tracing JVM " << id;
  if (line.seconds)
    std::cerr << " for " << *line.seconds << " s\n";
  else
    std::cerr << " until `kolvaprof detach " << id << "` or Ctrl-C\n";

  const auto deadline = std::chrono::steady_clock::now() +
                        std::chrono::milliseconds(static_cast<long long>(line.seconds.value_or(0) * 1000));
  for (;;) {
    timespec pause{0, 100 * 1000 * 1000};
    if (::sigtimedwait(&ending, nullptr, &pause) > 0) break;
    if (line.seconds && std::chrono::steady_clock::now() >= deadline) break;
    if (::kill(jvm.pid, 0) != 0 && errno == ESRCH) {
      std::cerr << "kolvaprof: JVM " << id << " ended\n";
      ::unlink(statePath(jvm.pid).c_str());
      ::unlink(settingsFile.path().c_str());
      reportRun(watch);
      return 0;
    }
    auto state = loadState(jvm.pid);
    if (!state || state->waiter != ::getpid()) {  // `kolvaprof detach` did it
      reportRun(watch);
      return 0;
    }
  }
  const bool detached = detachAgent(jvm, library);
  ::unlink(statePath(jvm.pid).c_str());
  ::unlink(settingsFile.path().c_str());
  if (!detached) throw CommandError("JVM " + id + " was not traced any more at the detach");
  reportRun(watch);
  return 0;
}

int detach(const CommandLine& line) {
  const JvmProcess jvm = inspectJvm(line.pid);
  const std::string id = std::to_string(jvm.pid);
  const auto state = loadState(jvm.pid);
  const std::string library =
      !line.library.empty() || !state ? libraryForJvm(jvm, findLibrary(line.library)) : state->library;
  const bool detached = detachAgent(jvm, library);
  if (state) {
    ::unlink(statePath(jvm.pid).c_str());
    ::unlink(state->settingsFile.c_str());
  }
  if (!detached) throw CommandError("JVM " + id + " is not traced by an attached kolvaprof (see its console)");
  if (state) reportRun(RunDirectoryWatch(state->logBase, state->before));
  return 0;
}

int list() {
  for (const LocalJvm& jvm : localJvms()) std::cout << jvm.pid << " " << jvm.mainClass << "\n";
  return 0;
}

}  // namespace

int runCommand(int argc, const char* const* argv) {
  try {
    const CommandLine line = parseCommandLine(argc, argv);
    switch (line.verb) {
      case Verb::Help: std::cout << line.helpText; return 0;
      case Verb::Version: std::cout << "kolvaprof " KOLVAPROF_VERSION "\n"; return 0;
      case Verb::Run: return runProgram(line);
      case Verb::Attach: return attach(line);
      case Verb::Detach: return detach(line);
      case Verb::List: return list();
    }
  } catch (const UsageError& error) {
    std::cerr << "kolvaprof: " << error.what() << "\n(kolvaprof --help shows the usage)\n";
    return 2;
  } catch (const std::exception& error) {
    std::cerr << "kolvaprof: " << error.what() << "\n";
    return 1;
  }
  return 2;
}

}  // namespace kolvaprof::command
