#include "tools/common/pathwatch.h"

#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The folder a path is in: "." for a bare name, "/" at the top.
std::string folderof(const std::string& path) {
  size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

bool exists(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0;
}

}  // namespace

pathwatch::~pathwatch() {
  if (fd_ >= 0) close(fd_);
}

bool pathwatch::watch(const std::string& path) {
  path_ = path;
  if (fd_ < 0) fd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  return fd_ >= 0 && place();
}

void pathwatch::stop() {
  if (wd_ >= 0) inotify_rm_watch(fd_, wd_);
  wd_ = -1;
}

// Watches the deepest folder on the way to the path that is there now.
bool pathwatch::place() {
  std::string folder = folderof(path_);
  while (!exists(folder) && folder != "/" && folder != ".") folder = folderof(folder);
  // A link that comes back is made and renamed into place; a node is made,
  // then given its owner and mode; a folder on the way may come or go.
  int wd = inotify_add_watch(fd_, folder.c_str(),
                             IN_CREATE | IN_MOVED_TO | IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF);
  if (wd_ >= 0 && wd != wd_) inotify_rm_watch(fd_, wd_);
  wd_ = wd;
  return wd_ >= 0;
}

bool pathwatch::changed() {
  if (wd_ < 0) return false;
  alignas(inotify_event) char events[4096];
  while (read(fd_, events, sizeof events) > 0) {
  }
  if (exists(path_)) return true;
  place();  // a folder on the way came or went
  return false;
}
