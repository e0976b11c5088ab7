// A pseudo-terminal standing in for the exchange's serial port. Hanging up
// closes the exchange's side and removes the link to it, as pulling a USB
// adapter does; the one made next is new, with the kernel's default line
// settings, as a re-plugged adapter comes back with its driver's. Only the
// first is put into raw mode, as an operator's stty at boot would leave the
// port. Nothing is written before a reader has the terminal open and the
// line is raw: a cooked line would take the bytes for line editing and
// signals (ETX is the interrupt character) and lose records.
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "tools/common/diag.h"
#include "tools/common/signals.h"
#include "tools/common/writeall.h"
#include "tools/pabxsim/links.h"

namespace {

constexpr double readerlimit = 2;  // seconds a reader may leave a new line cooked

// Whether bytes reach a reader unchanged: no line editing, no signal or
// flow-control characters, no translation, no echo.
bool israw(const termios& t) {
  return !(t.c_lflag & (ICANON | ISIG | IEXTEN | ECHO)) &&
         !(t.c_iflag & (ICRNL | INLCR | IGNCR | ISTRIP | IXON));
}

class ptyout : public simlink {
 public:
  explicit ptyout(std::string linkpath) : linkpath_(std::move(linkpath)) {}
  ~ptyout() override {
    if (master_ >= 0) unplug();
  }

  bool up() override {
    if (master_ >= 0) return true;
    return make() && waitforreader();
  }

  bool send(const std::string& bytes) override {
    // A terminal nobody holds keeps what is written for no one.
    if (readergone()) return false;
    discardecho();
    return writeall(master_, bytes, signalnoted());
  }

  // The kernel throws away what the reader has not read yet when the master
  // closes: wait until it has read everything.
  void drop(bool) override {
    if (master_ < 0) return;
    pausefor(0.02);
    int probe = open(slave_.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    for (int waited = 0; probe >= 0 && waited < 10000; waited += 5) {
      int unread = 0;
      if (ioctl(probe, FIONREAD, &unread) != 0 || unread == 0) break;
      discardecho();
      if (!pausefor(0.005)) break;
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
    if (made_++ == 0) setraw();
    // A terminal whose other side was open once, and is no more, reports a
    // hang-up until a reader opens it: that is what waitforreader() waits
    // for. A new one reports nothing either way.
    int once = open(slave_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (once >= 0) close(once);
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

  bool readergone() {
    pollfd p{master_, POLLOUT, 0};
    return poll(&p, 1, 0) == 1 && (p.revents & POLLHUP);
  }

  void setraw() {
    termios t{};
    tcgetattr(master_, &t);
    cfmakeraw(&t);
    tcsetattr(master_, TCSANOW, &t);
  }

  // Until a reader has the terminal open and the line is raw, which the
  // reader sets (a collector puts its settings back on a re-plugged port);
  // one that leaves it cooked for long gets it raw. False at a signal.
  bool waitforreader() {
    while (readergone())
      if (!pausefor(0.02)) return false;
    for (double waited = 0;; waited += 0.005) {
      termios t{};
      if (tcgetattr(master_, &t) != 0 || israw(t)) return true;
      if (waited >= readerlimit) {
        warnx("%s: the reader left the line cooked: set raw", slave_.c_str());
        setraw();
        return true;
      }
      if (!pausefor(0.005)) return false;
    }
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
