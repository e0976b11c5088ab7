// Waiting for a path to appear, such as a device node or the link udev
// makes for a USB adapter plugged back in, without polling it: an inotify
// watch on the deepest folder of the path that exists, moved down as the
// folders on the way appear.
#pragma once

#include <string>

class pathwatch {
 public:
  pathwatch() = default;
  ~pathwatch();
  pathwatch(const pathwatch&) = delete;
  pathwatch& operator=(const pathwatch&) = delete;

  // Starts watching for `path`; false when no watch can be had (the caller
  // then waits by the clock alone).
  bool watch(const std::string& path);
  void stop();

  // Readable when the folder watched changed; -1 when not watching.
  int fd() const { return wd_ >= 0 ? fd_ : -1; }

  // Takes the changes: true when the path is there now (it may still be
  // going through its set-up: opening it may fail for a moment).
  bool changed();

 private:
  bool place();

  std::string path_;
  int fd_ = -1;  // the inotify instance
  int wd_ = -1;  // its watch
};
