// Watching a store for changes without reading it again: an inotify watch
// on the store's folder and on each month and day folder in it, added as
// they appear. A change names the hours it may have touched: the hour of a
// file written, made, moved in or removed, the month or day of a folder
// that appeared. What cannot be told so (the kernel's queue overflowed, a
// folder moved away or removed) asks for the whole store.
#pragma once

#include <string>
#include <unordered_map>
#include <vector>

#include "cdr/storewalk.h"

struct hourrange {
  hourkey lo, hi;
};

class storewatch {
 public:
  explicit storewatch(const std::string& root) : root_(root) {}
  ~storewatch();
  storewatch(const storewatch&) = delete;
  storewatch& operator=(const storewatch&) = delete;

  // Watches the store's folders; false when inotify cannot watch them all
  // (its limits), and the caller must look by the clock.
  bool start();
  void stop();
  bool active() const { return fd_ >= 0; }
  // Readable when something changed.
  int fd() const { return fd_; }

  // Takes the changes: the hours they may have touched go to *dirty;
  // *all is set when the whole store must be looked at. The watches follow
  // folders that appeared; when the store's own folder went, the watch
  // stops (active() is false).
  void take(std::vector<hourrange>* dirty, bool* all);

 private:
  enum class kind { top, month, day };
  struct folder {
    std::string path;
    kind what;
    hourkey key;
  };
  bool watch(const std::string& path, kind what, const hourkey& key);
  bool watchtree(const std::string& path, kind what, const hourkey& key);
  void event(const folder& f, const std::string& name, uint32_t mask,
             std::vector<hourrange>* dirty, bool* all);

  std::string root_;
  int fd_ = -1;
  std::unordered_map<int, folder> folders_;  // by watch descriptor
};

// The hours of a month or a day (a key whose day or hour is not named).
hourrange hoursof(const hourkey& k);
