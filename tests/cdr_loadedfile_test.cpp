// How the loader tells what became of an hour file it loaded part of: the
// ways a file changes, each done to a real file, and what is made of it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <functional>
#include <string>

#include "cdr/loadedfile.h"
#include "support/tmpdir.h"

namespace {

const std::string lines =
    ":4201|12|5551234|040324090736|45|3||02\n"
    ":7|4202||040324093000|999999|||81\n"
    ":4203|13|0049301234|040324095959||1|4711|03\n";

// The position of a file loaded up to its last line feed, as the loader
// leaves it.
loadedfile loaded(const std::string& path) {
  std::string all = readfile(path);
  std::string part = all.substr(0, all.rfind('\n') + 1);
  loadedfile f = freshfile("f", 2024030409);
  f.bytes = static_cast<int64_t>(part.size());
  f.hash = fnv1a(fnvbasis, part);
  f.head = fnv1a(fnvbasis, part.substr(0, headbytes));
  filestatus st;
  EXPECT_TRUE(statusat(path, &st));
  takestatus(st, &f);
  return f;
}

void append(const std::string& path, const std::string& text) {
  writefile(path, readfile(path) + text);
}

// Another file, with this content, moved in at the path.
void replace(const std::string& path, const std::string& text) {
  writefile(path + ".new", text);
  ASSERT_EQ(rename((path + ".new").c_str(), path.c_str()), 0);
}

struct change {
  const char* what;
  std::function<void(const std::string&)> apply;
  verdict expected;
};

TEST(CdrLoadedFile, EachChangeIsToldApart) {
  const change changes[] = {
      {"nothing", [](const std::string&) {}, verdict::unchanged},
      {"a line appended", [](const std::string& p) { append(p, ":5|6||040324095959|1|||01\n"); },
       verdict::grown},
      {"a torn tail, then cut and a line appended as the packer does",
       [](const std::string& p) {
         append(p, ":5|6||0403");
         ASSERT_EQ(truncate(p.c_str(), static_cast<off_t>(lines.size())), 0);
         append(p, ":5|6||040324095959|1|||01\n");
       },
       verdict::grown},
      {"copied anew, as rsync does", [](const std::string& p) { replace(p, lines + ":8|9||x\n"); },
       verdict::grown},
      {"made again with other calls",
       [](const std::string& p) {
         ASSERT_EQ(unlink(p.c_str()), 0);
         writefile(p, ":4299|14||040324094000|3|||02\n");
       },
       verdict::madeagain},
      {"made again, empty so far",
       [](const std::string& p) {
         ASSERT_EQ(unlink(p.c_str()), 0);
         writefile(p, "");
       },
       verdict::madeagain},
      {"cut short", [](const std::string& p) { ASSERT_EQ(truncate(p.c_str(), 50), 0); },
       verdict::truncated},
      {"a digit changed in place",
       [](const std::string& p) {
         int fd = open(p.c_str(), O_WRONLY);
         ASSERT_EQ(pwrite(fd, "9", 1, 70), 1);
         close(fd);
       },
       verdict::edited},
      {"replaced by an edited copy",
       [](const std::string& p) {
         std::string edited = lines;
         edited[70] = '9';
         replace(p, edited);
       },
       verdict::replaced},
      {"replaced by a shorter copy",
       [](const std::string& p) { replace(p, lines.substr(0, 80)); }, verdict::replaced},
  };
  for (const change& c : changes) {
    SCOPED_TRACE(c.what);
    tmpdir dir;
    std::string path = dir.file("05_03_2024:09");
    writefile(path, lines + ":4201|1");  // a torn last line, not loaded
    loadedfile was = loaded(path);
    was.base = 1000;
    usleep(10000);  // a later modification time than the load's
    c.apply(path);
    int fd = open(path.c_str(), O_RDONLY);
    filestatus st;
    ASSERT_TRUE(statusof(fd, &st));
    loadedfile next;
    EXPECT_EQ(checkfile(fd, st, was, &next), c.expected);
    close(fd);
    if (c.expected == verdict::madeagain) {
      EXPECT_EQ(next.base, 1000 + static_cast<int64_t>(lines.size()));
      EXPECT_EQ(next.bytes, 0);
      EXPECT_EQ(next.hash, fnvbasis);
    } else {
      EXPECT_EQ(next.base, 1000);
      EXPECT_EQ(next.bytes, was.bytes);
    }
  }
}

}  // namespace
