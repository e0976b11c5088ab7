// End-to-end tests of kelvostart and of the kelvo script shipped beside it.
//
// kelvostart is tested through a build of the same source that runs
// ./kelvo, so that each test writes its own kelvo in its working directory,
// and through one whose shell does not exist.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "support/proc.h"
#include "support/tmpdir.h"

namespace {

namespace fs = std::filesystem;

const std::string kelvostart = KELVOSTART;
const std::string localkelvo = KELVOSTART_LOCALKELVO;
const std::string noshell = KELVOSTART_NOSHELL;
const std::string kelvopath = KELVO_PATH;
const std::string kelvoscript = KELVO_SCRIPT;

class KelvostartTest : public ::testing::Test {
 protected:
  // Makes ./kelvo of the test directory a shell script with this body.
  void writekelvo(const std::string& body) {
    writefile(dir.file("kelvo"), "#!/bin/sh\n" + body + "\n");
    ASSERT_EQ(chmod(dir.file("kelvo").c_str(), 0755), 0);
  }

  tmpdir dir;
};

TEST_F(KelvostartTest, CallerSeesTheStatusOfKelvo) {
  for (int status : {0, 1, 42, 255}) {
    writekelvo("exit " + std::to_string(status));
    const procresult r = runproc({.argv = {localkelvo}, .cwd = dir.path()});
    EXPECT_TRUE(r.exited) << describe(r);
    EXPECT_EQ(r.code, status) << describe(r);
  }
}

TEST_F(KelvostartTest, ArgumentsAreNotPassedOn) {
  writekelvo("printf '%s|%s|%s\\n' \"$0\" \"$#\" \"$*\"");
  const procresult r =
      runproc({.argv = {localkelvo, "-x", "status", "two words"}, .cwd = dir.path()});
  EXPECT_EQ(r.out, "./kelvo|0|\n") << describe(r);
}

TEST_F(KelvostartTest, KelvoGetsTheCallersEnvironmentDirectoryStreamsAndUser) {
  writekelvo(
      "printf '%s|%s|%s|%s\\n' \"$KELVO_TEST\" \"${HOME-unset}\" \"$(pwd -P)\" \"$(id -u)\"\n"
      "cat\n"
      "echo to-stderr >&2");
  writefile(dir.file("input"), "from stdin\n");
  const procresult r = runproc({.argv = {localkelvo},
                                .env = {"KELVO_TEST=inherited"},
                                .unsetenv = {"HOME"},
                                .cwd = dir.path(),
                                .stdinkind = procspec::file,
                                .stdinpath = dir.file("input")});
  EXPECT_EQ(r.out, "inherited|unset|" + fs::canonical(dir.path()).string() + "|" +
                       std::to_string(getuid()) + "\nfrom stdin\n");
  EXPECT_EQ(r.err, "to-stderr\n");
}

TEST(KelvostartShell, ShellThatCannotRunGivesStatus255Silently) {
  const procresult r = runproc({.argv = {noshell, "ignored"}});
  EXPECT_TRUE(r.exited && r.code == 255) << describe(r);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "");
}

TEST(KelvostartShell, MissingKelvoIsReportedByTheShell) {
  if (access(kelvopath.c_str(), F_OK) == 0) GTEST_SKIP() << kelvopath << " is installed here";
  const procresult r = runproc({.argv = {kelvostart}});
  EXPECT_TRUE(r.exited && r.code == 127) << describe(r);
  EXPECT_NE(r.err.find(kelvopath), std::string::npos) << describe(r);
}

class KelvoTest : public ::testing::Test {
 protected:
  // Starts a process called `name`: sleep, run through a link of that name.
  childproc& startnamed(const std::string& name) {
    fs::create_symlink("/bin/sleep", dir.file(name));
    procs.push_back(std::make_unique<childproc>(procspec{.argv = {dir.file(name), "60"}}));
    return *procs.back();
  }

  static procresult kelvo(std::vector<std::string> args = {}) {
    args.insert(args.begin(), kelvoscript);
    return runproc({.argv = args});
  }

  static std::string running(const std::string& name, pid_t pid) {
    return name + " running, process " + std::to_string(pid) + "\n";
  }

  tmpdir dir;
  std::vector<std::unique_ptr<childproc>> procs;  // ended before `dir` goes
  const std::string unique = "kv" + std::to_string(getpid());
};

TEST_F(KelvoTest, FindsARunningPktav) {
  const childproc& pktav = startnamed("pktav-kelvotest");
  const procresult r = kelvo();
  EXPECT_TRUE(r.exited && r.code == 0) << describe(r);
  EXPECT_NE(r.out.find(running("pktav-kelvotest", pktav.pid())), std::string::npos) << r.out;
}

TEST_F(KelvoTest, MatchesOnlyNamesThatBeginWithTheName) {
  const std::string none = "no " + unique + " process running\n";
  procresult r = kelvo({unique});
  EXPECT_TRUE(r.exited && r.code == 1 && r.out == none) << describe(r);

  startnamed("x" + unique);
  r = kelvo({unique});
  EXPECT_TRUE(r.exited && r.code == 1 && r.out == none) << describe(r);

  childproc& match = startnamed(unique + "-d");
  r = kelvo({unique});
  EXPECT_TRUE(r.exited && r.code == 0) << describe(r);
  EXPECT_EQ(r.out, running(unique + "-d", match.pid()));

  match.signal(SIGKILL);
  match.wait();
  r = kelvo({unique});
  EXPECT_TRUE(r.exited && r.code == 1 && r.out == none) << describe(r);
}

TEST_F(KelvoTest, DoesNotMatchItself) {
  // A copy named like what it looks for; its process has that name.
  const std::string copy = dir.file(unique);
  fs::copy_file(kelvoscript, copy);
  fs::permissions(copy, fs::perms::owner_all);
  const procresult r = runproc({.argv = {copy, unique}});
  EXPECT_TRUE(r.exited && r.code == 1) << describe(r);
}

}  // namespace
