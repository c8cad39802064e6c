// run.json of any bytes: read without a crash, and what reads as a manifest
// writes back to a text that reads as the same manifest.

#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "format/run_manifest.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const kolvaprof::ManifestReading read =
      kolvaprof::parseManifest(std::string_view(reinterpret_cast<const char*>(data), size));
  if (!read.manifest) return 0;
  const std::string written = kolvaprof::writeManifest(*read.manifest);
  const kolvaprof::ManifestReading again = kolvaprof::parseManifest(written);
  if (!again.manifest || kolvaprof::writeManifest(*again.manifest) != written) std::abort();
  return 0;
}
