#include "tools/common/replacefile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "tools/common/writeall.h"

namespace {

std::string folderof(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

bool failed(const std::string& what, int err, std::string* why) {
  *why = what + ": " + strerror(err);
  return false;
}

}  // namespace

bool replacefile(const std::string& path, std::string_view text, mode_t mode, bool durable,
                 std::string* why) {
  std::string folder = folderof(path);
  size_t slash = path.rfind('/');
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  // Messages name the pattern, the same however often a write fails.
  std::string pattern = (folder == "/" ? "" : folder) + "/." + name + ".XXXXXX";
  std::vector<char> buf(pattern.begin(), pattern.end());
  buf.push_back('\0');
  int fd = mkostemp(buf.data(), O_CLOEXEC);
  if (fd < 0) return failed(pattern, errno, why);
  std::string temp = buf.data();
  bool written = fchmod(fd, mode) == 0 && writeall(fd, text) && (!durable || fsync(fd) == 0);
  int err = errno;
  if (close(fd) != 0 && written) {
    written = false;
    err = errno;
  }
  if (!written || rename(temp.c_str(), path.c_str()) != 0) {
    if (written) err = errno;
    unlink(temp.c_str());
    return failed(written ? path : pattern, err, why);
  }
  if (!durable) return true;
  int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) return failed(folder, errno, why);
  bool synced = fsync(dir) == 0;
  err = errno;
  close(dir);
  return synced || failed(folder, err, why);
}
