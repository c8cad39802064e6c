#include "output/run_directory.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iostream>

#include <boost/thread/lock_guard.hpp>

#include "format/run_manifest.h"
#include "output/console.h"

namespace kolvaprof {
namespace {

int makeDirectory(const std::string& path) {
  return ::mkdir(path.c_str(), 0755) == 0 ? 0 : errno;
}

}  // namespace

RunDirectory::RunDirectory(std::string path) : wanted(std::move(path)) {}

std::string RunDirectory::path() const {
  boost::lock_guard<boost::mutex> guard(lock);
  return claimed.empty() ? wanted : claimed;
}

bool RunDirectory::claim(bool announce) {
  boost::lock_guard<boost::mutex> guard(lock);
  if (!tried) {
    takeDirectory();
    if (announce && claimed.empty()) printFailure();
    if (announce && !claimed.empty() && claimed != wanted) {
      printMessage(&std::cout, "output logfile in " + claimed);
    }
  }
  return !claimed.empty();
}

void RunDirectory::reportFailure() {
  boost::lock_guard<boost::mutex> guard(lock);
  if (tried && claimed.empty()) printFailure();
}

void RunDirectory::keepManifest(std::string text) {
  boost::lock_guard<boost::mutex> guard(lock);
  manifest = std::move(text);
  writeManifest();
}

void RunDirectory::writeManifest() {
  if (claimed.empty() || manifest.empty()) return;
  const std::string final = claimed + kManifestFileName;
  const std::string temporary = final + ".tmp";
  const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return;
  std::size_t done = 0;
  while (done < manifest.size()) {
    const ssize_t written = ::write(fd, manifest.data() + done, manifest.size() - done);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) break;
    done += static_cast<std::size_t>(written);
  }
  // A manifest that did not reach the disk whole leaves the last one standing.
  if (::close(fd) == 0 && done == manifest.size() && ::rename(temporary.c_str(), final.c_str()) == 0) return;
  ::unlink(temporary.c_str());
}

void RunDirectory::printFailure() {
  if (reported) return;
  reported = true;
  printMessage(&std::cout, "cannot create log directory " + wanted + ": " +
                               std::strerror(error) + "; the records meant for it are lost");
}

void RunDirectory::takeDirectory() {
  tried = true;
  const std::string own = wanted.substr(0, wanted.size() - 1);
  // The system would cut the name at the NUL, and every numbered name with it.
  if (own.find('\0') != std::string::npos) {
    error = EINVAL;
    return;
  }
  // Levels that exist already fail with EEXIST; any other failure shows in
  // the mkdir of the run's own directory below.
  for (std::size_t slash = own.find('/', 1); slash != std::string::npos;
       slash = own.find('/', slash + 1)) {
    makeDirectory(own.substr(0, slash));
  }
  for (int number = 1;; ++number) {
    const std::string candidate = number == 1 ? own : own + "-" + std::to_string(number);
    error = makeDirectory(candidate);
    if (error == 0) {
      claimed = candidate + "/";
      writeManifest();
      return;
    }
    if (error != EEXIST) return;
  }
}

}  // namespace kolvaprof
