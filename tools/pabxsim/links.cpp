#include "tools/pabxsim/links.h"

#include <fcntl.h>
#include <unistd.h>

#include "tools/common/diag.h"
#include "tools/common/signals.h"
#include "tools/common/writeall.h"

namespace {

class fileout : public simlink {
 public:
  explicit fileout(int fd) : fd_(fd) {}
  ~fileout() override {
    if (fd_ > STDERR_FILENO) close(fd_);
  }
  // A file that failed once is not written again: the run ends.
  bool up() override { return !failed_; }
  bool send(const std::string& bytes) override {
    if (writeall(fd_, bytes, signalnoted())) return true;
    if (!*signalnoted()) warn("write");
    failed_ = true;
    return false;
  }
  void drop(bool) override {}  // a file has no link to break

 private:
  int fd_;
  bool failed_ = false;
};

}  // namespace

std::unique_ptr<simlink> filelink(const std::string& path) {
  if (path == "-") return std::make_unique<fileout>(STDOUT_FILENO);
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    warn("%s", path.c_str());
    return nullptr;
  }
  return std::make_unique<fileout>(fd);
}
