#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "registry/patterns.h"
#include "registry/wildcard_match.h"
#include "registry/method_filters.h"

namespace {

using kolvaprof::ClassPattern;
using kolvaprof::MethodPattern;
using kolvaprof::PackagePattern;
using kolvaprof::wildcardMatch;

// The matcher's definition, taken literally: exponential, but fine for the
// short strings it is compared on.
bool referenceMatch(const char* pattern, const char* text) {
  if (*pattern == '\0') return *text == '\0';
  if (*pattern == '*') {
    return referenceMatch(pattern + 1, text) || (*text != '\0' && referenceMatch(pattern, text + 1));
  }
  return *text != '\0' && *pattern == *text && referenceMatch(pattern + 1, text + 1);
}

void allStrings(const std::string& alphabet, std::size_t maxLength, std::vector<std::string>& out) {
  out.assign(1, "");
  for (std::size_t begin = 0; begin < out.size(); ++begin) {
    if (out[begin].size() == maxLength) continue;
    for (char c : alphabet) out.push_back(out[begin] + c);
  }
}

TEST(WildcardMatch, AgreesWithDefinitionOnAllShortStrings) {
  std::vector<std::string> patterns;
  std::vector<std::string> texts;
  allStrings("ab.*", 5, patterns);
  allStrings("ab.*", 4, texts);
  for (const std::string& p : patterns) {
    for (const std::string& t : texts) {
      if (wildcardMatch(p.c_str(), t.c_str()) != referenceMatch(p.c_str(), t.c_str())) {
        ADD_FAILURE() << "pattern \"" << p << "\" text \"" << t << "\"";
        return;
      }
    }
  }
}

TEST(WildcardMatch, AgreesWithDefinitionOnRandomLongerStrings) {
  std::mt19937 random(20080502);
  const std::string letters = "ab.";
  auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
  int matches = 0;
  for (int round = 0; round < 20000; ++round) {
    std::string pattern;
    int stars = 0;
    for (int n = pick(13); n > 0; --n) {
      if (stars < 4 && pick(4) == 0) {
        pattern += '*';
        ++stars;
      } else {
        pattern += letters[pick(3)];
      }
    }
    // Half of the texts are made from the pattern, so that matches are common.
    std::string text;
    if (pick(2) == 0) {
      for (char c : pattern) {
        if (c != '*') text += c;
        else for (int n = pick(4); n > 0; --n) text += letters[pick(3)];
      }
      if (!text.empty() && pick(3) == 0) text[pick(static_cast<int>(text.size()))] = 'a';
    } else {
      for (int n = pick(17); n > 0; --n) text += (pick(20) == 0) ? '*' : letters[pick(3)];
    }
    const bool expected = referenceMatch(pattern.c_str(), text.c_str());
    matches += expected;
    ASSERT_EQ(wildcardMatch(pattern.c_str(), text.c_str()), expected)
        << "pattern \"" << pattern << "\" text \"" << text << "\"";
  }
  EXPECT_GT(matches, 2000);
}

TEST(WildcardMatch, ManyStarsOnLongTextFinishFast) {
  std::string failing;   // "*a*a...*a*b": every 'a' can go anywhere, no 'b' exists
  std::string inOrder;   // "*c*d*...*v*c...": letters that appear in order, far apart
  std::string spaced(10000, '.');
  for (int i = 0; i < 40; ++i) {
    failing += '*';
    failing += (i == 39) ? 'b' : 'a';
    const char letter = static_cast<char>('c' + i % 20);
    inOrder += '*';
    inOrder += letter;
    spaced[static_cast<std::size_t>(i) * 249 + 100] = letter;
  }
  const std::string allA(10000, 'a');
  const std::string endsAtLastLetter = spaced.substr(0, 39 * 249 + 101);
  std::string missingLast = spaced;
  missingLast[39 * 249 + 100] = '.';

  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(wildcardMatch(failing.c_str(), allA.c_str()));
  EXPECT_TRUE(wildcardMatch((inOrder + "*").c_str(), spaced.c_str()));
  EXPECT_FALSE(wildcardMatch(inOrder.c_str(), spaced.c_str()));
  EXPECT_TRUE(wildcardMatch(inOrder.c_str(), endsAtLastLetter.c_str()));
  EXPECT_FALSE(wildcardMatch((inOrder + "*").c_str(), missingLast.c_str()));
  EXPECT_FALSE(wildcardMatch((inOrder + "*x").c_str(), spaced.c_str()));
  EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 2.0);
}

struct SplitCase {
  const char* value;
  char kind;  // 'P'ackage, 'C'lass, 'M'ethod
  const char* packagePart;
  const char* classPart;
  const char* methodPart;
};

TEST(Patterns, SplitAtTheLastDot) {
  const SplitCase cases[] = {
      {"a.b*", 'P', "a.b*", nullptr, nullptr},
      {"a.b.Name", 'C', "a.b", "Name", nullptr},
      {"a.b.*", 'C', "a.b", "*", nullptr},
      {"Name", 'C', "*", "Name", nullptr},
      {"a.b.", 'C', "a.b", "", nullptr},
      {".Name", 'C', "", "Name", nullptr},
      {"", 'C', "*", "", nullptr},
      {"a.b.Name.run", 'M', "a.b", "Name", "run"},
      {"Name.run", 'M', "*", "Name", "run"},
      {"run", 'M', "*", "*", "run"},
      {"*", 'M', "*", "*", "*"},
      {"a.b.Na*.r*n", 'M', "a.b", "Na*", "r*n"},
  };
  auto expectLevel = [](const kolvaprof::PatternLevel& level, const std::string& text) {
    EXPECT_EQ(level.text(), text);
    EXPECT_EQ(level.wildcard(), text.find('*') != std::string::npos) << text;
  };
  for (const SplitCase& c : cases) {
    SCOPED_TRACE(std::string(1, c.kind) + " " + c.value);
    if (c.kind == 'P') {
      expectLevel(PackagePattern(c.value).level(), c.packagePart);
    } else if (c.kind == 'C') {
      const ClassPattern pattern(c.value);
      expectLevel(pattern.packagePart().level(), c.packagePart);
      expectLevel(pattern.level(), c.classPart);
    } else {
      const MethodPattern pattern(c.value);
      expectLevel(pattern.classPart().packagePart().level(), c.packagePart);
      expectLevel(pattern.classPart().level(), c.classPart);
      expectLevel(pattern.level(), c.methodPart);
    }
  }
}

struct MatchCase {
  char kind;
  const char* value;
  const char* packageName;
  const char* className;
  const char* methodName;
  bool expected;
};

TEST(Patterns, Match) {
  const MatchCase cases[] = {
      {'P', "a.b", "a.b", "", "", true},
      {'P', "a.b", "a.b.c", "", "", false},
      {'P', "a.b", "a", "", "", false},
      {'P', "a.b", "A.b", "", "", false},
      {'P', "a.b*", "a.b", "", "", true},
      {'P', "a.b*", "a.bc", "", "", true},
      {'P', "a.b*", "a.b.c", "", "", true},
      {'P', "a.b*", "a.c", "", "", false},
      {'P', "a.b.*", "a.b.c", "", "", true},
      {'P', "a.b.*", "a.b", "", "", false},
      {'P', "*", "", "", "", true},
      {'P', "*.b", "a.b", "", "", true},
      {'P', "*.b", "b", "", "", false},
      {'C', "a.b.*", "a.b", "Anything$Inner", "", true},
      {'C', "a.b.*", "a.b.c", "Name", "", false},
      {'C', "a.b.*", "a", "Name", "", false},
      {'C', "Name", "x.y", "Name", "", true},
      {'C', "Name", "", "Name", "", true},
      {'C', "Name", "x.y", "Name2", "", false},
      {'C', "a.b.name", "a.b", "Name", "", false},
      {'C', "a.b.Name", "a.b", "Name", "", true},
      {'C', "a.b.", "a.b", "Name", "", false},
      {'C', ".Name", "", "Name", "", true},
      {'C', ".Name", "a", "Name", "", false},
      {'C', "a.b.Outer$*", "a.b", "Outer$Inner", "", true},
      {'M', "run", "a.b", "Name", "run", true},
      {'M', "run", "", "Main", "run", true},
      {'M', "run", "a.b", "Name", "Run", false},
      {'M', "*", "a.b", "Name", "<init>", true},
      {'M', "Name.run", "q", "Name", "run", true},
      {'M', "Name.run", "q", "Other", "run", false},
      {'M', "a.b.Name.run", "a.b", "Name", "run", true},
      {'M', "a.b.Name.run", "a.b", "Name", "runner", false},
      {'M', "a.b.Name.run", "a.c", "Name", "run", false},
      {'M', "a.b.Name.get*", "a.b", "Name", "getValue", true},
      {'M', "a.b.Name.get*", "a.b", "Name", "get", true},
      {'M', "a.b.Name.get*", "a.b", "Name", "set", false},
      {'M', "a.*.N*.r*", "a.x.y", "Nope", "r", true},
  };
  for (const MatchCase& c : cases) {
    SCOPED_TRACE(std::string(1, c.kind) + " " + c.value + " ~ " + c.packageName + " " +
                 c.className + " " + c.methodName);
    bool actual = false;
    if (c.kind == 'P') actual = PackagePattern(c.value).matches(c.packageName);
    if (c.kind == 'C') actual = ClassPattern(c.value).matches(c.packageName, c.className);
    if (c.kind == 'M') {
      actual = MethodPattern(c.value).matches(c.packageName, c.className, c.methodName);
    }
    EXPECT_EQ(actual, c.expected);
  }
}

using Texts = std::vector<std::string>;

TEST(Filters, WithoutFiltersModeDecidesEverything) {
  const kolvaprof::MethodFilters leaveOut({}, {}, {}, true, {});
  EXPECT_FALSE(leaveOut.isExcluded("a.b", "Name", "run"));
  EXPECT_FALSE(leaveOut.isExcluded("", "Main", "main"));
  EXPECT_FALSE(leaveOut.isStartMethod("a.b", "Name", "run"));
  const kolvaprof::MethodFilters onlyMatches({}, {}, {}, false, {});
  EXPECT_TRUE(onlyMatches.isExcluded("a.b", "Name", "run"));
  EXPECT_TRUE(onlyMatches.isExcluded("", "Main", "main"));
  EXPECT_FALSE(onlyMatches.isStartMethod("a.b", "Name", "run"));
}

TEST(Filters, ModesAreComplementaryAndStartMethodsIgnoreThem) {
  // The first pattern of each list never matches below, so every hit depends
  // on the scan going on to a later one.
  const Texts packages{"x.y", "a.b*"};
  const Texts classes{"z.Nothing", "Hidden"};
  const Texts methods{"z.Nothing.none", "run", "org.demo.Main.secret"};
  const kolvaprof::MethodFilters leaveOut(packages, classes, methods, true, {});
  struct Case {
    const char* packageName;
    const char* className;
    const char* methodName;
    bool matchedByFilter;
  };
  const Case cases[] = {
      {"a.b", "C", "m", true},
      {"a.bc.d", "C", "m", true},
      {"org", "Hidden", "m", true},
      {"", "Hidden", "m", true},
      {"org", "C", "run", true},
      {"org.demo", "Main", "secret", true},
      {"org.demo", "Other", "secret", false},
      {"a", "C", "m", false},
      {"a.c", "hidden", "Run", false},
      {"x.y.z", "C", "m", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.packageName) + " " + c.className + " " + c.methodName);
    EXPECT_EQ(leaveOut.isExcluded(c.packageName, c.className, c.methodName), c.matchedByFilter);
  }
  const kolvaprof::MethodFilters onlyMatches(packages, classes, methods, false,
                                             {"org.demo.Main.main", "*.helper"});
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.packageName) + " " + c.className + " " + c.methodName);
    EXPECT_EQ(onlyMatches.isExcluded(c.packageName, c.className, c.methodName), !c.matchedByFilter);
  }
  EXPECT_TRUE(onlyMatches.isStartMethod("org.demo", "Main", "main"));
  EXPECT_TRUE(onlyMatches.isStartMethod("", "Any", "helper"));
  EXPECT_FALSE(onlyMatches.isStartMethod("org.demo", "Main", "main2"));
  EXPECT_FALSE(onlyMatches.isStartMethod("org.demo", "Other", "main"));
  EXPECT_FALSE(onlyMatches.isStartMethod("a.b", "Hidden", "run"));
}

TEST(Filters, WholeClassLeftOutOnlyWhenNoMethodNameCouldBeLogged) {
  const Texts packages{"a.b*"};
  const Texts classes{"org.demo.Hidden"};
  const Texts methods{"org.demo.Main.secret"};
  const Texts starts{"org.start.Gate.open"};
  struct Case {
    const char* packageName;
    const char* className;
    bool leaveOutWhole;  // FilterMode 0
    bool onlyMatchesWhole;  // FilterMode 1
  };
  const Case cases[] = {
      {"a.b.c", "C", true, false},         {"org.demo", "Hidden", true, false},
      {"org.demo", "Main", false, false},  {"org.demo", "Other", false, true},
      {"org.start", "Gate", false, false}, {"x", "Y", false, true},
  };
  const kolvaprof::MethodFilters leaveOut(packages, classes, methods, true, starts);
  const kolvaprof::MethodFilters onlyMatches(packages, classes, methods, false, starts);
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.packageName) + " " + c.className);
    EXPECT_EQ(leaveOut.excludesWholeClass(c.packageName, c.className), c.leaveOutWhole);
    EXPECT_EQ(onlyMatches.excludesWholeClass(c.packageName, c.className), c.onlyMatchesWhole);
    // Never a class with a method that would be logged or gate the run.
    for (const char* method : {"secret", "open", "run"}) {
      for (const kolvaprof::MethodFilters* filters : {&leaveOut, &onlyMatches}) {
        if (!filters->excludesWholeClass(c.packageName, c.className)) continue;
        EXPECT_TRUE(filters->isExcluded(c.packageName, c.className, method)) << method;
        EXPECT_FALSE(filters->isStartMethod(c.packageName, c.className, method)) << method;
      }
    }
  }
}

}  // namespace
