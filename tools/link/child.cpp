#include "tools/link/child.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "tools/common/spawn.h"

pid_t startprogram(const std::vector<std::string>& argv, const sigset_t& mask, int* feed,
                   int* err) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) {
    *err = errno;
    return -1;
  }
  spawnspec s;
  s.argv = argv;
  s.fds[0] = fds[0];
  s.mask = &mask;
  pid_t pid = spawn(s, err);
  close(fds[0]);
  if (pid < 0) {
    close(fds[1]);
    return -1;
  }
  fcntl(fds[1], F_SETFL, O_NONBLOCK);
  *feed = fds[1];
  return pid;
}
