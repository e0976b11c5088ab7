#include "storewalk.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <vector>

#include "tools/common/civil.h"

namespace {

bool number(std::string_view s, size_t pos, size_t len, int* v) {
  if (pos + len > s.size()) return false;
  *v = 0;
  for (size_t i = pos; i < pos + len; ++i) {
    if (s[i] < '0' || s[i] > '9') return false;
    *v = *v * 10 + (s[i] - '0');
  }
  return true;
}

bool validdate(const hourkey& k) {
  return k.month >= 1 && k.month <= 12 && k.day >= 1 && k.day <= daysinmonth(k.year, k.month);
}

// What an entry of a directory is: a directory or a regular file (either
// perhaps through a symbolic link), something else, or nothing that can be
// reached (a link to nothing, errno in `err`).
enum class entrykind { dir, file, other, broken };

struct entry {
  std::string name;
  entrykind kind;
  mode_t mode = 0;  // for `other`
  int err = 0;      // for `broken`
};

entrykind kindof(mode_t mode) {
  return S_ISDIR(mode) ? entrykind::dir : S_ISREG(mode) ? entrykind::file : entrykind::other;
}

// The entries of a directory but "." and "..", sorted by name; false (with
// errno) when it cannot be read.
bool listdir(const std::string& path, std::vector<entry>* out) {
  DIR* d = opendir(path.c_str());
  if (!d) return false;
  out->clear();
  while (dirent* e = readdir(d)) {
    entry en{e->d_name, entrykind::file};
    if (en.name == "." || en.name == "..") continue;
    struct stat st;
    if (e->d_type == DT_DIR) {
      en.kind = entrykind::dir;
    } else if (e->d_type == DT_REG) {
      en.kind = entrykind::file;
    } else if (stat((path + "/" + en.name).c_str(), &st) == 0) {
      en.kind = kindof(st.st_mode);
      en.mode = st.st_mode;
    } else {
      en.kind = entrykind::broken;
      en.err = errno;
    }
    out->push_back(std::move(en));
  }
  closedir(d);
  std::sort(out->begin(), out->end(),
            [](const entry& a, const entry& b) { return a.name < b.name; });
  return true;
}

hourkey monthof(hourkey k) { return {k.year, k.month, 0, -1}; }
hourkey dayof(hourkey k) { return {k.year, k.month, k.day, -1}; }

using strayfn = std::function<void(const std::string&, const char*)>;

// The hours walked: files found, sorted once a month is complete.
struct walker {
  hourkey lo, hi;
  const std::function<void(const std::string&, int)>& onerror;
  const strayfn& onstray;
  std::vector<hourfile> found;

  bool monthwanted(const hourkey& m) const { return m >= monthof(lo) && monthof(m) <= monthof(hi); }
  bool daywanted(const hourkey& d) const { return d >= dayof(lo) && dayof(d) <= dayof(hi); }
  bool hourwanted(const hourkey& h) const { return h >= lo && h <= hi; }

  void addfile(const std::string& path, const hourkey& key, placement where) {
    if (hourwanted(key)) found.push_back({path, key, where});
  }

  // An entry that is no part of the tree, named and not read; `dirwhat`
  // says why a directory there is not one of the store's.
  void stray(const std::string& path, const entry& e, const char* dirwhat) {
    if (e.kind == entrykind::broken) return onerror(path, e.err);
    if (!onstray) return;
    onstray(path, e.kind == entrykind::other ? notregular(e.mode)
                  : e.kind == entrykind::dir ? dirwhat
                                             : "not an hour file");
  }

  // A day directory; `month` is the key of the month directory holding it,
  // or none (year 0) at the top.
  void walkday(const std::string& path, const hourkey& day, const hourkey* month) {
    if (!daywanted(day)) return;
    std::vector<entry> files;
    if (!listdir(path, &files)) return onerror(path, errno);
    for (const entry& f : files) {
      hourkey k;
      if (f.kind != entrykind::file || !parsehourname(f.name, &k)) {
        stray(path + "/" + f.name, f, "a directory in a day directory");
        continue;
      }
      placement where = !month                   ? placement::nomonth
                        : dayof(k) != day        ? placement::wrongday
                        : monthof(day) != *month ? placement::wrongmonth
                                                 : placement::proper;
      addfile(path + "/" + f.name, k, where);
    }
  }

  void walkmonth(const std::string& path, const hourkey& month) {
    std::vector<entry> entries;
    if (!listdir(path, &entries)) return onerror(path, errno);
    for (const entry& e : entries) {
      hourkey k;
      std::string p = path + "/" + e.name;
      if (e.kind == entrykind::dir && parsedayname(e.name, &k))
        walkday(p, k, &month);
      else if (e.kind == entrykind::file && parsehourname(e.name, &k))
        addfile(p, k, monthof(k) == month ? placement::noday : placement::wrongmonth);
      else
        stray(p, e, "not a day directory");
    }
  }
};

}  // namespace

bool parsehourname(std::string_view name, hourkey* key) {
  hourkey k;
  if (name.size() != 13 || name[2] != '_' || name[5] != '_' || name[10] != ':') return false;
  if (!number(name, 0, 2, &k.day) || !number(name, 3, 2, &k.month) ||
      !number(name, 6, 4, &k.year) || !number(name, 11, 2, &k.hour))
    return false;
  if (!validdate(k) || k.hour > 23) return false;
  *key = k;
  return true;
}

bool parsedayname(std::string_view name, hourkey* key) {
  hourkey k;
  if (name.size() != 10 || name[2] != '_' || name[5] != '_') return false;
  if (!number(name, 0, 2, &k.day) || !number(name, 3, 2, &k.month) || !number(name, 6, 4, &k.year))
    return false;
  if (!validdate(k)) return false;
  *key = k;
  return true;
}

bool parsemonthname(std::string_view name, hourkey* key) {
  hourkey k;
  if (name.size() != 7 || name[2] != '_') return false;
  if (!number(name, 0, 2, &k.month) || !number(name, 3, 4, &k.year)) return false;
  if (k.month < 1 || k.month > 12) return false;
  *key = k;
  return true;
}

std::string hourpath(const hourkey& k) {
  char buf[64];
  snprintf(buf, sizeof buf, "%02d_%04d/%02d_%02d_%04d/%02d_%02d_%04d:%02d", k.month, k.year, k.day,
           k.month, k.year, k.day, k.month, k.year, k.hour);
  return buf;
}

const char* notregular(mode_t mode) {
  if (S_ISFIFO(mode)) return "a FIFO, not a regular file";
  if (S_ISSOCK(mode)) return "a socket, not a regular file";
  if (S_ISCHR(mode)) return "a character device, not a regular file";
  if (S_ISBLK(mode)) return "a block device, not a regular file";
  return "not a regular file";
}

const char* placementtext(placement p) {
  switch (p) {
    case placement::noday: return "hour file outside a day directory";
    case placement::nomonth: return "day directory outside a month directory";
    case placement::bare: return "hour file outside a day and a month directory";
    case placement::wrongday: return "hour file in the directory of another day";
    case placement::wrongmonth: return "hour file under the directory of another month";
    default: return "";
  }
}

void walkstore(const std::string& root, const hourkey& lo, const hourkey& hi,
               const std::function<void(const hourfile&)>& visit,
               const std::function<void(const std::string&, int)>& onerror,
               const strayfn& onstray) {
  std::vector<entry> top;
  if (!listdir(root, &top)) return onerror(root, errno);
  // The top level is small (a directory a month): sort it by time, then
  // walk a month at a time, emitting its hours in order.
  struct item {
    hourkey key;
    std::string name;
    int kind;  // 0 month directory, 1 day directory, 2 hour file
  };
  walker w{lo, hi, onerror, onstray, {}};
  std::vector<item> items;
  for (const entry& e : top) {
    hourkey k;
    bool dir = e.kind == entrykind::dir, file = e.kind == entrykind::file;
    if (dir && parsemonthname(e.name, &k))
      items.push_back({k, e.name, 0});
    else if (dir && parsedayname(e.name, &k))
      items.push_back({k, e.name, 1});
    else if (file && parsehourname(e.name, &k))
      items.push_back({k, e.name, 2});
    else
      w.stray(root + "/" + e.name, e, "not a month or day directory");
  }
  std::stable_sort(items.begin(), items.end(),
                   [](const item& a, const item& b) { return monthof(a.key) < monthof(b.key); });
  for (size_t i = 0; i < items.size();) {
    hourkey month = monthof(items[i].key);
    for (; i < items.size() && monthof(items[i].key) == month; ++i) {
      if (!w.monthwanted(month)) continue;
      const item& it = items[i];
      std::string path = root + "/" + it.name;
      if (it.kind == 0) w.walkmonth(path, it.key);
      if (it.kind == 1) w.walkday(path, it.key, nullptr);
      if (it.kind == 2) w.addfile(path, it.key, placement::bare);
    }
    std::stable_sort(w.found.begin(), w.found.end(), [](const hourfile& a, const hourfile& b) {
      return a.key != b.key ? a.key < b.key : a.path < b.path;
    });
    for (const hourfile& f : w.found) visit(f);
    w.found.clear();
  }
}
