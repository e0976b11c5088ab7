// End-to-end tests of tailclip, run as a user runs it on files in a fresh
// directory. Every run is also checked for scratch files left in /tmp.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "support/numbered.h"
#include "support/proc.h"
#include "support/tmpdir.h"

namespace {

namespace fs = std::filesystem;

const std::string tailclip = TAILCLIP;
const std::string harness = TAILCLIP_HARNESS;
const std::string usage =
    "Usage: " + tailclip + " [-n #_lines] -f file_to_trim\n\t default #_lines is 1000\n";
constexpr time_t oldtime = 1000000000;  // 2001-09-09, a modification time to keep

// "line <from>\n" to "line <to>\n".
std::string lines(int from, int to) {
  std::string text;
  for (int i = from; i <= to; ++i) text += "line " + std::to_string(i) + "\n";
  return text;
}

std::string joined(const std::vector<std::string>& words) {
  std::string text;
  for (const auto& w : words) text += "[" + w + "] ";
  return text;
}

// The scratch files in /tmp of the run with this process id: "trim<pid>",
// or "trim<pid>." and a suffix when that name was taken.
std::vector<std::string> scratchfiles(pid_t pid) {
  const std::string name = "trim" + std::to_string(pid);
  std::vector<std::string> found;
  for (const auto& entry : fs::directory_iterator("/tmp")) {
    const std::string base = entry.path().filename();
    if (base == name || base.rfind(name + ".", 0) == 0) found.push_back(entry.path());
  }
  return found;
}

struct stat statof(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(lstat(path.c_str(), &st), 0) << path << ": " << std::strerror(errno);
  return st;
}

void setmtime(const std::string& path, time_t when) {
  const timespec times[2] = {{when, 0}, {when, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

// The number a harness wrote into a file; 0 when it wrote nothing.
long numberin(const std::string& path) {
  const std::string text = readfile(path);
  return text.empty() ? 0 : std::stol(text);
}

std::string syserr(const std::string& call, const std::string& name, int err) {
  return call + "(2) of \"" + name + "\" has failed.\n" + call + ": " + std::strerror(err) + "\n";
}

class TailclipTest : public ::testing::Test {
 protected:
  // Runs tailclip, after the wrapper command `prefix` if one is given.
  static procresult launch(std::vector<std::string> args,
                           const std::vector<std::string>& prefix = {}) {
    args.insert(args.begin(), tailclip);
    args.insert(args.begin(), prefix.begin(), prefix.end());
    return runproc({.argv = args});
  }

  // Runs tailclip (the wrapper must exec it) and expects no scratch file left.
  static procresult run(const std::vector<std::string>& args,
                        const std::vector<std::string>& prefix = {}) {
    procresult r = launch(args, prefix);
    EXPECT_EQ(scratchfiles(r.pid), std::vector<std::string>{}) << describe(r);
    return r;
  }

  // Runs tailclip under the harness with `options`; sets `pid` to its id.
  procresult harnessed(const std::vector<std::string>& args, std::vector<std::string> options,
                       pid_t& pid) const {
    const std::string pidfile = dir.file("pid");
    options.insert(options.begin(), harness);
    options.insert(options.end(), {"-p", pidfile});
    const procresult r = launch(args, options);
    pid = static_cast<pid_t>(numberin(pidfile));
    return r;
  }

  // Runs tailclip and expects it to end silently with status 0.
  static void trim(const std::vector<std::string>& args) {
    const procresult r = run(args);
    EXPECT_TRUE(r.exited && r.code == 0 && r.err.empty()) << joined(args) << describe(r);
  }

  tmpdir dir;
  const std::string file = dir.file("log");
};

TEST_F(TailclipTest, BadCommandLinesGetTheUsageText) {
  writefile(file, lines(1, 2000));
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"-n", "5"},
      {"-f", ""},
      {"-f"},
      {"-f", file, "-n"},
      {"-x", "-f", file},
      {"-n", "-3", "-f", file},
      {"-f", file, "-n", "-1"},
  };
  for (const auto& args : cases) {
    const procresult r = run(args);
    EXPECT_TRUE(r.exited && r.code == 1) << joined(args) << describe(r);
    EXPECT_EQ(r.err, usage) << joined(args);
    EXPECT_EQ(r.out, "") << joined(args);
  }
  EXPECT_EQ(readfile(file), lines(1, 2000));
}

TEST_F(TailclipTest, FailedStatusQueryNamesTheFileAndTheError) {
  writefile(file, lines(1, 3));
  fs::create_symlink(dir.file("gone"), dir.file("dangling"));
  const struct {
    std::string name;
    int err;
  } cases[] = {
      {dir.file("missing"), ENOENT},
      {dir.file("dangling"), ENOENT},
      {file + "/below", ENOTDIR},
  };
  for (const auto& c : cases) {
    const procresult r = run({"-n", "0", "-f", c.name});
    EXPECT_TRUE(r.exited && r.code == 1) << describe(r);
    EXPECT_EQ(r.err, syserr("stat", c.name, c.err));
  }
}

TEST_F(TailclipTest, OnlyRegularFilesAreTrimmed) {
  ASSERT_EQ(mkfifo(dir.file("fifo").c_str(), 0600), 0);
  for (const std::string& name : {dir.path(), std::string("/dev/null"), dir.file("fifo")}) {
    const procresult r = run({"-n", "0", "-f", name});
    EXPECT_TRUE(r.exited && r.code == 1) << describe(r);
    EXPECT_EQ(r.err, name + " NOT a Regular File\n");
  }
}

TEST_F(TailclipTest, KeepsTheLastLines) {
  const struct {
    std::string content, count, kept;
  } cases[] = {
      {lines(1, 10), "3", lines(8, 10)},
      {lines(1, 10), "9", lines(2, 10)},
      {"a\nb\nc", "1", "b\nc"},  // text after the last line feed always stays
      {lines(1, 10), "0", ""},
      {"a\nb\nc", "0", "c"},
      {lines(1, 10), "none", ""},  // read the way atoi reads
      {lines(1, 10), "2lines", lines(9, 10)},
      {lines(1, 10), " +2", lines(9, 10)},
      {"\n\n\n\n\n", "2", "\n\n"},
      {std::string("a\0b\n\0\n\rc\n", 9), "2", std::string("\0\n\rc\n", 5)},
  };
  for (const auto& c : cases) {
    writefile(file, c.content);
    trim({"-n", c.count, "-f", file});
    EXPECT_EQ(readfile(file), c.kept) << "-n " << c.count;
  }
}

TEST_F(TailclipTest, KeepsTheLast1000LinesByDefault) {
  writefile(file, lines(1, 1500));
  trim({"-f", file});
  EXPECT_EQ(readfile(file), lines(501, 1500));
}

TEST_F(TailclipTest, FilesWithoutMoreThanNLinesAreNotRewritten) {
  const struct {
    std::string content, count;
  } cases[] = {
      {"", "0"},
      {"abc\n", "4"},      // not more bytes than lines to keep
      {lines(1, 5), "5"},  // more bytes, not more lines
      {"abc", "0"},        // no line feed at all
      {lines(1, 3), "99999999999999999999"},
  };
  for (const auto& c : cases) {
    writefile(file, c.content);
    setmtime(file, oldtime);
    trim({"-n", c.count, "-f", file});
    EXPECT_EQ(readfile(file), c.content) << "-n " << c.count;
    EXPECT_EQ(statof(file).st_mtime, oldtime) << "-n " << c.count;
  }
}

// Permissions show what is opened: a file of at most N bytes is never read.
TEST_F(TailclipTest, FilesThatCannotBeOpenedAreReportedAndLeftAlone) {
  std::vector<std::string> asuser;
  if (geteuid() == 0) {
    asuser = {harness, "-u", "65534"};  // root is refused nothing
    ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
    const procresult reach = runproc(
        {.argv = {harness, "-u", "65534", "/bin/sh", "-c", "test -x '" + dir.path() + "'"}});
    if (reach.code != 0) GTEST_SKIP() << "user 65534 cannot reach " << dir.path();
  }
  const struct {
    mode_t mode;
    std::string content, count;
    bool fails;
  } cases[] = {
      {0000, "abc\n", "4", false},
      {0000, lines(1, 10), "3", true},  // must be read: cannot be
      {0444, lines(1, 3), "3", false},  // read, not rewritten
      {0444, lines(1, 10), "3", true},  // must be rewritten: cannot be
  };
  for (const auto& c : cases) {
    writefile(file, c.content);
    ASSERT_EQ(chmod(file.c_str(), c.mode), 0);
    const procresult r = run({"-n", c.count, "-f", file}, asuser);
    EXPECT_TRUE(r.exited) << describe(r);
    EXPECT_EQ(r.code, c.fails ? 1 : 0) << describe(r);
    EXPECT_EQ(r.err, c.fails ? syserr("open", file, EACCES) : "");
    ASSERT_EQ(chmod(file.c_str(), 0600), 0);  // so that the test itself may read it
    EXPECT_EQ(readfile(file), c.content);
  }
}

TEST_F(TailclipTest, LongLinesAreKeptWholeInLittleMemory) {
  const auto kept = [] { return std::string(48 << 20, 'b') + "\n" + std::string(3 << 20, 'c'); };
  writefile(file, "first\n" + std::string(2 << 20, 'a') + "\n" + kept());
  const std::string rss = dir.file("rss");
  const procresult r = launch({"-n", "1", "-f", file}, {harness, "-m", rss});
  EXPECT_TRUE(r.exited && r.code == 0 && r.err.empty()) << describe(r);
  EXPECT_TRUE(readfile(file) == kept());
  // Holding the kept line in memory would take more than 48 MiB.
  EXPECT_LT(numberin(rss), 24 << 10) << "KiB";
}

TEST_F(TailclipTest, OwnerPermissionsAndHardLinksStay) {
  writefile(file, lines(1, 10));
  ASSERT_EQ(chmod(file.c_str(), 0640), 0);
  if (geteuid() == 0) {
    ASSERT_EQ(chown(file.c_str(), 65534, 65534), 0);
  }
  fs::create_hard_link(file, dir.file("hardlink"));
  const struct stat before = statof(file);
  trim({"-n", "2", "-f", file});
  const struct stat after = statof(file);
  EXPECT_EQ(after.st_ino, before.st_ino);
  EXPECT_EQ(after.st_nlink, 2u);
  EXPECT_EQ(after.st_mode & 07777, 0640u);
  EXPECT_EQ(after.st_uid, before.st_uid);
  EXPECT_EQ(after.st_gid, before.st_gid);
  EXPECT_EQ(readfile(dir.file("hardlink")), lines(9, 10));
}

TEST_F(TailclipTest, ASymbolicLinkIsFollowedToItsFile) {
  writefile(file, lines(1, 10));
  fs::create_symlink(file, dir.file("link"));
  trim({"-n", "1", "-f", dir.file("link")});
  EXPECT_EQ(readfile(file), lines(10, 10));
  EXPECT_TRUE(fs::is_symlink(dir.file("link")));
}

// Something already at the scratch name of a root run, such as a link to a
// file of the attacker's choice, must be neither followed nor overwritten.
TEST_F(TailclipTest, ATakenScratchNameIsNeverOpened) {
  const std::string victim = dir.file("victim");
  const struct {
    std::string plant;
    bool victimexists;
  } cases[] = {
      {"ln -s '" + victim + "' /tmp/trim$$", true},
      {"ln -s '" + victim + "' /tmp/trim$$", false},
      {"printf stale >/tmp/trim$$", false},
  };
  for (const auto& c : cases) {
    writefile(file, lines(1, 10));
    fs::remove(victim);
    if (c.victimexists) writefile(victim, "precious\n");
    const procresult r =
        launch({"-n", "2", "-f", file}, {"/bin/sh", "-c", c.plant + " && exec \"$0\" \"$@\""});
    const std::string planted = "/tmp/trim" + std::to_string(r.pid);
    const std::vector<std::string> left = scratchfiles(r.pid);
    const bool islink = fs::is_symlink(planted);
    const std::string stale = islink ? "" : readfile(planted);
    fs::remove(planted);

    EXPECT_TRUE(r.exited && r.code == 0 && r.err.empty()) << c.plant << describe(r);
    EXPECT_EQ(readfile(file), lines(9, 10));
    EXPECT_EQ(left, std::vector<std::string>{planted});
    EXPECT_EQ(fs::exists(victim), c.victimexists) << c.plant;
    if (c.victimexists) {
      EXPECT_EQ(readfile(victim), "precious\n");
    }
    if (!islink) {
      EXPECT_EQ(stale, "stale");
    }
  }
}

TEST_F(TailclipTest, ANameOver128CharactersIsRefusedNotCut) {
  const std::size_t room = 128 - (dir.path().size() + 1);
  if (dir.path().size() > 100) GTEST_SKIP() << "temporary directory name too long";
  const std::string name128 = dir.file(std::string(room, 'a'));
  const std::string name129 = name128 + "a";
  writefile(name128, lines(1, 10));
  writefile(name129, lines(1, 10));

  const procresult r = run({"-n", "2", "-f", name129});
  EXPECT_TRUE(r.exited && r.code == 1) << describe(r);
  EXPECT_EQ(r.err, "\"" + name129 + "\": file name longer than 128 characters\n");
  EXPECT_EQ(readfile(name128), lines(1, 10));  // the name cut to 128 characters
  EXPECT_EQ(readfile(name129), lines(1, 10));

  trim({"-n", "2", "-f", name128});
  EXPECT_EQ(readfile(name128), lines(9, 10));
}

// A scratch file that cannot be written (a full /tmp): nothing is cut.
TEST_F(TailclipTest, AFailedScratchCopyLeavesTheFileAlone) {
  writefile(file, lines(1, 20000));
  const procresult r =
      run({"-n", "10", "-f", file}, {"/bin/sh", "-c", "ulimit -f 8; exec \"$0\" \"$@\""});
  EXPECT_TRUE(r.exited && r.code == 1) << describe(r);
  EXPECT_EQ(r.err, syserr("write", "/tmp/trim" + std::to_string(r.pid), EFBIG));
  EXPECT_EQ(readfile(file), lines(1, 20000));
}

// Writes that fail once the file is cut: the scratch file must stay.
TEST_F(TailclipTest, AFailedRewriteKeepsTheScratchFileAndNamesIt) {
  const std::string before = lines(1, 5000);
  writefile(file, before);
  pid_t pid = 0;
  const procresult r = harnessed({"-n", "3000", "-f", file}, {"-l", "1000"}, pid);
  const std::string scratch = "/tmp/trim" + std::to_string(pid);
  const std::string saved = readfile(scratch);
  const struct stat st = statof(scratch);
  fs::remove(scratch);

  EXPECT_TRUE(r.exited && r.code == 1) << describe(r);
  EXPECT_EQ(r.err, syserr("write", file, EFBIG) + "the former content of \"" + file +
                       "\" is kept in \"" + scratch + "\"\n");
  EXPECT_TRUE(saved == before);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
  EXPECT_EQ(st.st_uid, geteuid());
  // Cut to the length of the lines kept, of which only the first 1000 bytes
  // could be written over its head.
  const std::string kept = lines(2001, 5000);
  EXPECT_TRUE(readfile(file) == kept.substr(0, 1000) + before.substr(1000, kept.size() - 1000));
}

// A signal to stop that comes as the file is cut waits for its new
// content; then it ends the run as it would have.
TEST_F(TailclipTest, AStopSignalDuringTheRewriteWaitsForTheNewContent) {
  for (const int sig : {SIGTERM, SIGINT, SIGHUP}) {
    writefile(file, lines(1, 5000));
    pid_t pid = 0;
    const procresult r = harnessed({"-n", "10", "-f", file}, {"-s", std::to_string(sig)}, pid);
    const std::vector<std::string> left = scratchfiles(pid);
    for (const auto& f : left) fs::remove(f);

    EXPECT_TRUE(r.exited && r.code == 128 + sig) << describe(r);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(readfile(file), lines(4991, 5000)) << "signal " << sig;
    EXPECT_EQ(left, std::vector<std::string>{});
  }
}

// Another program appends numbered lines to the file, each with a single
// write and O_APPEND, while it is trimmed again and again, the kept lines
// filling more than one block of tailclip's buffer. Every line stays whole
// and in order. Lines may go missing in one place only: those appended
// between tailclip's last read and its cut, which come right after what it
// cut the file to. Every other run goes under the harness, which names
// that length and holds tailclip there a moment, so that lines do go there.
TEST_F(TailclipTest, LinesAppendedWhileTrimmingStayWholeAndInOrderAndGoOnlyAtTheCut) {
  constexpr long keep = 2500, trims = 8;
  std::string start;
  for (long n = 1; n <= keep + 1000; ++n) start += numberedline(n);
  writefile(file, start);
  appender writer(file, keep + 1001, 20);
  const std::string cutfile = dir.file("cut");
  std::set<std::pair<long, long>> gaps;  // (last line before, first after) seen so far
  for (long trim = 0, from = writer.last(); trim < trims; ++trim, from = writer.last()) {
    while (writer.last() < from + 300 && writer.error() == 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    const bool traced = trim % 2 == 0;
    const std::vector<std::string> args = {"-n", std::to_string(keep), "-f", file};
    pid_t pid = 0;
    const procresult r = traced ? harnessed(args, {"-c", cutfile, "-w", "5"}, pid) : run(args);
    ASSERT_TRUE(r.exited && r.code == 0 && r.err.empty()) << describe(r);
    if (traced) {
      EXPECT_EQ(scratchfiles(pid), std::vector<std::string>{});
    }
    const std::size_t cut = traced ? static_cast<std::size_t>(numberin(cutfile)) : 0;
    // A line appended after the run shows where lines went missing, if any did.
    for (const long ended = writer.last(); writer.last() == ended && writer.error() == 0;) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }

    const std::vector<numbered> got = readnumbered(readfile(file));
    std::size_t before = 0, newgaps = 0;  // lines up to the cut, gaps new in this trim
    for (std::size_t i = 0; i < got.size(); ++i) {
      ASSERT_GT(got[i].number, 0) << "trim " << trim << ": line " << i << " is torn";
      if (got[i].end <= cut) ++before;
      if (i == 0 || got[i].number == got[i - 1].number + 1) continue;
      const std::pair<long, long> gap{got[i - 1].number, got[i].number};
      ASSERT_GT(gap.second, gap.first) << "trim " << trim << ": line " << i << " out of order";
      if (!gaps.insert(gap).second) continue;
      ++newgaps;
      const std::string missing = "trim " + std::to_string(trim) + ": lines " +
                                  std::to_string(gap.first + 1) + " to " +
                                  std::to_string(gap.second - 1) + " are missing";
      if (traced) {
        EXPECT_EQ(got[i - 1].end, cut) << missing;
      } else {
        EXPECT_GE(i, static_cast<std::size_t>(keep)) << missing;  // the cut comes after those
      }
    }
    EXPECT_LE(newgaps, 1u) << "trim " << trim;
    EXPECT_GE(traced ? before : got.size(), static_cast<std::size_t>(keep)) << "trim " << trim;
    ASSERT_EQ(writer.error(), 0) << std::strerror(writer.error());
  }
}

}  // namespace
