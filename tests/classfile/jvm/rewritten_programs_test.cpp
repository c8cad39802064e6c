// The test programs of tests/java/classfile, rewritten by classfile-rewrite
// and run on every JDK with bytecode verification forced for every class:
// each must print what the original prints, and the recording hooks class
// (kolvaprof.Hooks) must see every call open and close in order.

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

const std::string kRewrite = KOLVAPROF_CLASSFILE_REWRITE;
const std::string kClasses = KOLVAPROF_TEST_CLASSES;

std::vector<std::string> testJdks() {
  std::vector<std::string> jdks;
  std::set<std::string> seen;
  auto add = [&](const std::string& dir) {
    char real[PATH_MAX];
    if (access((dir + "/bin/java").c_str(), X_OK) != 0 || !realpath(dir.c_str(), real)) return;
    if (seen.insert(real).second) jdks.push_back(real);
  };
  if (const char* list = getenv("KOLVAPROF_TEST_JDKS")) {
    std::stringstream in(list);
    for (std::string dir; std::getline(in, dir, ':');) add(dir);
    return jdks;
  }
  if (DIR* d = opendir("/usr/lib/jvm")) {
    std::vector<std::string> names;
    while (dirent* e = readdir(d))
      if (e->d_name[0] != '.') names.push_back(e->d_name);
    closedir(d);
    std::sort(names.begin(), names.end());
    for (const auto& n : names) add("/usr/lib/jvm/" + n);
  }
  return jdks;
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

struct Process {
  int status = -1;
  std::string out;
  std::string err;
};

// Runs argv without a shell, its output into files, killed after 120 s.
Process run(const std::vector<std::string>& argv, const std::string& dir) {
  std::string outPath = dir + "/out.txt", errPath = dir + "/err.txt";
  pid_t pid = fork();
  if (pid == 0) {
    int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(out, 1);
    dup2(err, 2);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  Process r;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
  int status = 0;
  while (waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  r.out = readFile(outPath);
  r.err = readFile(errPath);
  return r;
}

// The hook lines of a run's standard error, without their "#H " mark.
std::vector<std::string> hookLines(const std::string& err) {
  std::vector<std::string> lines;
  std::stringstream in(err);
  for (std::string line; std::getline(in, line);)
    if (line.rfind("#H ", 0) == 0) lines.push_back(line.substr(3));
  return lines;
}

std::string joined(const std::vector<std::string>& lines) {
  std::string s;
  for (const auto& l : lines) s += l + "\n";
  return s;
}

class RewrittenPrograms : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/classfile-jvm-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    if (!getenv("KOLVAPROF_KEEP_TEST_DIRS")) run({"/bin/rm", "-rf", dir_}, "/tmp");
  }

  std::string java() const { return GetParam() + "/bin/java"; }

  // Rewrites the test programs (and nothing else) into <dir>/<name>.
  std::string rewrite(const std::string& name, std::vector<std::string> options = {}) {
    std::vector<std::string> argv{kRewrite, "--methods", dir_ + "/" + name + ".methods"};
    argv.insert(argv.end(), options.begin(), options.end());
    argv.push_back(kClasses + "/cftest");
    argv.push_back(dir_ + "/" + name + "/cftest");
    Process r = run(argv, dir_);
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("left as they are 0"), std::string::npos) << r.out;
    return dir_ + "/" + name;
  }

  Process runProgram(const std::string& classPath, const std::string& mainClass,
                 const std::string& methods = "") {
    std::vector<std::string> argv{java(), "-XX:+UnlockDiagnosticVMOptions",
                                  "-XX:+BytecodeVerificationLocal", "-XX:+BytecodeVerificationRemote"};
    if (!methods.empty()) argv.push_back("-Dkolvaprof.methods=" + methods);
    argv.insert(argv.end(), {"-cp", classPath, mainClass});
    return run(argv, dir_);
  }

  // Runs the original and the rewritten program: same exit status and output,
  // hooks in order, and every call that was opened closed again.
  std::vector<std::string> compare(const std::string& original, const std::string& rewritten,
                                   const std::string& mainClass, const std::string& methods) {
    Process before = runProgram(original, mainClass);
    Process after = runProgram(rewritten + ":" + kClasses, mainClass, methods);
    EXPECT_EQ(before.status, 0) << before.err;
    EXPECT_EQ(after.status, before.status) << after.err;
    EXPECT_EQ(after.out, before.out);
    std::vector<std::string> hooks = hookLines(after.err);
    EXPECT_FALSE(hooks.empty()) << after.err;
    int open = 0;
    for (const auto& line : hooks) {
      EXPECT_EQ(line.find("ERROR"), std::string::npos) << line;
      std::string text = line.substr(line.find_first_not_of(' '));
      if (text[0] == '>') ++open;
      if (text[0] == '<') --open;
    }
    EXPECT_EQ(open, 0) << joined(hooks);
    return hooks;
  }

  std::string dir_;
};

// With leaf code reported by one hook, every call opens and closes where
// it does with two.
TEST_P(RewrittenPrograms, BehaveAsTheOriginalsWithEveryCallClosed) {
  std::string rewritten = rewrite("rewritten");
  std::string leaves = rewrite("leaves", {"--leaves"});
  for (const char* program : {"cftest.Ctors", "cftest.Flow", "cftest.Lambdas", "cftest.Old"}) {
    SCOPED_TRACE(program);
    const std::vector<std::string> hooks =
        compare(kClasses, rewritten, program, dir_ + "/rewritten.methods");
    EXPECT_EQ(joined(compare(kClasses, leaves, program, dir_ + "/leaves.methods")), joined(hooks));
  }
}

TEST_P(RewrittenPrograms, ConstructorChainsShareOneObjectNumber) {
  std::string rewritten = rewrite("rewritten");
  std::vector<std::string> hooks =
      compare(kClasses, rewritten, "cftest.Ctors", dir_ + "/rewritten.methods");
  std::string trace;
  for (auto line : hooks) {
    for (std::string from : {"cftest/Ctors$", "cftest/Ctors."}) {
      for (std::size_t at; (at = line.find(from)) != std::string::npos;)
        line.replace(at, from.size(), from.back() == '$' ? "" : "Ctors.");
    }
    trace += line + "\n";
  }
  // this(new Part(..)): the Part is an object of its own, made before the
  // chain goes on; Child() -> Child(Part) -> Base(int) is one object. Base's
  // own super call, to java/lang/Object (not rewritten), binds first.
  EXPECT_NE(trace.find("  > Child.<init>()V new=#1\n"
                       "    > Part.<init>(Ljava/lang/String;)V new=#2\n"
                       "      bind #2\n"
                       "    < Part.<init>(Ljava/lang/String;)V\n"
                       "    > Child.<init>(LPart;)V same=#1\n"
                       "      > Base.<init>(I)V same=#1\n"
                       "        bind #1\n"
                       "      < Base.<init>(I)V\n"
                       "      bind #1\n"
                       "    < Child.<init>(LPart;)V\n"
                       "    bind #1\n"
                       "  < Child.<init>()V\n"),
            std::string::npos)
      << trace;
  // super(big ? 100 : 1): the call is a jump target, chainInit runs on both ways.
  EXPECT_NE(trace.find("  > Child.<init>(Z)V new=#3\n"
                       "    > Base.<init>(I)V same=#3\n"),
            std::string::npos)
      << trace;
  // Thrown before super(...), by a call in its arguments; after it, in the
  // body; and by the super constructor itself, which closes its caller too.
  EXPECT_NE(trace.find("    < Ctors.check(Ljava/lang/String;)I throws java.lang.IllegalArgumentException\n"
                       "  < Child.<init>(Ljava/lang/String;)V throws java.lang.IllegalArgumentException\n"),
            std::string::npos)
      << trace;
  EXPECT_NE(trace.find("    bind #8\n"
                       "  < Child.<init>(Ljava/lang/String;)V throws java.lang.IllegalStateException\n"),
            std::string::npos)
      << trace;
  EXPECT_NE(trace.find("    < Base.<init>(I)V throws java.lang.IllegalArgumentException\n"
                       "  < Failing.<init>()V throws java.lang.IllegalArgumentException\n"),
            std::string::npos)
      << trace;
}

TEST_P(RewrittenPrograms, ExceptionsLeaveThroughTheHandlers) {
  std::string rewritten = rewrite("rewritten");
  std::string trace =
      joined(compare(kClasses, rewritten, "cftest.Flow", dir_ + "/rewritten.methods"));
  for (const char* expected : {
           // Caught inside: a normal exit. Not caught: an exit with the exception.
           "  > cftest/Flow.divide(II)I static\n  < cftest/Flow.divide(II)I\n",
           "  < cftest/Flow.uncaught([II)I throws java.lang.ArrayIndexOutOfBoundsException\n",
           "  < cftest/Flow.rethrow()V throws java.lang.Exception\n",
           "        < cftest/Flow.depth(I)I\n      < cftest/Flow.depth(I)I\n",
       }) {
    EXPECT_NE(trace.find(expected), std::string::npos) << expected << "\n" << trace;
  }
}

// A method that javac still compiles with 16-bit jumps grows past 32767
// bytes with its exit hooks: the loop's jumps over it and back must widen.
// Method numbers from 100000 on are pushed with ldc.
TEST_P(RewrittenPrograms, LongMethodsWidenTheirJumps) {
  std::string source = dir_ + "/src/cftest/Long.java";
  run({"/bin/mkdir", "-p", dir_ + "/src/cftest"}, dir_);
  {
    std::ofstream out(source);
    out << "package cftest;\npublic class Long {\n  static int big(int x, int rounds) {\n"
           "    int r = 0;\n    for (int round = 0; round < rounds; round++) {\n"
           "      if (x >= 0) {\n";
    for (int k = 1; k <= 2100; ++k) out << "        if (x == " << k << ") return r + " << k << ";\n";
    out << "      }\n      r += 7;\n    }\n    return r;\n  }\n"
           "  public static void main(String[] args) {\n"
           "    System.out.println(big(1, 3) + \" \" + big(2000, 1) + \" \" + big(-5, 4) + \" \" + big(5000, 2));\n"
           "  }\n}\n";
  }
  Process javac = run({GetParam() + "/bin/javac", "--release", "17", "-d", dir_ + "/long", source}, dir_);
  ASSERT_EQ(javac.status, 0) << javac.err;
  Process r = run({kRewrite, "--first-number", "100000", "--methods", dir_ + "/long.methods",
               dir_ + "/long", dir_ + "/long-rewritten"},
              dir_);
  ASSERT_EQ(r.status, 0) << r.out;
  ASSERT_NE(r.out.find("left as they are 0"), std::string::npos) << r.out;
  std::vector<std::string> hooks =
      compare(dir_ + "/long", dir_ + "/long-rewritten", "cftest.Long", dir_ + "/long.methods");
  EXPECT_EQ(hooks.size(), 2u + 4u * 2u) << joined(hooks);
}

// Version 49 class files have no stack map frames and are checked by the
// JVM's older, inferring verifier.
TEST_P(RewrittenPrograms, OldClassFilesPassTheInferringVerifier) {
  std::string original = rewrite("old-original", {"--downgrade", "49", "--none"});
  std::string rewritten = rewrite("old-rewritten", {"--downgrade", "49"});
  std::string trace = joined(compare(original + ":" + kClasses, rewritten, "cftest.Old",
                                     dir_ + "/old-rewritten.methods"));
  EXPECT_NE(trace.find("  < cftest/Old.<init>(ILjava/lang/String;)V throws java.lang.IllegalArgumentException\n"),
            std::string::npos)
      << trace;
}

INSTANTIATE_TEST_SUITE_P(Jdk, RewrittenPrograms, ::testing::ValuesIn(testJdks()),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                           std::string name = info.param.substr(info.param.rfind('/') + 1);
                           for (char& c : name)
                             if (!isalnum(static_cast<unsigned char>(c))) c = '_';
                           return name;
                         });
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(RewrittenPrograms);

}  // namespace
