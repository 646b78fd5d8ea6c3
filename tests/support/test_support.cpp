#include "tests/support/test_support.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

std::string TestDataPath(const std::string& relative) {
  std::string path = std::string(TESTDATA_DIR) + "/" + relative;
  struct stat st;
  if (stat(path.c_str(), &st) != 0) ADD_FAILURE() << "test data file missing: " << path;
  return path;
}

namespace {

// Removes `name` in the folder `parent` (a file, a link, or a folder with all below it). Works
// through folder descriptors, so that no path is longer than one name.
void RemoveEntry(int parent, const char* name) {
  if (unlinkat(parent, name, 0) == 0) return;
  int fd = openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0 && fchmodat(parent, name, 0700, 0) == 0)
    fd = openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd >= 0) {
    fchmod(fd, 0700);
    if (DIR* dir = fdopendir(fd)) {
      while (const dirent* e = readdir(dir)) {
        const std::string entry = e->d_name;
        if (entry != "." && entry != "..") RemoveEntry(fd, entry.c_str());
      }
      closedir(dir);  // closes fd
    } else {
      close(fd);
    }
  }
  if (unlinkat(parent, name, AT_REMOVEDIR) != 0) std::perror(("cannot remove " + std::string(name)).c_str());
}

}  // namespace

TempWorkFolder::TempWorkFolder() {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/engine_test_XXXXXX";
  if (!mkdtemp(pattern.data())) {
    std::perror(("cannot make " + pattern).c_str());
    std::abort();
  }
  path_ = pattern;
  previous_ = open(".", O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (previous_ < 0 || chdir(path_.c_str()) != 0) {
    std::perror(("cannot enter " + path_).c_str());
    std::abort();
  }
}

TempWorkFolder::~TempWorkFolder() {
  if (fchdir(previous_) != 0) std::perror("cannot return to the previous current directory");
  close(previous_);
  RemoveEntry(AT_FDCWD, path_.c_str());
}
