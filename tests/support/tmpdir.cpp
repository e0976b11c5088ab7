#include "support/tmpdir.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace {

// Gives the owner full access to `dir` and every directory below it, so
// that a tree a test made unreadable or unwritable can still be removed.
void unlock(const fs::path& dir) {
  std::error_code ec;
  fs::permissions(dir, fs::perms::owner_all, fs::perm_options::add, ec);
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    if (it->symlink_status(ec).type() == fs::file_type::directory) unlock(it->path());
  }
}

}  // namespace

tmpdir::tmpdir() {
  const char* base = std::getenv("TMPDIR");
  std::string tmpl =
      std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/pktav-test.XXXXXX";
  if (mkdtemp(tmpl.data()) == nullptr) {
    throw std::runtime_error("cannot make a directory " + tmpl + ": " + std::strerror(errno));
  }
  path_ = tmpl;
}

tmpdir::~tmpdir() {
  std::error_code ec;
  fs::remove_all(path_, ec);
  if (ec) {
    unlock(path_);
    fs::remove_all(path_, ec);
  }
}

std::string readfile(const std::string& path) {
  std::string data;
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  char buf[65536];
  for (ssize_t n; fd >= 0 && (n = read(fd, buf, sizeof buf)) != 0;) {
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) break;
    data.append(buf, static_cast<std::size_t>(n));
  }
  if (fd >= 0) close(fd);
  return data;
}

void writefile(const std::string& path, const std::string& data) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(data.data(), static_cast<std::streamsize>(data.size()));
  out.close();
  if (!out) ADD_FAILURE() << "cannot write " << path << ": " << std::strerror(errno);
}
