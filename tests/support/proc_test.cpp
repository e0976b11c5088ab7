// Tests of the test support: what a child starts with, and that a child
// which hangs or cannot run fails its test instead of hanging the run.

#include "support/proc.h"

#include <fcntl.h>
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "support/tmpdir.h"

namespace {

TEST(Proc, ChildHasOnlyTheStandardDescriptors) {
  const int leaked = fcntl(2, F_DUPFD, 50);  // no close-on-exec
  ASSERT_GE(leaked, 50);
  const std::string probe = "for fd in 0 1 2 " + std::to_string(leaked) +
                            "; do [ -e /proc/$$/fd/$fd ] && printf '%s ' $fd; done";
  const procresult r = runproc({.argv = {"/bin/sh", "-c", probe}});
  close(leaked);
  EXPECT_EQ(r.out, "0 1 2 ") << describe(r);
}

TEST(Proc, ChildHasDefaultSignalsAndAnEmptyMask) {
  sigset_t usr2, old;
  sigemptyset(&usr2);
  sigaddset(&usr2, SIGUSR2);
  sigprocmask(SIG_BLOCK, &usr2, &old);
  const auto was = signal(SIGUSR1, SIG_IGN);
  const procresult r =
      runproc({.argv = {"/bin/grep", "-E", "^Sig(Blk|Ign):", "/proc/self/status"}});
  signal(SIGUSR1, was);
  sigprocmask(SIG_SETMASK, &old, nullptr);
  // The signals between 31 and SIGRTMIN are the C library's own: no program
  // can set them, nor the harness reset them, and make(1) starts its
  // commands with them ignored.
  unsigned long long libc = 0;
  for (int sig = 32; sig < SIGRTMIN; ++sig) libc |= 1ULL << (sig - 1);
  unsigned long long blocked = ~0ULL, ignored = ~0ULL;
  ASSERT_EQ(sscanf(r.out.c_str(), "SigBlk:\t%llx\nSigIgn:\t%llx", &blocked, &ignored), 2)
      << describe(r);
  EXPECT_EQ(blocked, 0u) << r.out;
  EXPECT_EQ(ignored & ~libc, 0u) << r.out;
}

TEST(Proc, EnvironmentDirectoryAndPipedInput) {
  tmpdir dir;
  setenv("PROCTEST_DROP", "x", 1);
  const procresult r = runproc(
      {.argv = {"/bin/sh", "-c", "cat; echo \"$PROCTEST_SET ${PROCTEST_DROP-unset}\"; pwd -P"},
       .env = {"PROCTEST_SET=set"},
       .unsetenv = {"PROCTEST_DROP"},
       .cwd = dir.path(),
       .stdinkind = procspec::pipe},
      "piped\n");
  unsetenv("PROCTEST_DROP");
  EXPECT_EQ(r.out, "piped\nset unset\n" + std::filesystem::canonical(dir.path()).string() + "\n");
}

TEST(Proc, InputAChildDoesNotReadIsDropped) {
  const procresult r =
      runproc({.argv = {"/bin/true"}, .stdinkind = procspec::pipe}, std::string(1 << 20, 'x'));
  EXPECT_TRUE(r.exited && r.code == 0) << describe(r);
}

TEST(Proc, OutputCanGoToAPath) {
  tmpdir dir;
  const procresult r = runproc({.argv = {"/bin/echo", "hi"}, .stdoutpath = dir.file("out")});
  EXPECT_EQ(readfile(dir.file("out")), "hi\n");
  EXPECT_EQ(r.out, "");
}

TEST(Proc, BackgroundChildTakesInputAndSignals) {
  childproc cat({.argv = {"/bin/cat"}, .stdinkind = procspec::pipe});
  cat.writein("one\n");
  ASSERT_TRUE(cat.waitfor_out("one\n"));
  EXPECT_FALSE(cat.waitfor_out("one\n", 50, 2));
  cat.writein("one\n");
  ASSERT_TRUE(cat.waitfor_out("one\n", 10000, 2));
  cat.closein();
  const procresult done = cat.wait();
  EXPECT_TRUE(done.exited && done.code == 0 && done.out == "one\none\n") << describe(done);

  childproc sleeper({.argv = {"/bin/sh", "-c", "echo ready >&2; exec sleep 60"}});
  ASSERT_TRUE(sleeper.waitfor_err("ready\n"));
  sleeper.signal(SIGTERM);
  const procresult ended = sleeper.wait();
  EXPECT_TRUE(!ended.exited && ended.termsig == SIGTERM) << describe(ended);
}

TEST(Proc, AHangingChildFailsTheTestAndIsKilled) {
  procresult r;
  EXPECT_NONFATAL_FAILURE(r = runproc({.argv = {"/bin/sleep", "60"}}, "", 100),
                          "did not end within 100 ms");
  EXPECT_EQ(r.termsig, SIGKILL);
}

TEST(Proc, AProgramThatCannotRunFailsTheTest) {
  EXPECT_NONFATAL_FAILURE(runproc({.argv = {"/nonexistent/program"}}),
                          "cannot run /nonexistent/program: exec: No such file or directory");
}

}  // namespace
