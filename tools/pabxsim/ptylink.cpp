// A pseudo-terminal standing in for the exchange's serial port. Hanging up
// closes the exchange's side and removes the link to it, as pulling a USB
// adapter does; the one made next is new, with the kernel's default line
// settings, as a re-plugged adapter comes back with its driver's. Only the
// first is put into raw mode, as an operator's stty at boot would leave the
// port.
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "tools/common/diag.h"
#include "tools/common/writeall.h"
#include "tools/pabxsim/links.h"

namespace {

void pause(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

class ptyout : public simlink {
 public:
  explicit ptyout(std::string linkpath) : linkpath_(std::move(linkpath)) {}
  ~ptyout() override {
    if (master_ >= 0) unplug();
  }

  bool up() override {
    if (master_ >= 0) return true;
    if (!make()) return false;
    // Nothing is sent before a reader has the line open: a slave nobody
    // holds reports a hang-up on the master. Then a moment for the reader
    // to set its line up, since bytes that arrive before are taken with the
    // settings of that moment.
    for (;;) {
      pollfd p{master_, POLLOUT, 0};
      poll(&p, 1, 50);
      if (!(p.revents & POLLHUP)) break;
      pause(20);
    }
    pause(200);
    return true;
  }

  bool send(const std::string& bytes) override {
    discardecho();
    return writeall(master_, bytes);
  }

  // The kernel throws away what the reader has not read yet when the master
  // closes: wait until it has read everything.
  void drop(bool) override {
    if (master_ < 0) return;
    pause(20);
    int probe = open(slave_.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    for (int waited = 0; probe >= 0 && waited < 10000; waited += 5) {
      int unread = 0;
      if (ioctl(probe, FIONREAD, &unread) != 0 || unread == 0) break;
      discardecho();
      pause(5);
    }
    if (probe >= 0) close(probe);
    unplug();
  }

 private:
  bool make() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
      warn("pseudo-terminal");
      return false;
    }
    slave_ = ptsname(master_);
    if (made_++ == 0) {
      termios t{};
      tcgetattr(master_, &t);
      cfmakeraw(&t);
      tcsetattr(master_, TCSANOW, &t);
    }
    printf("%s\n", slave_.c_str());
    fflush(stdout);
    if (!linkpath_.empty()) {
      std::string fresh = linkpath_ + ".new";
      unlink(fresh.c_str());
      if (symlink(slave_.c_str(), fresh.c_str()) != 0 || rename(fresh.c_str(), linkpath_.c_str())) {
        warn("%s", linkpath_.c_str());
        return false;
      }
    }
    return true;
  }

  // The link goes before the terminal, as a device's name goes with the
  // device: once the terminal is closed its number is free for the next
  // one made on this machine, and a reader that kept trying the link would
  // open a stranger's terminal.
  void unplug() {
    if (!linkpath_.empty()) unlink(linkpath_.c_str());
    close(master_);
    master_ = -1;
  }

  // A reader whose line still echoes sends our bytes back: read them away.
  void discardecho() {
    char junk[4096];
    for (pollfd p{master_, POLLIN, 0}; poll(&p, 1, 0) == 1 && (p.revents & POLLIN);)
      if (read(master_, junk, sizeof junk) <= 0) break;
  }

  std::string linkpath_;
  std::string slave_;
  int master_ = -1;
  int made_ = 0;
};

}  // namespace

std::unique_ptr<simlink> ptylink(const std::string& linkpath) {
  return std::make_unique<ptyout>(linkpath);
}
