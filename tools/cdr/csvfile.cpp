#include "csvfile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

class csvparser {
 public:
  explicit csvparser(std::string_view text) : s_(text) {
    if (s_.substr(0, 3) == "\xef\xbb\xbf") at_ = 3;
  }

  const char* run(const std::function<void(csvrecord&)>& each, long* badline) {
    while (at_ < s_.size()) {
      if (s_[at_] == '#' || lineend()) {
        skipline();
        continue;
      }
      csvrecord r;
      r.line = line_;
      if (const char* why = record(&r)) {
        *badline = whyline_;
        return why;
      }
      each(r);
    }
    return nullptr;
  }

 private:
  bool lineend() const {
    return s_[at_] == '\n' || (s_[at_] == '\r' && at_ + 1 < s_.size() && s_[at_ + 1] == '\n');
  }
  void eatlineend() {
    at_ += s_[at_] == '\r' ? 2 : 1;
    ++line_;
  }
  void skipline() {
    while (at_ < s_.size() && !lineend()) ++at_;
    if (at_ < s_.size()) eatlineend();
  }

  const char* record(csvrecord* r) {
    for (;;) {
      std::string field;
      if (const char* why = at_ < s_.size() && s_[at_] == '"' ? quoted(&field) : plain(&field))
        return why;
      r->fields.push_back(std::move(field));
      if (at_ == s_.size()) return nullptr;
      if (s_[at_] == ',') {
        ++at_;
        continue;
      }
      eatlineend();  // plain() and quoted() stop only at a comma or a line end
      return nullptr;
    }
  }

  const char* plain(std::string* field) {
    size_t from = at_;
    while (at_ < s_.size() && s_[at_] != ',' && !lineend()) {
      if (s_[at_] == '"') return fail("a quote within a field that does not begin with one");
      ++at_;
    }
    field->assign(s_.substr(from, at_ - from));
    return nullptr;
  }

  const char* quoted(std::string* field) {
    long opened = line_;
    ++at_;
    for (;;) {
      if (at_ == s_.size()) {
        line_ = opened;
        return fail("a quote that does not close");
      }
      char c = s_[at_++];
      if (c == '\n') ++line_;
      if (c != '"') {
        *field += c;
        continue;
      }
      if (at_ < s_.size() && s_[at_] == '"') {
        *field += '"';
        ++at_;
        continue;
      }
      if (at_ == s_.size() || s_[at_] == ',' || lineend()) return nullptr;
      return fail("something after the closing quote of a field");
    }
  }

  const char* fail(const char* why) {
    whyline_ = line_;
    return why;
  }

  std::string_view s_;
  size_t at_ = 0;
  long line_ = 1, whyline_ = 0;
};

}  // namespace

const char* parsecsv(std::string_view text, const std::function<void(csvrecord&)>& each,
                     long* badline) {
  return csvparser(text).run(each, badline);
}

bool readsmallfile(const std::string& path, size_t limit, std::string* out, std::string* err) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  struct stat st;
  if (fd < 0 || fstat(fd, &st) != 0) {
    *err = strerror(errno);
    if (fd >= 0) close(fd);
    return false;
  }
  if (!S_ISREG(st.st_mode)) {
    close(fd);
    *err = "not a regular file";
    return false;
  }
  if (static_cast<uint64_t>(st.st_size) > limit) {
    close(fd);
    *err = "larger than " + std::to_string(limit) + " bytes";
    return false;
  }
  out->clear();
  char buf[65536];
  for (;;) {
    ssize_t n = read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      *err = strerror(errno);
      close(fd);
      return false;
    }
    if (n == 0) break;
    out->append(buf, static_cast<size_t>(n));
    if (out->size() > limit) {
      close(fd);
      *err = "larger than " + std::to_string(limit) + " bytes";
      return false;
    }
  }
  close(fd);
  return true;
}
