#include "storewatch.h"

#include <dirent.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>

namespace {

constexpr uint32_t foldermask = IN_MODIFY | IN_ATTRIB | IN_CLOSE_WRITE | IN_CREATE | IN_DELETE |
                                IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF |
                                IN_ONLYDIR;

}  // namespace

hourrange hoursof(const hourkey& k) {
  if (k.day == 0) return {{k.year, k.month, 1, 0}, {k.year, k.month, 31, 23}};
  if (k.hour < 0) return {{k.year, k.month, k.day, 0}, {k.year, k.month, k.day, 23}};
  return {k, k};
}

storewatch::~storewatch() { stop(); }

void storewatch::stop() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
  folders_.clear();
}

bool storewatch::watch(const std::string& path, kind what, const hourkey& key) {
  int wd = inotify_add_watch(fd_, path.c_str(), foldermask);
  if (wd < 0) return errno == ENOENT || errno == ENOTDIR;  // gone again: nothing to watch
  folders_[wd] = {path, what, key};
  return true;
}

// A folder and the month and day folders in it.
bool storewatch::watchtree(const std::string& path, kind what, const hourkey& key) {
  if (!watch(path, what, key)) return false;
  if (what == kind::day) return true;
  DIR* d = opendir(path.c_str());
  if (!d) return true;  // the walk names it
  bool ok = true;
  while (dirent* e = readdir(d)) {
    hourkey k;
    std::string name = e->d_name;
    if (e->d_type != DT_DIR && e->d_type != DT_UNKNOWN && e->d_type != DT_LNK) continue;
    if (what == kind::top && parsemonthname(name, &k))
      ok = watchtree(path + "/" + name, kind::month, k) && ok;
    else if (parsedayname(name, &k))
      ok = watch(path + "/" + name, kind::day, k) && ok;
  }
  closedir(d);
  return ok;
}

bool storewatch::start() {
  stop();
  fd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (fd_ < 0) return false;
  if (watchtree(root_, kind::top, {})) return true;
  stop();
  return false;
}

void storewatch::event(const folder& f, const std::string& name, uint32_t mask,
                       std::vector<hourrange>* dirty, bool* all) {
  hourkey k;
  if (mask & IN_ISDIR) {
    bool isnew = mask & (IN_CREATE | IN_MOVED_TO);
    bool month = f.what == kind::top && parsemonthname(name, &k);
    if (!month && f.what != kind::day && !parsedayname(name, &k)) return;
    if (!isnew) {
      *all = true;  // a folder moved away: its watches would name the wrong place
      return;
    }
    if (!watchtree(f.path + "/" + name, month ? kind::month : kind::day, k)) *all = true;
    dirty->push_back(hoursof(k));
    return;
  }
  if (parsehourname(name, &k)) dirty->push_back({k, k});
}

void storewatch::take(std::vector<hourrange>* dirty, bool* all) {
  if (fd_ < 0) return;
  alignas(inotify_event) char buf[1 << 14];
  bool rebuild = false;
  for (;;) {
    ssize_t n = read(fd_, buf, sizeof buf);
    if (n <= 0) break;
    for (char* p = buf; p < buf + n;) {
      auto* e = reinterpret_cast<inotify_event*>(p);
      p += sizeof(inotify_event) + e->len;
      if (e->mask & IN_Q_OVERFLOW) {
        *all = true;
        continue;
      }
      auto it = folders_.find(e->wd);
      if (it == folders_.end()) continue;
      if (e->mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED)) {
        // Its path no longer names it: no more of its news.
        if (it->second.what == kind::top) rebuild = true;
        if (e->mask & IN_MOVE_SELF) inotify_rm_watch(fd_, e->wd);
        folders_.erase(it);
        *all = true;
        continue;
      }
      event(it->second, e->len ? std::string(e->name) : std::string(), e->mask, dirty, all);
    }
  }
  if (rebuild) stop();
}
