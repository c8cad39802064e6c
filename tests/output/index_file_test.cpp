#include "output/index_file.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
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

// Methods stand for themselves by their records; these are never read.
const MethodInfo* method(std::uintptr_t n) {
  return reinterpret_cast<const MethodInfo*>(0x7f5500000000 + n * 8);
}

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

TEST(MethodNumbersTest, NumbersFollowTheOrderOfFirstCalls) {
  MethodNumbers numbers;
  // 1 and 2 differ only above bit 31; they are different methods.
  const MethodInfo* low = reinterpret_cast<const MethodInfo*>(0x0000000112345678);
  const MethodInfo* high = reinterpret_cast<const MethodInfo*>(0x0000000212345678);
  const struct {
    const MethodInfo* method;
    int32_t number;
    bool isNew;
  } calls[] = {{low, 1, true},  {high, 2, true},      {low, 1, false}, {method(9), 3, true},
               {high, 2, false}, {method(9), 3, false}, {method(1), 4, true}};
  for (const auto& call : calls) {
    const MethodNumber result = numbers.methodNumberFor(call.method);
    EXPECT_EQ(result.number, call.number);
    EXPECT_EQ(result.isNew, call.isNew);
  }
  EXPECT_EQ(MethodNumbers().methodNumberFor(low).number, 1) << "tables are per instance";
}

TEST(MethodNumbersTest, ConcurrentFirstCallsGiveEachMethodExactlyOneNumber) {
  constexpr int kThreads = 8;
  constexpr int kMethods = 2000;
  MethodNumbers numbers;
  std::vector<std::vector<int32_t>> seen(kThreads, std::vector<int32_t>(kMethods));
  std::vector<std::atomic<int>> newCount(kMethods);
  std::atomic<bool> go{false};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      // Every thread walks all methods, each in its own order.
      static const int kStrides[kThreads] = {1, 3, 7, 9, 11, 13, 17, 19};  // prime to kMethods
      const int stride = kStrides[t];
      while (!go.load()) std::this_thread::yield();
      for (int i = 0; i < kMethods; ++i) {
        const int m = (i * stride + t * 101) % kMethods;
        const MethodNumber result = numbers.methodNumberFor(method(m));
        seen[t][m] = result.number;
        if (result.isNew) ++newCount[m];
      }
    });
  }
  go = true;
  for (auto& thread : threads) thread.join();

  std::set<int32_t> assigned;
  for (int m = 0; m < kMethods; ++m) {
    ASSERT_EQ(newCount[m].load(), 1) << "method " << m;
    for (int t = 1; t < kThreads; ++t) ASSERT_EQ(seen[t][m], seen[0][m]) << "method " << m;
    assigned.insert(seen[0][m]);
  }
  ASSERT_EQ(assigned.size(), static_cast<std::size_t>(kMethods));
  EXPECT_EQ(*assigned.begin(), 1);
  EXPECT_EQ(*assigned.rbegin(), kMethods);
}

TEST(IndexFileTest, LinesReachIndexDatInTheOrderWritten) {
  char pattern[] = "/tmp/kolvaprof-index-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const std::string root = std::string(pattern) + "/";
  const std::string dir = root + "20240102030405/";
  EXPECT_EQ(IndexFile::fileName(), "Index.dat");

  MethodNumbers numbers;
  { IndexFile unused(std::make_shared<RunDirectory>(dir), numbers); }
  EXPECT_FALSE(fs::exists(dir)) << "an index without lines leaves nothing behind";
  {
    IndexFile index(std::make_shared<RunDirectory>(dir), numbers);
    const ThreadContext main("main", 0);
    const ThreadContext second("main(2)", 1);
    index.writeThreadLine(main);
    const MethodNumber add = index.methodNumberFor(method(1));
    ASSERT_TRUE(add.isNew);
    index.writeMethodLine(add.number, info("shop", "Cart", "add", {"int", "java.lang.String"}, "void"));
    index.writeThreadLine(second);
    index.writeMethodLine(index.methodNumberFor(method(2)).number, info("", "Main", "run", {}, "int"));
    EXPECT_FALSE(index.methodNumberFor(method(1)).isNew);
    EXPECT_EQ(readFile(dir + "Index.dat"), "") << "lines wait in the buffer";
  }
  EXPECT_EQ(numbers.methodNumberFor(method(2)).number, 2) << "the index numbers through the given table";
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
  MethodNumbers numbers;
  {
    IndexFile index(std::make_shared<RunDirectory>(dir), numbers);
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
