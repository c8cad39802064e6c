#include "output/index_file.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "output/run_directory.h"
#include "output/thread_context.h"
#include "registry/method_info.h"

namespace kolvaprof {
namespace {

namespace fs = std::filesystem;

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

MethodInfo info(std::string package, std::string className, std::string name,
                std::vector<std::string> parameters, std::string returnType) {
  return MethodInfo(std::move(package), std::move(className), std::move(name),
                    std::move(parameters), std::move(returnType), false, false);
}

TEST(IndexFileTest, LinesReachIndexDatInTheOrderWritten) {
  char pattern[] = "/tmp/kolvaprof-index-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const std::string root = std::string(pattern) + "/";
  const std::string dir = root + "20240102030405/";
  EXPECT_EQ(IndexFile::fileName(), "Index.dat");

  { IndexFile unused(std::make_shared<RunDirectory>(dir)); }
  EXPECT_FALSE(fs::exists(dir)) << "an index without lines leaves nothing behind";
  const MethodInfo add = info("shop", "Cart", "add", {"int", "java.lang.String"}, "void");
  const MethodInfo run = info("", "Main", "run", {}, "int");
  {
    IndexFile index(std::make_shared<RunDirectory>(dir));
    const ThreadContext main("main", 0);
    const ThreadContext second("main(2)", 1);
    index.writeThreadLine(main);
    EXPECT_EQ(index.recordNumberFor(add), 1);
    index.writeThreadLine(second);
    EXPECT_EQ(index.recordNumberFor(run), 2);
    EXPECT_EQ(index.recordNumberFor(add), 1) << "a method is numbered and described once";
    EXPECT_EQ(readFile(dir + "Index.dat"), "") << "lines wait in the buffer";
  }
  EXPECT_EQ(readFile(dir + "Index.dat"),
            "Thread 0=\"main\"\n"
            "Method 1=void shop.Cart.add(int,java.lang.String){\n"
            "Thread 1=\"main(2)\"\n"
            "Method 2=int .Main.run(){\n");
  std::error_code ignored;
  fs::remove_all(root, ignored);
}

// Threads logging the same methods for the first time: each method's line is
// written once, and before any thread goes on with its number (here, to write
// a thread line numbered after it into the same file).
TEST(IndexFileTest, ConcurrentFirstRecordsFindTheirMethodLineWritten) {
  constexpr int kThreads = 8;
  constexpr int kMethods = 300;
  char pattern[] = "/tmp/kolvaprof-index-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const std::string dir = std::string(pattern) + "/run/";
  std::vector<std::unique_ptr<MethodInfo>> infos;
  for (int m = 0; m < kMethods; ++m) {
    infos.push_back(std::make_unique<MethodInfo>("p", "C", "m" + std::to_string(m),
                                                 std::vector<std::string>{}, "void", false, false));
  }
  {
    IndexFile index(std::make_shared<RunDirectory>(dir));
    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([&, t] {
        while (!go.load()) std::this_thread::yield();
        for (int i = 0; i < kMethods; ++i) {
          const int m = (i * 7 + t * 37) % kMethods;
          const int32_t number = index.recordNumberFor(*infos[m]);
          index.writeThreadLine(ThreadContext("t", number));
        }
      });
    }
    go = true;
    for (auto& thread : threads) thread.join();
  }
  std::istringstream lines(readFile(dir + "Index.dat"));
  std::vector<int> methodLines(kMethods + 1, 0);
  std::vector<int> threadLines(kMethods + 1, 0);
  std::string line;
  while (std::getline(lines, line)) {
    const int number = std::atoi(line.c_str() + line.find(' ') + 1);
    ASSERT_TRUE(number >= 1 && number <= kMethods) << line;
    if (line.rfind("Method ", 0) == 0) {
      ++methodLines[number];
    } else {
      ASSERT_EQ(methodLines[number], 1) << "a record of method " << number << " before its line";
      ++threadLines[number];
    }
  }
  for (int n = 1; n <= kMethods; ++n) {
    EXPECT_EQ(methodLines[n], 1) << n;
    EXPECT_EQ(threadLines[n], kThreads) << n;
  }
  std::error_code ignored;
  fs::remove_all(pattern, ignored);
}

}  // namespace
}  // namespace kolvaprof
