#include "loadedfile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

namespace {

// The hash of the file's first `n` bytes and of the first `headbytes` of
// them; false (errno set) when they cannot all be read.
bool hashprefix(int fd, int64_t n, uint64_t* hash, uint64_t* head) {
  std::vector<char> buf(1 << 16);
  uint64_t h = fnvbasis;
  *head = fnvbasis;
  for (int64_t at = 0; at < n;) {
    size_t want = static_cast<size_t>(std::min<int64_t>(n - at, static_cast<int64_t>(buf.size())));
    ssize_t got = pread(fd, buf.data(), want, at);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      if (got == 0) errno = EIO;  // shorter than its size said a moment ago
      return false;
    }
    std::string_view part(buf.data(), static_cast<size_t>(got));
    if (at < headbytes)
      *head = fnv1a(*head, part.substr(0, static_cast<size_t>(headbytes - at)));
    h = fnv1a(h, part);
    at += got;
  }
  *hash = h;
  return true;
}

// The hash of bytes [from, to) of the file, going on from h; false when
// they cannot be read.
bool hashrange(int fd, int64_t from, int64_t to, uint64_t* h) {
  char buf[1 << 14];
  while (from < to) {
    size_t want = static_cast<size_t>(std::min<int64_t>(to - from, sizeof buf));
    ssize_t got = pread(fd, buf, want, from);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      if (got == 0) errno = EIO;
      return false;
    }
    *h = fnv1a(*h, std::string_view(buf, static_cast<size_t>(got)));
    from += got;
  }
  return true;
}

}  // namespace

bool advancepast(loadedfile* f, int fd, const linereader::line& line) {
  std::string_view bytes = line.text;
  uint64_t h = f->hash;
  if (line.toolong) {
    if (!hashrange(fd, line.offset, line.end, &h)) return false;
  } else {
    h = fnv1a(fnv1a(h, bytes), "\n");
  }
  if (f->bytes < headbytes) {
    uint64_t head = f->head;
    int64_t upto = std::min(line.end, headbytes);
    if (!line.toolong) {
      std::string whole = std::string(bytes) + "\n";
      head = fnv1a(head, std::string_view(whole).substr(0, static_cast<size_t>(upto - line.offset)));
    } else if (!hashrange(fd, line.offset, upto, &head)) {
      return false;
    }
    f->head = head;
  }
  f->hash = h;
  f->bytes = line.end;
  f->lines = line.number;
  return true;
}

uint64_t fnv1a(uint64_t h, std::string_view s) {
  for (unsigned char c : s) {
    h ^= c;
    h *= 0x100000001b3ull;
  }
  return h;
}

loadedfile freshfile(const std::string& file, int64_t hour) {
  loadedfile f;
  f.file = file;
  f.hour = hour;
  f.hash = f.head = fnvbasis;
  return f;
}

namespace {

int64_t nanoseconds(const statx_timestamp& t) { return t.tv_sec * 1000000000 + t.tv_nsec; }

bool status(int dirfd, const char* path, int flags, filestatus* st) {
  struct statx x;
  if (statx(dirfd, path, flags, STATX_BASIC_STATS | STATX_BTIME, &x) != 0) return false;
  st->dev = makedev(x.stx_dev_major, x.stx_dev_minor);
  st->ino = x.stx_ino;
  st->born = x.stx_mask & STATX_BTIME ? nanoseconds(x.stx_btime) : 0;
  st->size = static_cast<int64_t>(x.stx_size);
  st->mtime = nanoseconds(x.stx_mtime);
  st->regular = S_ISREG(x.stx_mode);
  return true;
}

bool samefile(const filestatus& st, const loadedfile& f) {
  return st.dev == f.dev && st.ino == f.ino && st.born == f.born;
}

}  // namespace

bool statusof(int fd, filestatus* st) { return status(fd, "", AT_EMPTY_PATH, st); }
bool statusat(const std::string& path, filestatus* st) {
  return status(AT_FDCWD, path.c_str(), 0, st);
}

bool unchanged(const filestatus& st, const loadedfile& f) {
  return samefile(st, f) && st.size == f.size && st.mtime == f.mtime;
}

void takestatus(const filestatus& st, loadedfile* f) {
  f->dev = st.dev;
  f->ino = st.ino;
  f->born = st.born;
  f->size = st.size;
  f->mtime = st.mtime;
}

const char* verdicttext(verdict v) {
  switch (v) {
    case verdict::truncated: return "it is shorter than the part already loaded";
    case verdict::edited: return "the part already loaded was changed";
    case verdict::replaced: return "it was replaced by a file that differs in the part already loaded";
    default: return "";
  }
}

verdict checkfile(int fd, const filestatus& st, const loadedfile& was, loadedfile* next) {
  *next = was;
  if (unchanged(st, was)) return verdict::unchanged;
  if (was.bytes == 0) return verdict::grown;  // nothing loaded that could have changed
  bool same = samefile(st, was);
  if (same && st.size < was.bytes) return verdict::truncated;
  uint64_t hash = 0, head = 0;
  int64_t n = std::min<int64_t>(was.bytes, st.size);
  if (!hashprefix(fd, n, &hash, &head)) return verdict::unreadable;
  if (n == was.bytes && hash == was.hash) return verdict::grown;
  if (same) return verdict::edited;
  if (n >= std::min(was.bytes, headbytes) && head == was.head) return verdict::replaced;
  *next = freshfile(was.file, was.hour);
  next->base = was.base + was.bytes;
  return verdict::madeagain;
}
