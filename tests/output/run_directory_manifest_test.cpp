#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "format/run_manifest.h"
#include "output/run_directory.h"

namespace kolvaprof {
namespace {

namespace fs = std::filesystem;

std::string contents(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

// run.json lands in the directory whichever comes first, the manifest or
// the directory; a directory never made gets none (a run that logs nothing
// leaves nothing); each new text replaces the last whole, with no
// temporary file left beside it.
TEST(RunDirectoryManifest, WrittenOnceTheDirectoryIsTakenAndReplacedWhole) {
  char pattern[] = "/tmp/kolvaprof-manifest-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const fs::path root = pattern;
  const struct {
    const char* name;
    bool claimFirst;
    bool claim;
  } cases[] = {{"claimed-first", true, true}, {"described-first", false, true}, {"never-made", false, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path dir = root / c.name;
    RunDirectory run(dir.string() + "/");
    if (c.claimFirst) {
      ASSERT_TRUE(run.claim(false));
    }
    run.keepManifest("{\"start\": 1}\n");
    if (c.claim && !c.claimFirst) {
      ASSERT_TRUE(run.claim(false));
    }
    if (!c.claim) {
      EXPECT_FALSE(fs::exists(dir));
      continue;
    }
    EXPECT_EQ(contents(dir / kManifestFileName), "{\"start\": 1}\n");
    run.keepManifest("{\"end\": 2}\n");
    EXPECT_EQ(contents(dir / kManifestFileName), "{\"end\": 2}\n");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
  }
  fs::remove_all(root);
}

}  // namespace
}  // namespace kolvaprof
