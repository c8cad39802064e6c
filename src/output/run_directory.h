#pragma once

#include <string>

#include <boost/thread/mutex.hpp>

namespace kolvaprof {

// The directory of one run, "<parent><stamp>/". Two runs started in the same
// second must not share it, since each would truncate the other's files: it
// is taken with an exclusive mkdir, and when another run holds the name the
// run moves on to "<stamp>-2/", "<stamp>-3/" ...
class RunDirectory {
 public:
  // `path` ends in '/'.
  explicit RunDirectory(std::string path);
  RunDirectory(const RunDirectory&) = delete;
  RunDirectory& operator=(const RunDirectory&) = delete;

  // The name to show: the one claimed, or the one asked for while none is.
  std::string path() const;

  // The first call makes the missing levels of the parent and takes the
  // directory; every call tells whether the run has one. `announce`: when
  // this very call takes it, the console says where the run went if the name
  // differs from the one asked for, and says that it could not be made.
  bool claim(bool announce);

  // That the directory could not be made, on the console once.
  void reportFailure();

  // run.json: written now if the directory is taken, else when it is, and
  // each time in whole (a temporary file renamed over the last), so that a
  // reader never finds half of one.
  void keepManifest(std::string text);

 private:
  // Both with the lock held.
  void takeDirectory();
  void printFailure();
  void writeManifest();

  mutable boost::mutex lock;
  const std::string wanted;
  std::string claimed;
  bool tried = false;
  int error = 0;  // errno of the mkdir that failed
  bool reported = false;
  std::string manifest;  // empty until the run has described itself
};

}  // namespace kolvaprof
